#include "platform/image/canvas.h"

#include "platform/image/pixel_format.h"

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <numbers>

namespace mivora::image {

Canvas::Canvas(int width, int height) : width_(width), height_(height) {
    if (width < 1 || height < 1) throw ImageError("cannot draw into an image of zero size");
    checkImageSize(width, height);
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) {
        std::string reason = cairo_status_to_string(cairo_surface_status(surface_));
        cairo_surface_destroy(surface_);
        throw ImageError("cannot make a drawing surface: " + reason);
    }
    context_ = cairo_create(surface_);
    if (cairo_status(context_) != CAIRO_STATUS_SUCCESS) {
        std::string reason = cairo_status_to_string(cairo_status(context_));
        cairo_destroy(context_);
        cairo_surface_destroy(surface_);
        throw ImageError("cannot make a drawing context: " + reason);
    }
}

Canvas::~Canvas() {
    cairo_destroy(context_);
    cairo_surface_destroy(surface_);
}

void Canvas::drawImage(const Image& image, const Rect& destination) {
    const Bitmap* bitmap = image.bestRepresentation();
    if (bitmap == nullptr || bitmap->width < 1 || bitmap->height < 1) return;
    if (!(destination.width > 0) || !(destination.height > 0)) return;
    cairo_surface_t* source = surfaceFromBitmap(*bitmap);
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(source);
    cairo_surface_destroy(source);
    // Pattern space is the bitmap's pixels; map it onto the destination.
    cairo_matrix_t matrix;
    cairo_matrix_init_scale(&matrix, bitmap->width / destination.width, bitmap->height / destination.height);
    cairo_matrix_translate(&matrix, -destination.x, -destination.y);
    cairo_pattern_set_matrix(pattern, &matrix);
    cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
    // Edge pixels are repeated rather than faded into transparency; the
    // rectangle itself bounds the drawing.
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    // Only the part of the rectangle on the canvas is filled: a picture scaled
    // far beyond the canvas (a 16384 x 1 strip made to cover it) would overflow
    // cairo's fixed-point path coordinates and draw nothing.
    const double left = std::max(destination.x, 0.0);
    const double top = std::max(destination.y, 0.0);
    const double right = std::min(destination.x + destination.width, static_cast<double>(width_));
    const double bottom = std::min(destination.y + destination.height, static_cast<double>(height_));
    if (!(right > left) || !(bottom > top)) {
        cairo_pattern_destroy(pattern);
        return;
    }
    cairo_save(context_);
    cairo_set_operator(context_, CAIRO_OPERATOR_OVER);
    cairo_set_source(context_, pattern);
    cairo_rectangle(context_, left, top, right - left, bottom - top);
    cairo_fill(context_);
    cairo_restore(context_);
    cairo_pattern_destroy(pattern);
    if (cairo_status(context_) != CAIRO_STATUS_SUCCESS) {
        throw ImageError(std::string("drawing failed: ") + cairo_status_to_string(cairo_status(context_)));
    }
}

void Canvas::fill(const Colour& colour) {
    cairo_save(context_);
    cairo_set_operator(context_, CAIRO_OPERATOR_OVER);
    cairo_set_source_rgba(context_, colour.red, colour.green, colour.blue, colour.alpha);
    cairo_paint(context_);
    cairo_restore(context_);
}

void Canvas::fillRoundedRect(const Rect& rect, double radiusX, double radiusY, const Colour& colour) {
    if (!(rect.width > 0) || !(rect.height > 0)) return;
    double rx = std::min(std::max(radiusX, 0.0), rect.width / 2);
    double ry = std::min(std::max(radiusY, 0.0), rect.height / 2);
    cairo_save(context_);
    cairo_set_operator(context_, CAIRO_OPERATOR_OVER);
    cairo_set_antialias(context_, CAIRO_ANTIALIAS_DEFAULT);
    cairo_set_source_rgba(context_, colour.red, colour.green, colour.blue, colour.alpha);
    cairo_new_path(context_);
    if (rx <= 0 || ry <= 0) {
        cairo_rectangle(context_, rect.x, rect.y, rect.width, rect.height);
    } else {
        // Each corner is a quarter of an ellipse: a unit circle scaled by the radii.
        struct Corner {
            double cx, cy, from;
        };
        const Corner corners[] = {
            {rect.x + rect.width - rx, rect.y + ry, -std::numbers::pi / 2},
            {rect.x + rect.width - rx, rect.y + rect.height - ry, 0},
            {rect.x + rx, rect.y + rect.height - ry, std::numbers::pi / 2},
            {rect.x + rx, rect.y + ry, std::numbers::pi},
        };
        for (const Corner& corner : corners) {
            cairo_save(context_);
            cairo_translate(context_, corner.cx, corner.cy);
            cairo_scale(context_, rx, ry);
            cairo_arc(context_, 0, 0, 1, corner.from, corner.from + std::numbers::pi / 2);
            cairo_restore(context_);
        }
        cairo_close_path(context_);
    }
    cairo_fill(context_);
    cairo_restore(context_);
}

Bitmap Canvas::bitmap() const {
    return bitmapFromSurface(surface_);
}

} // namespace mivora::image
