#include "icons/icon_normalization.h"

#include "platform/image/canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
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

inline uint64_t load64(const uint8_t* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

constexpr uint64_t kEightNear = 0x0101010101010101ull; // eight mask bytes of 1

// mask[i] = 1 where pixel i is within the background tolerance of the colour in
// R, G and B (alpha is not compared), else 0. Two pixels at a time in 16-bit
// lanes, so that the compiler keeps it in vector registers.
void nearColourMask(const uint8_t* pixels, size_t count, const RGBColour& colour, uint8_t* mask) {
    using Bytes8 = uint8_t __attribute__((vector_size(8)));
    using Lanes8 = int16_t __attribute__((vector_size(16)));
    const auto r = static_cast<int16_t>(colour.red), g = static_cast<int16_t>(colour.green),
               b = static_cast<int16_t>(colour.blue);
    const Lanes8 target = {r, g, b, 0, r, g, b, 0};
    const Lanes8 alphaLanes = {0, 0, 0, -1, 0, 0, 0, -1};
    size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        Bytes8 bytes;
        std::memcpy(&bytes, pixels + i * 4, sizeof bytes);
        const Lanes8 difference = __builtin_convertvector(bytes, Lanes8) - target;
        const Lanes8 near =
            ((difference <= kBackgroundTolerance) & (difference >= -kBackgroundTolerance)) | alphaLanes;
        uint64_t perPixel[2];
        std::memcpy(perPixel, &near, sizeof perPixel);
        mask[i] = perPixel[0] == ~uint64_t{0};
        mask[i + 1] = perPixel[1] == ~uint64_t{0};
    }
    for (; i < count; ++i) {
        const uint8_t* p = pixels + i * 4;
        mask[i] = std::abs(p[0] - colour.red) <= kBackgroundTolerance &&
                  std::abs(p[1] - colour.green) <= kBackgroundTolerance &&
                  std::abs(p[2] - colour.blue) <= kBackgroundTolerance;
    }
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
    // Which pixels are clearable is decided by their colour alone (the pixels
    // the fill has cleared are never looked at again), so the whole set is
    // known up front, in one pass the compiler can vectorise: one byte per
    // pixel, 1 for near the colour, then 2 once cleared.
    enum : uint8_t { kOther = 0, kNear = 1, kCleared = 2 };
    const size_t count = static_cast<size_t>(w) * h;
    std::unique_ptr<uint8_t[]> state(new uint8_t[count]);
    nearColourMask(pixels, count, colour, state.get());
    // A fill by runs of a row: only background connected to the border
    // (through left, right, up and down) is cleared, whatever the order.
    struct Run {
        int y, from, to; // a stretch of row y whose near pixels join the fill
    };
    std::vector<Run> pending;
    pending.reserve(static_cast<size_t>(2 * (w + h)));
    // Clears the whole run of near pixels through (x, y); returns its last x.
    auto clearRun = [&](int x, int y) {
        uint8_t* row = state.get() + static_cast<size_t>(y) * w;
        int from = x, to = x;
        // Eight mask bytes at a time across the long runs of a flat background.
        while (from >= 8 && load64(row + from - 8) == kEightNear)
            from -= 8;
        while (from > 0 && row[from - 1] == kNear)
            --from;
        while (to + 8 < w && load64(row + to + 1) == kEightNear)
            to += 8;
        while (to + 1 < w && row[to + 1] == kNear)
            ++to;
        std::memset(row + from, kCleared, static_cast<size_t>(to - from + 1));
        std::memset(pixels + (static_cast<size_t>(y) * w + from) * 4, 0,
                    static_cast<size_t>(to - from + 1) * 4);
        if (y > 0) pending.push_back({y - 1, from, to});
        if (y + 1 < h) pending.push_back({y + 1, from, to});
        return to;
    };
    auto drain = [&] {
        while (!pending.empty()) {
            const Run run = pending.back();
            pending.pop_back();
            const uint8_t* row = state.get() + static_cast<size_t>(run.y) * w;
            for (int x = run.from; x <= run.to;) {
                const void* near = std::memchr(row + x, kNear, static_cast<size_t>(run.to - x + 1));
                if (near == nullptr) break;
                x = clearRun(static_cast<int>(static_cast<const uint8_t*>(near) - row), run.y) + 1;
            }
        }
    };
    auto seed = [&](int x, int y) {
        if (state[static_cast<size_t>(y) * w + x] != kNear) return;
        clearRun(x, y);
        drain();
    };
    for (int x = 0; x < w; ++x) {
        seed(x, 0);
        seed(x, h - 1);
    }
    for (int y = 0; y < h; ++y) {
        seed(0, y);
        seed(w - 1, y);
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
