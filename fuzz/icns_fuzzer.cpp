// ICNS files: the container walker, the member checks and every member decoder,
// both as a file is read whole (all members, PNG members decoded or only
// checked, with the same outcome) and as an image (the largest member).
#include "platform/image/icns.h"

#include <cstdint>
#include <optional>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    using namespace mivora::image;
    // Read whole as the iconset stand-in reads it, PNG members only checked:
    // the same pictures and problems as when every member is decoded.
    std::optional<IcnsContents> decoded, verified;
    try {
        decoded = decodeIcns(bytes);
        for (const auto& [name, picture] : iconsetPictures(*decoded)) {
            if (!picture->bitmap.isValid()) __builtin_trap();
        }
    } catch (const ImageError&) {
    }
    try {
        verified = decodeIcns(bytes, IcnsPNGMembers::verify);
    } catch (const ImageError&) {
    }
    if (decoded.has_value() != verified.has_value()) __builtin_trap();
    if (decoded) {
        if (decoded->problems != verified->problems || decoded->pictures.size() != verified->pictures.size())
            __builtin_trap();
        for (size_t i = 0; i < decoded->pictures.size(); ++i) {
            if (decoded->pictures[i].type != verified->pictures[i].type) __builtin_trap();
        }
    }
    try {
        Image image = decodeImage(bytes);
        const Bitmap* best = image.bestRepresentation();
        if (best == nullptr || !best->isValid()) __builtin_trap();
    } catch (const ImageError&) {
    }
    return 0;
}
