#include "platform/image/png.h"

#include "platform/image/pixel_format.h"
#include "platform/image/zlib_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <libdeflate.h>
#include <memory>
#include <new>
#include <png.h>

namespace mivora::image {

bool hasPNGSignature(std::string_view bytes) {
    return bytes.size() >= 8 && png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.data()), 0, 8) == 0;
}

namespace {

// Frees libpng's reader however we leave.
struct PNGReader {
    png_image image;
    PNGReader() {
        std::memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
    }
    ~PNGReader() { png_image_free(&image); }
    PNGReader(const PNGReader&) = delete;
    PNGReader& operator=(const PNGReader&) = delete;
};

// Reads the header and refuses, before anything is allocated, a size that is
// out of range or that the file is far too small to hold.
void beginPNG(PNGReader& reader, std::string_view bytes) {
    png_image& png = reader.image;
    if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) {
        throw ImageError(std::string("damaged PNG: ") + png.message);
    }
    if (png.width < 1 || png.height < 1) throw ImageError("PNG of zero size");
    checkImageSize(png.width, png.height);
    // Deflate packs at most about 1032 bytes into one, and a PNG row holds at
    // least one bit per pixel: a file far smaller than that bound cannot hold
    // the pixels it announces, so its buffer is never allocated.
    if (bytes.size() < static_cast<unsigned long long>(png.width) * png.height / 16384) {
        throw ImageError("damaged PNG: " + std::to_string(bytes.size()) + " bytes cannot hold " +
                         std::to_string(png.width) + " x " + std::to_string(png.height) + " pixels");
    }
}

} // namespace

PixelSize pngPixelSize(std::string_view bytes) {
    PNGReader reader;
    beginPNG(reader, bytes);
    return {static_cast<int>(reader.image.width), static_cast<int>(reader.image.height)};
}

Bitmap decodePNG(std::string_view bytes) {
    // The usual icon (8-bit RGB or RGBA, nothing that alters its colours) is
    // read directly; libpng reads the rest, and whatever the direct reader
    // does not vouch for, so that it also gives the verdict and its words.
    if (std::optional<Bitmap> bitmap = directlyDecodedPNG(bytes)) return std::move(*bitmap);
    return decodePNGThroughLibpng(bytes);
}

void verifyPNG(std::string_view bytes, InflateBuffer& buffer) {
    if (directlyVerifiedPNG(bytes, buffer)) return;
    decodePNGThroughLibpng(bytes);
}

void verifyPNG(std::string_view bytes) {
    InflateBuffer buffer;
    verifyPNG(bytes, buffer);
}

Bitmap decodePNGThroughLibpng(std::string_view bytes) {
    PNGReader reader;
    beginPNG(reader, bytes);
    png_image& png = reader.image;
    png.format = PNG_FORMAT_RGBA;
    // Left uninitialised: libpng fills it row by row, and the pages of rows that
    // a damaged file never reaches are never touched.
    const size_t size = PNG_IMAGE_SIZE(png);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[size]);
    if (!png_image_finish_read(&png, nullptr, buffer.get(), 0, nullptr)) {
        throw ImageError(std::string("damaged PNG: ") + png.message);
    }
    Bitmap bitmap;
    bitmap.width = static_cast<int>(png.width);
    bitmap.height = static_cast<int>(png.height);
    bitmap.pixels.assign(buffer.get(), buffer.get() + size);
    buffer.reset();
    premultiplyRGBA(bitmap.pixels.data(), static_cast<size_t>(bitmap.width) * bitmap.height);
    return bitmap;
}

bool pngHasAlpha(std::string_view bytes) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) return false;
    // The header's colour type, or a transparency chunk, gives the image an alpha channel.
    bool alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png_image_free(&png);
    return alpha;
}

