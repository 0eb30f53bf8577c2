// The conversions between the byte orders the image layer meets: straight
// (un-premultiplied) RGBA from decoders and to the PNG encoder, our premultiplied
// R, G, B, A bitmaps, and cairo's ARGB32 (premultiplied, one native-endian
// 32-bit word per pixel). Every conversion to or from cairo happens here.
#pragma once

#include "platform/image/image.h"

#include <cstddef>
#include <cstdint>

typedef struct _cairo_surface cairo_surface_t;

namespace mivora::image {

// In place, `count` pixels of R, G, B, A.
void premultiplyRGBA(uint8_t* pixels, size_t count);
// From premultiplied `source` to straight `destination` (may be the same buffer).
void unpremultiplyRGBA(const uint8_t* source, uint8_t* destination, size_t count);

// A new cairo image surface (ARGB32) holding the bitmap; the caller destroys it.
// Throws ImageError when cairo cannot make it.
cairo_surface_t* surfaceFromBitmap(const Bitmap& bitmap);
// The pixels of an ARGB32 image surface as a bitmap.
Bitmap bitmapFromSurface(cairo_surface_t* surface);

} // namespace mivora::image
