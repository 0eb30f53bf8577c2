// JPEG 2000 decoding over OpenJPEG, both the JP2 file form and bare codestreams.
#include "platform/image/jpeg2000.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    using namespace mivora::image;
    try {
        Bitmap bitmap = decodeJPEG2000(bytes);
        if (!bitmap.isValid()) __builtin_trap();
    } catch (const ImageError&) {
    }
    return 0;
}
