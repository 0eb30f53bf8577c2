#include "platform/image/png.h"

#include "platform/image/pixel_format.h"

#include <csetjmp>
#include <cstring>
#include <memory>
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

void appendToString(png_structp png, png_bytep data, size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

void recordError(png_structp png, png_const_charp message) {
    auto* text = static_cast<std::string*>(png_get_error_ptr(png));
    if (text) *text = message;
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

// Kept free of C++ objects with destructors: libpng reports errors by longjmp.
bool writePNG(const uint8_t* straightRGBA, int width, int height, std::string* out, std::string* error) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, error, recordError, ignoreWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, appendToString, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    // Paeth alone: on a 1024-pixel icon libpng's adaptive choice among all five
    // filters takes about twice as long for a few percent in size.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        png_write_row(png, straightRGBA + static_cast<size_t>(y) * width * 4);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

std::string encodePNG(const Bitmap& bitmap) {
    if (bitmap.width < 1 || bitmap.height < 1) throw ImageError("cannot encode an image of zero size");
    if (!bitmap.isValid()) throw ImageError("cannot encode a bitmap whose bytes do not match its size");
    checkImageSize(bitmap.width, bitmap.height);
    std::vector<uint8_t> straight(bitmap.pixels.size());
    unpremultiplyRGBA(bitmap.pixels.data(), straight.data(), straight.size() / 4);
    std::string out;
    std::string error = "out of memory";
    if (!writePNG(straight.data(), bitmap.width, bitmap.height, &out, &error)) {
        throw ImageError("cannot encode PNG: " + error);
    }
    return out;
}

} // namespace mivora::image
