#include "platform/image/pixel_format.h"

#include <cairo.h>
#include <cstring>

namespace mivora::image {

namespace {

// The alpha bytes of four pixels at once: whole runs of opaque (or clear)
// pixels, the bulk of an icon, are then handled sixteen bytes at a time.
inline uint32_t alphasOfFour(const uint8_t* pixels) {
    return uint32_t{pixels[3]} | uint32_t{pixels[7]} << 8 | uint32_t{pixels[11]} << 16 |
           uint32_t{pixels[15]} << 24;
}

inline void premultiplyPixel(uint8_t* pixel) {
    const unsigned alpha = pixel[3];
    if (alpha == 255) return;
    for (int c = 0; c < 3; ++c)
        pixel[c] = static_cast<uint8_t>((pixel[c] * alpha + 127) / 255);
}

inline void unpremultiplyPixel(const uint8_t* source, uint8_t* destination) {
    const unsigned alpha = source[3];
    if (alpha == 255 || alpha == 0) {
        if (source != destination) std::memcpy(destination, source, 4);
        if (alpha == 0) destination[0] = destination[1] = destination[2] = 0;
        return;
    }
    for (int c = 0; c < 3; ++c) {
        const unsigned value = (source[c] * 255u + alpha / 2) / alpha;
        destination[c] = static_cast<uint8_t>(value > 255 ? 255 : value);
    }
    destination[3] = static_cast<uint8_t>(alpha);
}

} // namespace

void premultiplyRGBA(uint8_t* pixels, size_t count) {
    size_t i = 0;
    for (; i + 4 <= count; i += 4, pixels += 16) {
        if (alphasOfFour(pixels) == 0xffffffffu) continue;
        for (int k = 0; k < 4; ++k)
            premultiplyPixel(pixels + 4 * k);
    }
    for (; i < count; ++i, pixels += 4)
        premultiplyPixel(pixels);
}

void unpremultiplyRGBA(const uint8_t* source, uint8_t* destination, size_t count) {
    size_t i = 0;
    for (; i + 4 <= count; i += 4, source += 16, destination += 16) {
        const uint32_t alphas = alphasOfFour(source);
        if (alphas == 0xffffffffu) {
            if (source != destination) std::memcpy(destination, source, 16);
        } else if (alphas == 0) {
            std::memset(destination, 0, 16);
        } else {
            for (int k = 0; k < 4; ++k)
                unpremultiplyPixel(source + 4 * k, destination + 4 * k);
        }
    }
    for (; i < count; ++i, source += 4, destination += 4)
        unpremultiplyPixel(source, destination);
}

cairo_surface_t* surfaceFromBitmap(const Bitmap& bitmap) {
    if (!bitmap.isValid() || bitmap.width < 1 || bitmap.height < 1) throw ImageError("empty bitmap");
    checkImageSize(bitmap.width, bitmap.height);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, bitmap.width, bitmap.height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        std::string reason = cairo_status_to_string(cairo_surface_status(surface));
        cairo_surface_destroy(surface);
        throw ImageError("cannot make a drawing surface: " + reason);
    }
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    const uint8_t* in = bitmap.pixels.data();
    for (int y = 0; y < bitmap.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = 0; x < bitmap.width; ++x, in += 4) {
            row[x] = (uint32_t{in[3]} << 24) | (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
        }
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

Bitmap bitmapFromSurface(cairo_surface_t* surface) {
    cairo_surface_flush(surface);
    Bitmap bitmap;
    bitmap.width = cairo_image_surface_get_width(surface);
    bitmap.height = cairo_image_surface_get_height(surface);
    bitmap.pixels.resize(static_cast<size_t>(bitmap.width) * bitmap.height * 4);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    uint8_t* out = bitmap.pixels.data();
    for (int y = 0; y < bitmap.height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
        for (int x = 0; x < bitmap.width; ++x, out += 4) {
            uint32_t word = row[x];
            out[0] = static_cast<uint8_t>(word >> 16);
            out[1] = static_cast<uint8_t>(word >> 8);
            out[2] = static_cast<uint8_t>(word);
            out[3] = static_cast<uint8_t>(word >> 24);
        }
    }
    return bitmap;
}

} // namespace mivora::image
