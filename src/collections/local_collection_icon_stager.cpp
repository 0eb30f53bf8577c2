#include "collections/local_collection_icon_stager.h"

#include "collections/local_collection_store.h"
#include "core/containment.h"
#include "core/paths.h"
#include "icons/icon_extraction.h"
#include "icons/icon_normalization.h"
#include "icons/icon_rendering.h"
#include "platform/filesystem.h"
#include "platform/image/jpeg.h"
#include "platform/image/png.h"
#include "platform/parallel_work.h"

#include <array>
#include <utility>

namespace mivora::collections {

namespace {

struct DecodedBitmap {
    image::Bitmap bitmap;
    bool hasAlpha = false;
};

// The staged bytes as a bitmap: a PNG, or a JPEG (which never has alpha).
std::optional<DecodedBitmap> decodeBitmap(std::string_view bytes) {
    try {
        if (image::hasPNGSignature(bytes))
            return DecodedBitmap{image::decodePNG(bytes), image::pngHasAlpha(bytes)};
        if (image::hasJPEGSignature(bytes)) return DecodedBitmap{image::decodeJPEG(bytes), false};
    } catch (const image::ImageError&) {
    }
    return std::nullopt;
}

std::optional<std::string> encoded(const image::Bitmap* bitmap) {
    if (bitmap == nullptr) return std::nullopt;
    try {
        return image::encodePNG(*bitmap);
    } catch (const image::ImageError&) {
        return std::nullopt;
    }
}

bool sameBitmap(const image::Bitmap& a, const image::Bitmap& b) {
    return &a == &b || (a.width == b.width && a.height == b.height && a.pixels == b.pixels);
}

bool isOpaque(const image::Bitmap& bitmap, int x, int y) {
    if (x < 0 || y < 0 || x >= bitmap.width || y >= bitmap.height || !bitmap.isValid()) return false;
    uint8_t alpha = bitmap.pixels[(static_cast<size_t>(y) * bitmap.width + x) * 4 + 3];
    return alpha / 255.0 > LocalCollectionIconStager::kOpaqueCornerAlpha;
}

// The checks after decoding, on the bitmap and whether its file has an alpha channel.
std::optional<std::string> validateBitmap(const image::Bitmap& bitmap, bool hasAlpha) {
    constexpr int kRequiredSide = LocalCollectionIconStager::kRequiredSide;
    if (bitmap.width != kRequiredSide || bitmap.height != kRequiredSide) {
        return "Icon is " + std::to_string(bitmap.width) + "x" + std::to_string(bitmap.height) +
               ", expected " + std::to_string(kRequiredSide) + "x" + std::to_string(kRequiredSide) + ".";
    }
    if (!hasAlpha) return "Icon has no alpha channel — it would show as a square tile in the Dock.";
    const int w = bitmap.width;
    const std::array<std::pair<int, int>, 4> corners = {{{0, 0}, {w - 1, 0}, {0, w - 1}, {w - 1, w - 1}}};
    bool allOpaque = true;
    for (const auto& [x, y] : corners)
        allOpaque = allOpaque && isOpaque(bitmap, x, y);
    if (allOpaque) {
        return "Icon corners are fully opaque — it would show as a square tile in the Dock (missing squircle "
               "alpha clip).";
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> LocalCollectionIconStager::validate(std::string_view pngData) {
    auto decoded = decodeBitmap(pngData);
    if (!decoded) return "Staged image is not a decodable PNG.";
    return validateBitmap(decoded->bitmap, decoded->hasAlpha);
}

std::optional<image::Image> LocalCollectionIconStager::referenceImage(const apps::InstalledApp& app) {
    std::string temporary = platform::newTemporaryPath("mivora-bundled-", ".png");
    std::optional<image::Image> reference;
    try {
        icons::extractAppIcon(app, temporary, kRequiredSide);
        reference = image::loadImage(temporary);
    } catch (const std::exception&) {
        // No reference: normalisation then works from the image alone.
    }
    platform::removeItemQuietly(temporary);
    return reference;
}

LocalCollectionIconStager::PreparedIcon
LocalCollectionIconStager::prepare(const std::string& imagePath, const std::string& collectionDirectory,
                                   const std::string& appSlug, bool dark, bool raw, bool force,
                                   const std::optional<image::Image>& reference) {
    PreparedIcon prepared;
    prepared.fileName = appSlug + (dark ? "@dark.png" : ".png");
    prepared.normalized = !raw;
    const std::string path = core::resolveAppPath(imagePath);
    std::optional<image::Image> loaded = image::loadImage(path);
    if (!loaded) throw LocalCollectionError::badImage("Could not read image at " + path);

    // The raw copy (the untouched input, for debugging a bad result; only when
    // raw/ is there) is encoded on a thread of its own while the picture is
    // normalised and encoded here.
    const bool keepsRaw =
        core::containedPath(
            platform::joinPath(platform::joinPath(collectionDirectory, "raw"), prepared.fileName),
            collectionDirectory)
            .has_value();
    auto rawBitmap =
        keepsRaw ? icons::LocalCollectionIconStager::renderBitmap(*loaded, std::nullopt) : nullptr;
    platform::BackgroundWork rawEncoding([&] { prepared.rawBytes = encoded(rawBitmap.get()); });

    image::Image picture = raw ? *loaded : icons::normalizeIconImage(*loaded, reference);
    auto bitmap = icons::LocalCollectionIconStager::renderBitmap(picture, kRequiredSide);
    // A picture that comes out of staging as it went in (already Dock-ready, or --raw
    // at 1024) is encoded once for both files.
    const bool unchanged = bitmap && rawBitmap && sameBitmap(*bitmap, *rawBitmap);
    std::optional<std::string> png = unchanged ? std::nullopt : encoded(bitmap.get());
    rawEncoding.wait();
    rawBitmap.reset();
    if (unchanged) png = prepared.rawBytes ? prepared.rawBytes : encoded(bitmap.get());
    if (!png) throw LocalCollectionError::badImage("Could not encode normalized PNG for " + appSlug);
    prepared.png = std::move(*png);

    // The encoder always writes 8-bit RGBA of exactly the bitmap's size and alpha,
    // so the gate reads the bitmap rather than decoding the bytes again.
    prepared.warning = validateBitmap(*bitmap, /*hasAlpha=*/true);
    if (prepared.warning && !force)
        prepared.refusal = *prepared.warning + " Re-generate the icon, or pass --force to stage it anyway.";
    return prepared;
}

namespace {

// Where a prepared icon's raw copy and staged icon go in `collectionDirectory`:
// nothing for a path that a link carries out of the collection (or, for the raw
// copy, without raw/).
std::optional<std::string> rawFileOf(const LocalCollectionIconStager::PreparedIcon& prepared,
                                     const std::string& collectionDirectory) {
    return core::containedPath(
        platform::joinPath(platform::joinPath(collectionDirectory, "raw"), prepared.fileName),
        collectionDirectory);
}

std::optional<std::string> iconFileOf(const LocalCollectionIconStager::PreparedIcon& prepared,
                                      const std::string& collectionDirectory) {
    return core::containedPath(
        platform::joinPath(platform::joinPath(collectionDirectory, "icons"), prepared.fileName),
        collectionDirectory);
}

// Puts in place what was written ahead for `path`; false when nothing was, or
// it was written for another file or into a folder no longer there.
bool putInPlace(std::optional<platform::PreparedWrite>* ahead, const std::string& path) {
    if (ahead == nullptr || !*ahead || (*ahead)->path() != path) return false;
    const bool done = (*ahead)->commit();
    ahead->reset();
    return done;
}

} // namespace

LocalCollectionIconStager::WrittenAhead
LocalCollectionIconStager::writeAhead(const PreparedIcon& prepared, const std::string& collectionDirectory) {
    WrittenAhead ahead;
    try {
        auto rawFile = rawFileOf(prepared, collectionDirectory);
        if (rawFile && prepared.rawBytes) ahead.raw.emplace(*rawFile, *prepared.rawBytes);
    } catch (const std::exception&) {
    }
    try {
        auto iconFile = iconFileOf(prepared, collectionDirectory);
        if (!prepared.refusal && iconFile) ahead.icon.emplace(*iconFile, prepared.png);
    } catch (const std::exception&) {
    }
    return ahead;
}

LocalCollectionIconStager::StagedIcon LocalCollectionIconStager::write(const PreparedIcon& prepared,
                                                                       const std::string& collectionDirectory,
                                                                       WrittenAhead* ahead) {
    auto rawFile = rawFileOf(prepared, collectionDirectory);
    if (rawFile && prepared.rawBytes && !putInPlace(ahead ? &ahead->raw : nullptr, *rawFile)) {
        try {
            platform::writeFileAtomically(*rawFile, *prepared.rawBytes);
        } catch (const platform::FileSystemError&) {
        }
    }
    if (prepared.refusal) throw LocalCollectionError::badImage(*prepared.refusal);

    const std::string iconsFolder = platform::joinPath(collectionDirectory, "icons");
    platform::createDirectories(iconsFolder);
    // A link at icons/ (or at the file) would carry the write out of the collection.
    auto output = iconFileOf(prepared, collectionDirectory);
    if (!output) {
        throw platform::FileSystemError("Cannot write " + platform::joinPath(iconsFolder, prepared.fileName) +
                                        ": it lies outside the collection folder (a symbolic link)");
    }
    if (!putInPlace(ahead ? &ahead->icon : nullptr, *output))
        platform::writeFileAtomically(*output, prepared.png);
    return {*output, prepared.normalized, prepared.warning};
}

} // namespace mivora::collections
