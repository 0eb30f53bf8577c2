// The icon stager: turns one styled image into the Dock-ready PNG a local
// collection keeps in icons/, keeps the untouched input in raw/, and refuses
// an icon that would show as a square tile in the Dock (the quality gate)
// unless the caller forces it. Drawing and normalisation are the icon
// engine's (icons::normalizeIconImage, icons::LocalCollectionIconStager::renderPNG).
#pragma once

#include "apps/installed_app.h"
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

    // Stages the image at `imagePath` (made absolute) into `collectionDirectory`
    // for `appSlug`. Throws LocalCollectionError::badImage for an unreadable
    // image, one that does not render, and a gate refusal without `force`;
    // FileSystemError when the staged icon cannot be written.
    static StagedIcon stage(const std::string& imagePath, const std::string& collectionDirectory,
                            const std::string& appSlug, bool dark, bool raw, bool force,
                            const std::optional<image::Image>& reference);
};

} // namespace mivora::collections
