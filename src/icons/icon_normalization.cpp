#include "icons/icon_normalization.h"

#include "platform/image/canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>

namespace mivora::icons {

namespace {

constexpr int kCornerWindowRadius = 4;
constexpr int kTransparentAlpha = 200;   // below this a pixel counts as transparent in the corner test
constexpr int kVisibleAlpha = 9;         // from this a pixel counts in the alpha box
constexpr int kFullCanvasPercent = 98;   // an alpha box this large counts as no box
constexpr int kContentTolerance = 14;    // colour distance that makes a pixel content
constexpr int kBackgroundTolerance = 22; // colour distance still counted as background
constexpr int kMaskOrigin = 100;
constexpr double kMaskCornerRadius = 185;

struct Window {
    int x0, x1, y0, y1;
    long long count() const {
        if (x1 < x0 || y1 < y0) return 0;
        return static_cast<long long>(x1 - x0 + 1) * (y1 - y0 + 1);
    }
};

// The corner windows in the order (0, 0), (w-1, 0), (w-1, h-1), (0, h-1), clipped to the bitmap.
std::vector<Window> cornerWindows(const IconBitmap& bitmap) {
    const int w = bitmap.width, h = bitmap.height;
    const int corners[4][2] = {{0, 0}, {w - 1, 0}, {w - 1, h - 1}, {0, h - 1}};
    std::vector<Window> windows;
    for (const auto& corner : corners) {
        windows.push_back(
            {std::max(corner[0] - kCornerWindowRadius, 0), std::min(corner[0] + kCornerWindowRadius, w - 1),
             std::max(corner[1] - kCornerWindowRadius, 0), std::min(corner[1] + kCornerWindowRadius, h - 1)});
    }
    return windows;
}

const uint8_t* pixelAt(const IconBitmap& bitmap, int x, int y) {
    return bitmap.pixels.data() + (static_cast<size_t>(y) * bitmap.width + x) * 4;
}

} // namespace

std::shared_ptr<const IconBitmap> drawnUnchanged(const image::Image& picture, int width, int height,
                                                 const image::Rect& destination) {
    if (destination.x != 0 || destination.y != 0 || destination.width != width ||
        destination.height != height)
        return nullptr;
    const IconBitmap* best = picture.bestRepresentation();
    if (best == nullptr || best->width != width || best->height != height || !best->isValid()) return nullptr;
    for (const auto& representation : picture.representations()) {
        if (representation.get() == best) return representation;
    }
    return nullptr;
}

std::optional<IconBitmap> drawImageIntoBitmap(const image::Image& picture, int width, int height,
                                              const image::Rect& destination) {
    try {
        if (auto unchanged = drawnUnchanged(picture, width, height, destination)) return *unchanged;
        image::Canvas canvas(width, height);
        canvas.drawImage(picture, destination);
        return canvas.bitmap();
    } catch (const image::ImageError&) {
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<IconBitmap> renderImageBitmap(const image::Image& picture, int side) {
    const double w = picture.size().width, h = picture.size().height;
    if (!(w > 0) || !(h > 0)) return std::nullopt;
    const double scale = std::max(side / w, side / h);
    const image::Rect destination{(side - w * scale) * 0.5, (side - h * scale) * 0.5, w * scale, h * scale};
    return drawImageIntoBitmap(picture, side, side, destination);
}

bool hasTransparentCorners(const IconBitmap& bitmap) {
    int transparentCorners = 0;
    for (const Window& window : cornerWindows(bitmap)) {
        long long total = window.count();
        if (total == 0) continue;
        long long transparent = 0;
        for (int y = window.y0; y <= window.y1; ++y) {
            for (int x = window.x0; x <= window.x1; ++x) {
                if (pixelAt(bitmap, x, y)[3] < kTransparentAlpha) ++transparent;
            }
        }
        if (transparent * 2 >= total) ++transparentCorners;
    }
    return transparentCorners > 2;
}

std::optional<RGBColour> cornerBackgroundColor(const IconBitmap& bitmap) {
    long long red = 0, green = 0, blue = 0, count = 0;
    for (const Window& window : cornerWindows(bitmap)) {
        for (int y = window.y0; y <= window.y1; ++y) {
            for (int x = window.x0; x <= window.x1; ++x) {
                const uint8_t* p = pixelAt(bitmap, x, y);
                red += p[0];
                green += p[1];
                blue += p[2];
                ++count;
            }
        }
    }
    if (count == 0) return std::nullopt;
    return RGBColour{static_cast<int>(red / count), static_cast<int>(green / count),
                     static_cast<int>(blue / count)};
}

void removeBorderBackground(IconBitmap& bitmap, const RGBColour& colour) {
    const int w = bitmap.width, h = bitmap.height;
    if (w < 1 || h < 1 || !bitmap.isValid()) return;
    uint8_t* pixels = bitmap.pixels.data();
    auto matches = [&](size_t index) {
        const uint8_t* p = pixels + index * 4;
        return std::abs(p[0] - colour.red) <= kBackgroundTolerance &&
               std::abs(p[1] - colour.green) <= kBackgroundTolerance &&
               std::abs(p[2] - colour.blue) <= kBackgroundTolerance;
    };
    // One flag per pixel, as bits: an eighth of the fresh pages of a byte each.
    std::vector<uint64_t> visited((static_cast<size_t>(w) * h + 63) / 64, 0);
    // The first-in first-out list holds only the moving front of the fill, not
    // every pixel it ever cleared: a deque gives its blocks back as they empty.
    std::deque<uint32_t> queue;
    auto visit = [&](int x, int y) {
        const size_t index = static_cast<size_t>(y) * w + x;
        uint64_t& word = visited[index / 64];
        const uint64_t bit = uint64_t{1} << (index % 64);
        if ((word & bit) || !matches(index)) return;
        word |= bit;
        queue.push_back(static_cast<uint32_t>(index));
    };
    for (int x = 0; x < w; ++x) {
        visit(x, 0);
        visit(x, h - 1);
    }
    for (int y = 0; y < h; ++y) {
        visit(0, y);
        visit(w - 1, y);
    }
    while (!queue.empty()) {
        const uint32_t index = queue.front();
        queue.pop_front();
        std::memset(pixels + static_cast<size_t>(index) * 4, 0, 4);
        const int x = static_cast<int>(index % w), y = static_cast<int>(index / w);
        if (x > 0) visit(x - 1, y);
        if (x + 1 < w) visit(x + 1, y);
        if (y > 0) visit(x, y - 1);
        if (y + 1 < h) visit(x, y + 1);
    }
}

std::optional<PixelRect> alphaBoundingBox(const IconBitmap& bitmap) {
    int minX = bitmap.width, minY = bitmap.height, maxX = -1, maxY = -1;
    for (int y = 0; y < bitmap.height; ++y) {
        const uint8_t* row = pixelAt(bitmap, 0, y);
        for (int x = 0; x < bitmap.width; ++x) {
            if (row[x * 4 + 3] < kVisibleAlpha) continue;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    if (maxX < 0) return std::nullopt;
    return PixelRect{minX, minY, maxX - minX + 1, maxY - minY + 1};
}

PixelRect contentBoundingBox(const IconBitmap& bitmap) {
    const long long fullArea = static_cast<long long>(bitmap.width) * bitmap.height;
    if (auto box = alphaBoundingBox(bitmap); box && box->area() < fullArea * kFullCanvasPercent / 100) {
        return *box;
    }
    const PixelRect whole{0, 0, bitmap.width, bitmap.height};
    if (fullArea == 0) return whole;
    const uint8_t* background = bitmap.pixels.data();
    int minX = bitmap.width, minY = bitmap.height, maxX = -1, maxY = -1;
    for (int y = 0; y < bitmap.height; ++y) {
        const uint8_t* row = pixelAt(bitmap, 0, y);
        for (int x = 0; x < bitmap.width; ++x) {
            const uint8_t* p = row + x * 4;
            if (std::abs(p[0] - background[0]) <= kContentTolerance &&
                std::abs(p[1] - background[1]) <= kContentTolerance &&
                std::abs(p[2] - background[2]) <= kContentTolerance) {
                continue;
            }
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    if (maxX < 0) return whole;
    return PixelRect{minX, minY, maxX - minX + 1, maxY - minY + 1};
}

std::optional<IconBitmap> cropBitmap(const PixelRect& rect, const IconBitmap& bitmap) {
    if (rect.width < 1 || rect.height < 1) return std::nullopt;
    IconBitmap cropped;
    try {
        cropped = IconBitmap::transparent(rect.width, rect.height);
    } catch (const image::ImageError&) {
        return std::nullopt;
    }
    // Only the part of the rectangle that lies inside the source is copied.
    const int fromX = std::max(rect.x, 0), toX = std::min(rect.x + rect.width, bitmap.width);
    const int fromY = std::max(rect.y, 0), toY = std::min(rect.y + rect.height, bitmap.height);
    if (fromX >= toX) return cropped;
    for (int y = fromY; y < toY; ++y) {
        std::memcpy(cropped.pixels.data() +
                        (static_cast<size_t>(y - rect.y) * rect.width + (fromX - rect.x)) * 4,
                    pixelAt(bitmap, fromX, y), static_cast<size_t>(toX - fromX) * 4);
    }
    return cropped;
}

std::optional<IconBitmap> resampleBitmap(int newWidth, int newHeight, const IconBitmap& bitmap) {
    auto picture = bitmapToImage(bitmap);
    if (!picture) return std::nullopt;
    return drawImageIntoBitmap(*picture, newWidth, newHeight,
                               {0, 0, static_cast<double>(newWidth), static_cast<double>(newHeight)});
}

std::optional<IconBitmap> aspectFitBitmap(int boxWidth, int boxHeight, const IconBitmap& bitmap) {
    if (bitmap.width < 1 || bitmap.height < 1) return std::nullopt;
    const double scale = std::min(static_cast<double>(boxWidth) / bitmap.width,
                                  static_cast<double>(boxHeight) / bitmap.height);
    const double fittedWidth = std::max(std::round(scale * bitmap.width), 1.0);
    const double fittedHeight = std::max(std::round(scale * bitmap.height), 1.0);
    if (fittedWidth > image::kMaxImageSide || fittedHeight > image::kMaxImageSide) return std::nullopt;
    return resampleBitmap(static_cast<int>(fittedWidth), static_cast<int>(fittedHeight), bitmap);
}

std::optional<std::vector<uint8_t>> roundedRectMask() {
    try {
        image::Canvas canvas(kCanvasSide, kCanvasSide);
        canvas.fill({0, 0, 0, 1});
        canvas.fillRoundedRect({kMaskOrigin, kMaskOrigin, kFootprintSide, kFootprintSide}, kMaskCornerRadius,
                               kMaskCornerRadius, {1, 1, 1, 1});
        IconBitmap bitmap = canvas.bitmap();
        std::vector<uint8_t> mask(static_cast<size_t>(kCanvasSide) * kCanvasSide);
        for (size_t i = 0; i < mask.size(); ++i)
            mask[i] = bitmap.pixels[i * 4];
        return mask;
    } catch (const image::ImageError&) {
        return std::nullopt;
    }
}

void applyMask(const std::vector<uint8_t>& mask, IconBitmap& bitmap) {
    if (mask.size() != static_cast<size_t>(bitmap.width) * bitmap.height || !bitmap.isValid()) return;
    uint8_t* p = bitmap.pixels.data();
    for (size_t i = 0; i < mask.size(); ++i, p += 4) {
        const unsigned m = mask[i];
        if (m == 255) continue;
        for (int c = 0; c < 4; ++c)
            p[c] = static_cast<uint8_t>(p[c] * m / 255);
    }
}

std::optional<image::Image> fitToReferenceShape(const IconBitmap& bitmap, const IconBitmap& referenceBitmap) {
    std::optional<IconBitmap> resized;
    const IconBitmap* working = &bitmap;
    if (bitmap.width != referenceBitmap.width || bitmap.height != referenceBitmap.height) {
        resized = resampleBitmap(referenceBitmap.width, referenceBitmap.height, bitmap);
        if (!resized) return std::nullopt;
        working = &*resized;
    }
    const PixelRect box = contentBoundingBox(referenceBitmap);
    auto cropped = cropBitmap(box, *working);
    if (!cropped) return std::nullopt;
    auto fitted = aspectFitBitmap(kFootprintSide, kFootprintSide, *cropped);
    if (!fitted) return std::nullopt;

    IconBitmap canvas = IconBitmap::transparent(kCanvasSide, kCanvasSide);
    // Integer division: an odd margin leaves its extra pixel on the right and at the bottom.
    const int offsetX = (kCanvasSide - fitted->width) / 2;
    const int offsetY = (kCanvasSide - fitted->height) / 2;
    const int fromI = std::max(-offsetX, 0), toI = std::min(fitted->width, kCanvasSide - offsetX);
    for (int j = std::max(-offsetY, 0); j < fitted->height && offsetY + j < kCanvasSide && fromI < toI; ++j) {
        std::memcpy(canvas.pixels.data() +
                        (static_cast<size_t>(offsetY + j) * kCanvasSide + offsetX + fromI) * 4,
                    pixelAt(*fitted, fromI, j), static_cast<size_t>(toI - fromI) * 4);
    }
    if (auto mask = roundedRectMask()) applyMask(*mask, canvas);
    return bitmapToImage(std::move(canvas));
}

std::optional<image::Image> bitmapToImage(IconBitmap bitmap) {
    if (bitmap.width < 1 || bitmap.height < 1 || !bitmap.isValid()) return std::nullopt;
    return image::Image(std::move(bitmap));
}

image::Image normalizeIconImage(const image::Image& picture, const std::optional<image::Image>& reference) {
    auto bitmap = renderImageBitmap(picture, kCanvasSide);
    if (!bitmap) return picture;
    if (!hasTransparentCorners(*bitmap)) {
        if (reference) {
            if (auto referenceBitmap = renderImageBitmap(*reference, kCanvasSide)) {
                if (auto fitted = fitToReferenceShape(*bitmap, *referenceBitmap)) return *fitted;
            }
        }
        if (auto colour = cornerBackgroundColor(*bitmap)) removeBorderBackground(*bitmap, *colour);
    }
    auto result = bitmapToImage(std::move(*bitmap));
    return result ? *result : picture;
}

} // namespace mivora::icons
