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
// Any PNG (palette, grey, 16-bit, interlaced, with or without alpha) as a
// premultiplied bitmap, as the platform reads it: damage after the rows is passed
// over; untagged samples are taken as they are at every depth. Text and other
// chunks that do not bear on the pixels are skipped unread, and what libpng may
// allocate for the others is bounded by a few MiB beyond twice the file's size.
// Throws ImageError for a damaged or oversized file.
Bitmap decodePNG(std::string_view bytes);
// Whether a PNG may be kept as its bytes: every chunk whole with its CRC, image
// data that every reader inflates to exactly the rows the header implies, an
// IEND that ends the file, and nothing that libpng, reading strictly, finds
// wrong. Anything else (a file cut after its image data, bytes after IEND, a
// damaged chunk that decoding passes over) is for the caller to encode again
// from its pixels. `buffer` is reused by successive checks.
bool isWholePNG(std::string_view bytes, InflateBuffer& buffer);
bool isWholePNG(std::string_view bytes);
// libpng's reading alone, which decodePNG leaves the unusual files to.
Bitmap decodePNGThroughLibpng(std::string_view bytes);
// Whether the PNG carries an alpha channel (an alpha colour type, or a
// transparency chunk); false for bytes whose header does not read.
bool pngHasAlpha(std::string_view bytes);
// An 8-bit RGBA PNG of the bitmap (alpha un-premultiplied); throws ImageError.
std::string encodePNG(const Bitmap& bitmap);

} // namespace mivora::image
