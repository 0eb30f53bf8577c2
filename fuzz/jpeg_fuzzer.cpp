// JPEG decoding over libjpeg: size caps, scan limit, data that ends early.
#include "platform/image/jpeg.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    using namespace mivora::image;
    try {
        Bitmap bitmap = decodeJPEG(bytes);
        if (!bitmap.isValid()) __builtin_trap();
    } catch (const ImageError&) {
    }
    return 0;
}
