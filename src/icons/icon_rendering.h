// PNG rendering of any image: drawn stretched over a square bitmap of a given
// side, or over a bitmap of the image's own point size.
#pragma once

#include "platform/image/image.h"

#include <memory>
#include <optional>
#include <string>

namespace mivora::icons {

struct LocalCollectionIconStager {
    // The bitmap that renderPNG encodes: the picture drawn stretched over side x side
    // pixels, or over its own point size. Shared with the picture itself when drawing
    // would not change a pixel. Nothing when the size is not above 0 or drawing fails.
    static std::shared_ptr<const image::Bitmap> renderBitmap(const image::Image& picture,
                                                             std::optional<int> side);
    // PNG bytes, or nothing when the size is not above 0 or drawing or encoding fails.
    static std::optional<std::string> renderPNG(const image::Image& picture, std::optional<int> side);
};

} // namespace mivora::icons
