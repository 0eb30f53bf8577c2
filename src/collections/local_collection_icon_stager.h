// The icon stager: turns one styled image into the Dock-ready PNG a local
// collection keeps in icons/, keeps the untouched input in raw/, and refuses
// an icon that would show as a square tile in the Dock (the quality gate)
// unless the caller forces it. Drawing and normalisation are the icon
// engine's (icons::normalizeIconImage, icons::LocalCollectionIconStager::renderPNG).
#pragma once

#include "apps/installed_app.h"
#include "platform/filesystem.h"
#include "platform/image/image.h"

#include <optional>
#include <string>
#include <string_view>

namespace mivora::collections {

struct LocalCollectionIconStager {
    static constexpr int kRequiredSide = 1024;
    // A corner counts as opaque above this alpha (0.85 itself is not opaque).
    static constexpr double kOpaqueCornerAlpha = 0.85;

    struct StagedIcon {
        std::string outputURL;              // path of icons/<appSlug>.png, or icons/<appSlug>@dark.png
        bool normalized = true;             // false when the image was taken as it is (--raw)
        std::optional<std::string> warning; // the gate's finding, staged anyway with --force
    };

    // The quality gate: the first finding as a message, or nothing when the PNG
    // is 1024 x 1024 with an alpha channel and at least one transparent corner.
    static std::optional<std::string> validate(std::string_view pngData);

    // The icon inside the application's bundle, drawn at 1024 pixels, to fit
    // normalised images into the same footprint; nothing when it cannot be
    // extracted. The temporary file it passes through is always removed.
    static std::optional<image::Image> referenceImage(const apps::InstalledApp& app);

    // One image made ready for a collection, all its pixel work done, before
    // anything is written: the staged PNG, the raw copy's bytes (when the
    // collection keeps raw/), and the gate's finding.
    struct PreparedIcon {
        std::string fileName; // <appSlug>.png or <appSlug>@dark.png
        std::string png;
        std::optional<std::string> rawBytes;
        bool normalized = true;
        std::optional<std::string> warning; // the gate's finding
        std::optional<std::string> refusal; // its refusal, without `force`
    };

    // Prepares the image at `imagePath` (made absolute) for `appSlug` in
    // `collectionDirectory`. Throws LocalCollectionError::badImage for an
    // unreadable image and one that does not render.
    static PreparedIcon prepare(const std::string& imagePath, const std::string& collectionDirectory,
                                const std::string& appSlug, bool dark, bool raw, bool force,
                                const std::optional<image::Image>& reference);

    // A prepared icon's files written and flushed in `collectionDirectory`
    // ahead of the collection's turn, for write() to put in place within it:
    // only into folders that are there already; whatever cannot be written so
    // is left to write(). Never throws.
    struct WrittenAhead {
        std::optional<platform::PreparedWrite> raw, icon;
    };
    static WrittenAhead writeAhead(const PreparedIcon& prepared, const std::string& collectionDirectory);

    // Writes a prepared icon into `collectionDirectory`: the raw copy first
    // (best effort), then, unless the gate refused it (LocalCollectionError::badImage),
    // the staged icon; each by putting in place what `ahead` wrote for that very
    // file, and otherwise afresh. Throws FileSystemError when the staged icon cannot be written.
    static StagedIcon write(const PreparedIcon& prepared, const std::string& collectionDirectory,
                            WrittenAhead* ahead = nullptr);
};

} // namespace mivora::collections
