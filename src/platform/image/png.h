// PNG in both directions over libpng.
#pragma once

#include "platform/image/image.h"
#include "platform/image/png_direct.h"

#include <string>
#include <string_view>

namespace mivora::image {

bool hasPNGSignature(std::string_view bytes);
// The size the header announces, after the checks decodePNG makes before it
// allocates anything (size caps, a file too small for its pixels); throws ImageError.
PixelSize pngPixelSize(std::string_view bytes);
// Any PNG (palette, grey, 16-bit, with or without alpha) as a premultiplied
// bitmap; throws ImageError for a damaged or oversized file.
Bitmap decodePNG(std::string_view bytes);
// Checks a PNG whole, as decodePNG reads it, without keeping its pixels: the
// same verdict (and error) as decodePNG for any bytes, at the cost of an
// inflate into `buffer` (reused by successive checks) for the usual files.
void verifyPNG(std::string_view bytes, InflateBuffer& buffer);
void verifyPNG(std::string_view bytes);
// libpng's reading alone, which decodePNG and verifyPNG leave the unusual files to.
Bitmap decodePNGThroughLibpng(std::string_view bytes);
// Whether the PNG carries an alpha channel (an alpha colour type, or a
// transparency chunk); false for bytes whose header does not read.
bool pngHasAlpha(std::string_view bytes);
// An 8-bit RGBA PNG of the bitmap (alpha un-premultiplied); throws ImageError.
std::string encodePNG(const Bitmap& bitmap);

} // namespace mivora::image
