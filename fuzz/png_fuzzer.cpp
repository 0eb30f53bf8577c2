// PNG decoding: the header checks, the size caps, libpng's reader, and the
// direct reader and whole-file check, which must give libpng's verdict, error
// text and pixels for any bytes.
#include "platform/image/png.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

struct Reading {
    std::optional<mivora::image::Bitmap> bitmap;
    std::string error;
};

template <typename Read> Reading readWith(Read read) {
    Reading reading;
    try {
        reading.bitmap = read();
    } catch (const mivora::image::ImageError& error) {
        reading.error = error.what();
    }
    return reading;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    using namespace mivora::image;
    pngHasAlpha(bytes);
    const Reading reference = readWith([&] { return decodePNGThroughLibpng(bytes); });
    const Reading decoded = readWith([&] { return decodePNG(bytes); });
    const Reading verified = readWith([&] {
        verifyPNG(bytes);
        return Bitmap();
    });
    if (decoded.bitmap.has_value() != reference.bitmap.has_value() || decoded.error != reference.error)
        __builtin_trap();
    if (verified.bitmap.has_value() != reference.bitmap.has_value() || verified.error != reference.error)
        __builtin_trap();
    if (decoded.bitmap) {
        if (!decoded.bitmap->isValid() || decoded.bitmap->width != reference.bitmap->width ||
            decoded.bitmap->height != reference.bitmap->height ||
            decoded.bitmap->pixels != reference.bitmap->pixels) {
            __builtin_trap();
        }
    }
    return 0;
}
