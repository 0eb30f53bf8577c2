// ICNS files: the container walker, the member checks and every member decoder,
// both as the iconset stand-in reads a file (all members) and as an image (the
// largest member).
#include "platform/image/icns.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    using namespace mivora::image;
    try {
        IcnsContents contents = decodeIcns(bytes);
        for (const auto& [name, picture] : iconsetPictures(contents)) {
            if (!picture->bitmap.isValid()) __builtin_trap();
        }
    } catch (const ImageError&) {
    }
    try {
        Image image = decodeImage(bytes);
        const Bitmap* best = image.bestRepresentation();
        if (best == nullptr || !best->isValid()) __builtin_trap();
    } catch (const ImageError&) {
    }
    return 0;
}
