#include "platform/image/png.h"

#include "platform/image/pixel_format.h"

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

// Deflate level for written PNGs: libdeflate's greedy level 2 takes well under half
// the time of zlib's default for files no larger on icons.
constexpr int kDeflateLevel = 2;

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

inline uint8_t paethPredictor(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

struct CompressorOwner {
    libdeflate_compressor* compressor;
    ~CompressorOwner() { libdeflate_free_compressor(compressor); }
};

} // namespace

std::string encodePNG(const Bitmap& bitmap) {
    if (bitmap.width < 1 || bitmap.height < 1) throw ImageError("cannot encode an image of zero size");
    if (!bitmap.isValid()) throw ImageError("cannot encode a bitmap whose bytes do not match its size");
    checkImageSize(bitmap.width, bitmap.height);
    const size_t rowBytes = static_cast<size_t>(bitmap.width) * 4;
    const size_t height = static_cast<size_t>(bitmap.height);

    // Every row un-premultiplied and Paeth-filtered behind its filter byte, in
    // one buffer for one deflate call. Paeth alone: trying all five filters per
    // row costs about twice the time for a few percent in size.
    std::unique_ptr<uint8_t[]> filtered(new (std::nothrow) uint8_t[(rowBytes + 1) * height]);
    std::unique_ptr<uint8_t[]> rows(new (std::nothrow) uint8_t[rowBytes * 2]);
    if (!filtered || !rows) throw ImageError("cannot encode PNG: out of memory");
    uint8_t* previous = rows.get();
    uint8_t* current = rows.get() + rowBytes;
    std::memset(previous, 0, rowBytes);
    for (size_t y = 0; y < height; ++y) {
        unpremultiplyRGBA(bitmap.pixels.data() + y * rowBytes, current, static_cast<size_t>(bitmap.width));
        uint8_t* out = filtered.get() + y * (rowBytes + 1);
        *out++ = 4; // Paeth
        for (size_t i = 0; i < 4; ++i)
            out[i] = static_cast<uint8_t>(current[i] - paethPredictor(0, previous[i], 0));
        for (size_t i = 4; i < rowBytes; ++i)
            out[i] = static_cast<uint8_t>(current[i] -
                                          paethPredictor(current[i - 4], previous[i], previous[i - 4]));
        std::swap(previous, current);
    }
    rows.reset();

    CompressorOwner owner{libdeflate_alloc_compressor(kDeflateLevel)};
    if (owner.compressor == nullptr) throw ImageError("cannot encode PNG: out of memory");
    const size_t filteredSize = (rowBytes + 1) * height;
    const size_t bound = libdeflate_zlib_compress_bound(owner.compressor, filteredSize);
    // Left uninitialised: only the pages that the compressed stream reaches are touched.
    std::unique_ptr<uint8_t[]> compressed(new (std::nothrow) uint8_t[bound]);
    if (!compressed) throw ImageError("cannot encode PNG: out of memory");
    const size_t length =
        libdeflate_zlib_compress(owner.compressor, filtered.get(), filteredSize, compressed.get(), bound);
    filtered.reset();
    if (length == 0 || length > 0x7fffffff)
        throw ImageError("cannot encode PNG: the image does not compress");

    std::string png;
    png.reserve(8 + 25 + 12 + length + 12);
    png.append("\x89PNG\r\n\x1a\n", 8);
    uint8_t header[13] = {};
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<uint8_t>(static_cast<uint32_t>(bitmap.width) >> (24 - 8 * i));
        header[4 + i] = static_cast<uint8_t>(static_cast<uint32_t>(bitmap.height) >> (24 - 8 * i));
    }
    header[8] = 8; // bits per sample
    header[9] = 6; // RGBA; compression, filter method and interlacing stay 0
    appendChunk(png, "IHDR", header, sizeof header);
    appendChunk(png, "IDAT", compressed.get(), length);
    appendChunk(png, "IEND", nullptr, 0);
    return png;
}

} // namespace mivora::image
