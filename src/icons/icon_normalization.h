// Icon bitmap normalisation: turns any icon picture into a Dock-ready
// 1024 x 1024 image with a transparent background. One of three treatments:
//   - the picture already has transparent corners: kept as drawn;
//   - a reference icon is given: cut to the reference's content box, fitted
//     into an 824-pixel footprint, clipped by a rounded-square mask;
//   - otherwise: the flat background seen in the corners is flood-filled away
//     from the border.
// The steps are declared here too so that they can be tested one by one.
#pragma once

#include "platform/image/canvas.h"
#include "platform/image/image.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace mivora::icons {

// The working buffer: R, G, B, A bytes premultiplied, rows top to bottom.
using IconBitmap = image::Bitmap;

inline constexpr int kCanvasSide = 1024;
inline constexpr int kFootprintSide = 824;

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    long long area() const { return static_cast<long long>(width) * height; }
    bool operator==(const PixelRect&) const = default;
};

struct RGBColour {
    int red = 0;
    int green = 0;
    int blue = 0;
    bool operator==(const RGBColour&) const = default;
};

// Always an image: the normalised one, or `picture` unchanged when it cannot be rendered.
image::Image normalizeIconImage(const image::Image& picture, const std::optional<image::Image>& reference);

// --- the steps -----------------------------------------------------------------

// The picture's own bitmap when drawing it over `destination` on a fresh width x height
// canvas would give the same bytes (its size, at the origin: source-over onto
// transparency copies), so that callers can skip the drawing surface; else nothing.
std::shared_ptr<const IconBitmap> drawnUnchanged(const image::Image& picture, int width, int height,
                                                 const image::Rect& destination);
// A width x height bitmap, transparent, with the image drawn over `destination`;
// nothing when the bitmap cannot be made.
std::optional<IconBitmap> drawImageIntoBitmap(const image::Image& picture, int width, int height,
                                              const image::Rect& destination);
// The picture scaled to cover a side x side canvas, centred (overflow cut off).
std::optional<IconBitmap> renderImageBitmap(const image::Image& picture, int side);
// More than two of the four 9 x 9 corner windows (clipped) are at least half transparent.
bool hasTransparentCorners(const IconBitmap& bitmap);
// Mean colour of the four corner windows, by integer division.
std::optional<RGBColour> cornerBackgroundColor(const IconBitmap& bitmap);
// Clears every pixel connected to the border through pixels close to `colour`.
void removeBorderBackground(IconBitmap& bitmap, const RGBColour& colour);
// Smallest rectangle holding every pixel of alpha 9 or more.
std::optional<PixelRect> alphaBoundingBox(const IconBitmap& bitmap);
// The alpha box when it covers less than 98 % of the bitmap, else the box of
// pixels that differ from the top-left colour (the whole bitmap when none does).
PixelRect contentBoundingBox(const IconBitmap& bitmap);
std::optional<IconBitmap> cropBitmap(const PixelRect& rect, const IconBitmap& bitmap);
std::optional<IconBitmap> resampleBitmap(int newWidth, int newHeight, const IconBitmap& bitmap);
// Scaled (up or down) to fit the box, keeping its aspect ratio.
std::optional<IconBitmap> aspectFitBitmap(int boxWidth, int boxHeight, const IconBitmap& bitmap);
// 1024 x 1024 bytes: 255 inside the rounded rectangle (100, 100, 824, 824) of
// corner radius 185, 0 outside, anti-aliased on the edge.
std::optional<std::vector<uint8_t>> roundedRectMask();
// Every byte c of pixel i becomes floor(c * mask[i] / 255); a mask of the wrong length is ignored.
void applyMask(const std::vector<uint8_t>& mask, IconBitmap& bitmap);
std::optional<image::Image> fitToReferenceShape(const IconBitmap& bitmap, const IconBitmap& referenceBitmap);
// The bitmap as an image of the same size in points; nothing for an empty or malformed bitmap.
std::optional<image::Image> bitmapToImage(IconBitmap bitmap);

} // namespace mivora::icons
