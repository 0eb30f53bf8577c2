// PNG rendering of any image: drawn stretched over a square bitmap of a given
// side, or over a bitmap of the image's own point size.
#pragma once

#include "platform/image/image.h"

#include <optional>
#include <string>

namespace mivora::icons {

struct LocalCollectionIconStager {
    // PNG bytes, or nothing when the size is not above 0 or drawing or encoding fails.
    static std::optional<std::string> renderPNG(const image::Image& picture, std::optional<int> side);
};

} // namespace mivora::icons
