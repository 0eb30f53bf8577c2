// A drawing surface over cairo, standing in for a bitmap graphics context: a
// fresh canvas is fully transparent; images are drawn with source-over and
// high-quality interpolation, stretched into a destination rectangle and
// clamped at its edges. Coordinates are pixels, origin at the top left.
#pragma once

#include "platform/image/image.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace mivora::image {

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// Straight (not premultiplied) colour components from 0 to 1.
struct Colour {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;
};

class Canvas {
public:
    // Throws ImageError for a size below 1 or above kMaxImageSide, or when cairo fails.
    Canvas(int width, int height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }

    // Draws the image's best representation over `destination` (source-over).
    // An empty image draws nothing.
    void drawImage(const Image& image, const Rect& destination);
    void fill(const Colour& colour);
    // An anti-aliased rounded rectangle, elliptical corners of the given radii.
    void fillRoundedRect(const Rect& rect, double radiusX, double radiusY, const Colour& colour);

    // The pixels drawn so far.
    Bitmap bitmap() const;

private:
    int width_;
    int height_;
    cairo_surface_t* surface_ = nullptr;
    cairo_t* context_ = nullptr;
};

} // namespace mivora::image
