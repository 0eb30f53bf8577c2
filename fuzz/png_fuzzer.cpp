// PNG decoding: the header checks, the size caps and libpng's reader.
#include "platform/image/png.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    using namespace mivora::image;
    pngHasAlpha(bytes);
    try {
        Bitmap bitmap = decodePNG(bytes);
        if (!bitmap.isValid()) __builtin_trap();
    } catch (const ImageError&) {
    }
    return 0;
}
