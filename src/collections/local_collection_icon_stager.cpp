#include "collections/local_collection_icon_stager.h"

#include "collections/local_collection_store.h"
#include "core/containment.h"
#include "core/paths.h"
#include "icons/icon_extraction.h"
#include "icons/icon_normalization.h"
#include "icons/icon_rendering.h"
#include "platform/environment.h"
#include "platform/filesystem.h"
#include "platform/image/jpeg.h"
#include "platform/image/png.h"
#include "platform/uuid.h"

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

bool isOpaque(const image::Bitmap& bitmap, int x, int y) {
    if (x < 0 || y < 0 || x >= bitmap.width || y >= bitmap.height || !bitmap.isValid()) return false;
    uint8_t alpha = bitmap.pixels[(static_cast<size_t>(y) * bitmap.width + x) * 4 + 3];
    return alpha / 255.0 > LocalCollectionIconStager::kOpaqueCornerAlpha;
}

} // namespace

std::optional<std::string> LocalCollectionIconStager::validate(std::string_view pngData) {
    auto decoded = decodeBitmap(pngData);
    if (!decoded) return "Staged image is not a decodable PNG.";
    const image::Bitmap& bitmap = decoded->bitmap;
    if (bitmap.width != kRequiredSide || bitmap.height != kRequiredSide) {
        return "Icon is " + std::to_string(bitmap.width) + "x" + std::to_string(bitmap.height) +
               ", expected " + std::to_string(kRequiredSide) + "x" + std::to_string(kRequiredSide) + ".";
    }
    if (!decoded->hasAlpha) return "Icon has no alpha channel — it would show as a square tile in the Dock.";
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

std::optional<image::Image> LocalCollectionIconStager::referenceImage(const core::InstalledApp& app) {
    std::string temporary = platform::joinPath(platform::temporaryDirectory(),
                                               "mivora-bundled-" + platform::newUUIDString() + ".png");
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

LocalCollectionIconStager::StagedIcon
LocalCollectionIconStager::stage(const std::string& imagePath, const std::string& collectionDirectory,
                                 const std::string& appSlug, bool dark, bool raw, bool force,
                                 const std::optional<image::Image>& reference) {
    const std::string fileName = appSlug + (dark ? "@dark.png" : ".png");
    const std::string path = core::resolveAppPath(imagePath);
    std::optional<image::Image> loaded = image::loadImage(path);
    if (!loaded) throw LocalCollectionError::badImage("Could not read image at " + path);

    // The untouched input, for debugging a bad result; only when raw/ is there.
    auto rawFile = core::containedPath(
        platform::joinPath(platform::joinPath(collectionDirectory, "raw"), fileName), collectionDirectory);
    if (auto rawBytes = icons::LocalCollectionIconStager::renderPNG(*loaded, std::nullopt);
        rawBytes && rawFile) {
        try {
            platform::writeFileAtomically(*rawFile, *rawBytes);
        } catch (const platform::FileSystemError&) {
        }
    }

    image::Image picture = raw ? *loaded : icons::normalizeIconImage(*loaded, reference);
    auto png = icons::LocalCollectionIconStager::renderPNG(picture, kRequiredSide);
    if (!png) throw LocalCollectionError::badImage("Could not encode normalized PNG for " + appSlug);

    std::optional<std::string> warning = validate(*png);
    if (warning && !force)
        throw LocalCollectionError::badImage(*warning +
                                             " Re-generate the icon, or pass --force to stage it anyway.");

    const std::string iconsFolder = platform::joinPath(collectionDirectory, "icons");
    platform::createDirectories(iconsFolder);
    // A link at icons/ (or at the file) would carry the write out of the collection.
    auto output = core::containedPath(platform::joinPath(iconsFolder, fileName), collectionDirectory);
    if (!output) {
        throw platform::FileSystemError("Cannot write " + platform::joinPath(iconsFolder, fileName) +
                                        ": it lies outside the collection folder (a symbolic link)");
    }
    platform::writeFileAtomically(*output, *png);
    return {*output, !raw, warning};
}

} // namespace mivora::collections