namespace {

// Rows are filtered and compressed in bands of about this many bytes, side by side.
constexpr size_t kBytesPerBand = 256 * 1024;

void appendBigEndian32(std::string& out, uint32_t value) {
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    out.append(bytes, 4);
}

void appendChunk(std::string& out, const char type[4], const uint8_t* data, size_t length) {
    appendBigEndian32(out, static_cast<uint32_t>(length));
    const size_t start = out.size();
    out.append(type, 4);
    if (length > 0) out.append(reinterpret_cast<const char*>(data), length);
    appendBigEndian32(out, libdeflate_crc32(0, out.data() + start, length + 4));
}

// Eight bytes at a time, in 16-bit lanes: on the encoding side every input of
// the predictor is a known byte of the raw rows, so there is no dependency
// from one byte to the next and it all stays in vector registers.
using Bytes8 = uint8_t __attribute__((vector_size(8)));
using Lanes8 = int16_t __attribute__((vector_size(16)));

inline Bytes8 load8(const uint8_t* bytes) {
    Bytes8 v;
    std::memcpy(&v, bytes, sizeof v);
    return v;
}

inline Lanes8 widen8(const uint8_t* bytes) {
    return __builtin_convertvector(load8(bytes), Lanes8);
}

inline Lanes8 absolute(Lanes8 v) {
    const Lanes8 sign = v >> 15;
    return (v ^ sign) - sign;
}

// The Paeth differences of the eight bytes at `current`.
inline void paethEight(const uint8_t* current, const uint8_t* previous, uint8_t* out) {
    const Lanes8 a = widen8(current - 4), b = widen8(previous), c = widen8(previous - 4);
    const Lanes8 pa = absolute(b - c), pb = absolute(a - c), pc = absolute(a + b - c - c);
    // Masks of all ones where true: a where pa is the least, else b where pb <= pc, else c.
    const Lanes8 takeA = (pa <= pb) & (pa <= pc);
    const Lanes8 takeB = ~takeA & (pb <= pc);
    const Lanes8 predictor = (a & takeA) | (b & takeB) | (c & ~(takeA | takeB));
    const Bytes8 result = load8(current) - __builtin_convertvector(predictor, Bytes8);
    std::memcpy(out, &result, sizeof result);
}

inline uint8_t paethPredictor(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// One row's Paeth differences against the row above (both straight RGBA).
void paethRow(const uint8_t* current, const uint8_t* previous, uint8_t* out, size_t rowBytes) {
    // The first pixel has nothing to its left: its predictor is the byte above.
    for (size_t i = 0; i < 4 && i < rowBytes; ++i)
        out[i] = static_cast<uint8_t>(current[i] - previous[i]);
    size_t i = 4;
    for (; i + 8 <= rowBytes; i += 8) {
        // Where these eight bytes and the four before them match the row above
        // (flat colour, a clear margin), every predictor is the byte above: 0.
        uint64_t left[2], above[2];
        std::memcpy(left, current + i - 4, 8);
        std::memcpy(left + 1, current + i, 8);
        std::memcpy(above, previous + i - 4, 8);
        std::memcpy(above + 1, previous + i, 8);
        if (left[0] == above[0] && left[1] == above[1]) {
            std::memset(out + i, 0, 8);
            continue;
        }
        paethEight(current + i, previous + i, out + i);
    }
    for (; i < rowBytes; ++i)
        out[i] =
            static_cast<uint8_t>(current[i] - paethPredictor(current[i - 4], previous[i], previous[i - 4]));
}

} // namespace

std::string encodePNG(const Bitmap& bitmap) {
    if (bitmap.width < 1 || bitmap.height < 1) throw ImageError("cannot encode an image of zero size");
    if (!bitmap.isValid()) throw ImageError("cannot encode a bitmap whose bytes do not match its size");
    checkImageSize(bitmap.width, bitmap.height);
    const size_t rowBytes = static_cast<size_t>(bitmap.width) * 4;
    const size_t height = static_cast<size_t>(bitmap.height);

    // Every row un-premultiplied and Paeth-filtered behind its filter byte.
    // Paeth alone: trying all five filters per row costs about twice the time
    // for a few percent in size. The rows are filtered and compressed in bands
    // on several threads, each band into a buffer of its own that lives only
    // while it is compressed; a band un-premultiplies the row above its first
    // row itself.
    const size_t bands = std::clamp<size_t>((rowBytes + 1) * height / kBytesPerBand, 1, height);
    std::string compressed;
    try {
        compressed = zlibCompressPieces(bands, [&](size_t band, std::vector<uint8_t>& filtered) {
            const size_t first = height * band / bands, end = height * (band + 1) / bands;
            filtered.resize((end - first) * (rowBytes + 1));
            std::vector<uint8_t> rows(rowBytes * 2);
            uint8_t* previous = rows.data();
            uint8_t* current = rows.data() + rowBytes;
            if (first > 0) {
                unpremultiplyRGBA(bitmap.pixels.data() + (first - 1) * rowBytes, previous,
                                  static_cast<size_t>(bitmap.width));
            }
            for (size_t y = first; y < end; ++y) {
                const uint8_t* source = bitmap.pixels.data() + y * rowBytes;
                uint8_t* out = filtered.data() + (y - first) * (rowBytes + 1);
                *out++ = 4; // Paeth
                // A row that repeats the one above filters to zeros, and the
                // straight copy of the row above serves for the next one as well.
                if (y > 0 && std::memcmp(source, source - rowBytes, rowBytes) == 0) {
                    std::memset(out, 0, rowBytes);
                    continue;
                }
                unpremultiplyRGBA(source, current, static_cast<size_t>(bitmap.width));
                paethRow(current, previous, out, rowBytes);
                std::swap(previous, current);
            }
            return std::span<const uint8_t>(filtered);
        });
    } catch (const std::bad_alloc&) {
        throw ImageError("cannot encode PNG: out of memory");
    }
    if (compressed.size() > 0x7fffffff) throw ImageError("cannot encode PNG: the image does not compress");

    std::string png;
    png.reserve(8 + 25 + 12 + compressed.size() + 12);
    png.append("\x89PNG\r\n\x1a\n", 8);
    uint8_t header[13] = {};
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<uint8_t>(static_cast<uint32_t>(bitmap.width) >> (24 - 8 * i));
        header[4 + i] = static_cast<uint8_t>(static_cast<uint32_t>(bitmap.height) >> (24 - 8 * i));
    }
    header[8] = 8; // bits per sample
    header[9] = 6; // RGBA; compression, filter method and interlacing stay 0
    appendChunk(png, "IHDR", header, sizeof header);
    appendChunk(png, "IDAT", reinterpret_cast<const uint8_t*>(compressed.data()), compressed.size());
    appendChunk(png, "IEND", nullptr, 0);
    return png;
}

} // namespace mivora::image
