// The PNGs we write: for any bitmap, libpng must read back the pixels (opaque
// and fully clear ones exactly; the rest as a fixed point of writing and
// reading), and our own reader must agree with libpng. The first four bytes
// give the size (large enough for several bands of rows); the rest is tiled
// over the pixels, so rows and runs repeat as they do in icons.
#include "platform/image/png.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

mivora::image::Bitmap readBack(const std::string& png) {
    using namespace mivora::image;
    Bitmap reference = decodePNGThroughLibpng(png);
    Bitmap direct = decodePNG(png);
    if (direct.width != reference.width || direct.height != reference.height ||
        direct.pixels != reference.pixels) {
        __builtin_trap();
    }
    return reference;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace mivora::image;
    if (size < 4) return 0;
    const int width = 1 + (data[0] | data[1] << 8) % 640;
    const int height = 1 + (data[2] | data[3] << 8) % 640;
    if (static_cast<long>(width) * height > 400000) return 0;
    data += 4;
    size -= 4;

    Bitmap bitmap;
    bitmap.width = width;
    bitmap.height = height;
    bitmap.pixels.resize(static_cast<size_t>(width) * height * 4);
    if (size > 0) {
        for (size_t i = 0; i < bitmap.pixels.size(); ++i)
            bitmap.pixels[i] = data[i % size];
    }
    // Premultiplied: no colour above its alpha.
    for (size_t i = 0; i < bitmap.pixels.size(); i += 4) {
        for (size_t c = 0; c < 3; ++c)
            bitmap.pixels[i + c] = std::min(bitmap.pixels[i + c], bitmap.pixels[i + 3]);
    }

    const Bitmap first = readBack(encodePNG(bitmap));
    if (first.width != width || first.height != height) __builtin_trap();
    for (size_t i = 0; i < bitmap.pixels.size(); i += 4) {
        const uint8_t alpha = bitmap.pixels[i + 3];
        if (first.pixels[i + 3] != alpha) __builtin_trap();
        if ((alpha == 255 || alpha == 0) &&
            !std::equal(first.pixels.begin() + static_cast<std::ptrdiff_t>(i),
                        first.pixels.begin() + static_cast<std::ptrdiff_t>(i + 4),
                        bitmap.pixels.begin() + static_cast<std::ptrdiff_t>(i))) {
            __builtin_trap();
        }
    }
    if (readBack(encodePNG(first)).pixels != first.pixels) __builtin_trap();
    if (first.pixels != bitmap.pixels) __builtin_trap();
    return 0;
}
