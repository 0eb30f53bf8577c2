// Small image fixtures made on the fly: solid and patterned bitmaps, their PNG
// bytes, and ICNS files written member by member (with honest lengths, or with
// whatever lengths a test wants to lie about).
#pragma once

#include "platform/image/image.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mivora::testing {

struct RGBA {
    uint8_t red = 0, green = 0, blue = 0, alpha = 255; // straight colour
};

// A width x height bitmap of one colour (premultiplied as bitmaps are).
image::Bitmap solidBitmap(int width, int height, RGBA colour);
// Sets one pixel (straight colour, premultiplied on the way in).
void setPixel(image::Bitmap& bitmap, int x, int y, RGBA colour);
// Fills a rectangle, clipped to the bitmap.
void fillRect(image::Bitmap& bitmap, int x, int y, int width, int height, RGBA colour);
RGBA pixelOf(const image::Bitmap& bitmap, int x, int y); // the stored (premultiplied) bytes
// A blue square on a flat white background, which icon normalisation clears:
// an image that the collection stager accepts.
image::Bitmap squareOnWhite(int side);

std::string pngBytes(const image::Bitmap& bitmap);
// An 8-bit RGB PNG (no alpha channel) of the bitmap's colour bytes.
std::string rgbPNGBytes(const image::Bitmap& bitmap);
std::string solidPNG(int width, int height, RGBA colour);

// Opaque baseline JPEG (libjpeg) and JPEG 2000 (through libicns's encoder) of a bitmap.
std::string jpegBytes(const image::Bitmap& bitmap, bool progressive = false);
std::string jpeg2000Bytes(const image::Bitmap& bitmap);

std::string bigEndian32(uint32_t value);
// A small PNG whose header announces any size (its data holds almost nothing).
std::string pngWithHeader(uint32_t width, uint32_t height);
// A complete, valid 1-bit grey PNG of any size, all black: a few kilobytes
// that decode to width x height pixels.
std::string bilevelPNG(uint32_t width, uint32_t height);

// PNG files put together chunk by chunk, for the readers' tests.
// A chunk with its length and CRC (the given CRC instead, to damage it).
std::string pngChunk(const std::string& type, const std::string& data,
                     std::optional<uint32_t> crc = std::nullopt);
// An IHDR chunk (compression and filter method 0).
std::string pngHeader(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colourType,
                      uint8_t interlace = 0);
// The signature and the chunks.
std::string pngFile(const std::vector<std::string>& chunks);
// A zlib stream of the bytes.
std::string zlibStream(const std::string& raw);
// Rows of `rowBytes` unfiltered bytes, each filtered by the next type of
// `filters` (in turn) behind its filter type byte, as a PNG's image data holds them.
std::string filteredRows(const std::vector<uint8_t>& pixels, size_t rowBytes, size_t bytesPerPixel,
                         const std::vector<uint8_t>& filters);

// Samples as a PNG holds them, written by libpng's own writer: any bit depth
// and colour type, interlaced or not, with the colour chunks asked for.
struct PNGPicture {
    uint32_t width = 0, height = 0;
    int bitDepth = 8;              // 1, 2, 4, 8 or 16
    int colourType = 6;            // 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGBA
    std::vector<uint16_t> samples; // width x height x channels, rows top to bottom (palette indices for 3)
    std::vector<RGBA> palette;     // for colour type 3; an alpha below 255 goes into a tRNS chunk
    bool interlaced = false;
    bool sRGB = false;               // an sRGB chunk
    std::optional<double> fileGamma; // a gAMA chunk
};
int pngChannels(int colourType);
std::string libpngFile(const PNGPicture& picture);
// Samples spread over their whole range in a fixed pattern; for a palette,
// 2^depth colours, some of them partly transparent.
PNGPicture patternPNGPicture(uint32_t width, uint32_t height, int bitDepth, int colourType);
// A 16-bit picture's samples rounded to 8 bits.
PNGPicture eightBitEdition(PNGPicture picture);

struct IcnsEntry {
    std::string type; // four characters
    std::string data; // without the 8-byte header
};
// A well-formed ICNS file of these members.
std::string icnsFile(const std::vector<IcnsEntry>& members);
// A member as it appears in the file, with a chosen length field.
std::string icnsMemberWithLength(const std::string& type, const std::string& data, uint32_t length);

// The run-length form of the old members: each channel of a solid side x side
// square, as literal runs. `channels` is 3 for "is32" and kin, 4 (A, R, G, B) for "ARGB".
std::string runLengthChannels(int side, const std::vector<uint8_t>& channelValues);

} // namespace mivora::testing
