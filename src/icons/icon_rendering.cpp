#include "icons/icon_rendering.h"

#include "icons/icon_normalization.h"
#include "platform/image/png.h"

#include <algorithm>
#include <cmath>

namespace mivora::icons {

std::shared_ptr<const image::Bitmap> LocalCollectionIconStager::renderBitmap(const image::Image& picture,
                                                                             std::optional<int> side) {
    long long width = 0, height = 0;
    if (side) {
        width = height = *side;
    } else {
        // Truncated toward zero; anything beyond the size cap fails in the drawing below.
        const auto truncated = [](double points) {
            if (!std::isfinite(points)) return 0LL;
            return static_cast<long long>(std::clamp(points, -1.0, image::kMaxImageSide + 1.0));
        };
        width = truncated(picture.size().width);
        height = truncated(picture.size().height);
    }
    if (width <= 0 || height <= 0) return nullptr;
    if (width > image::kMaxImageSide || height > image::kMaxImageSide) return nullptr;
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    const image::Rect whole{0, 0, static_cast<double>(w), static_cast<double>(h)};
    if (auto unchanged = drawnUnchanged(picture, w, h, whole)) return unchanged;
    auto bitmap = drawImageIntoBitmap(picture, w, h, whole);
    if (!bitmap) return nullptr;
    return std::make_shared<const image::Bitmap>(std::move(*bitmap));
}

std::optional<std::string> LocalCollectionIconStager::renderPNG(const image::Image& picture,
                                                                std::optional<int> side) {
    auto bitmap = renderBitmap(picture, side);
    if (!bitmap) return std::nullopt;
    try {
        return image::encodePNG(*bitmap);
    } catch (const image::ImageError&) {
        return std::nullopt;
    }
}

} // namespace mivora::icons
