// ICNS files: the container walker, the member checks and every member decoder,
// both as a file is read whole (all members, PNG members decoded or only
// checked, with the same outcome) and as an image (the largest member).
#include "deflate_leniency.h"
#include "platform/image/icns.h"

#include <cstdint>
#include <optional>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    using namespace mivora::image;
    // Read whole as the iconset stand-in reads it, whole PNG members only
    // checked: the same pictures and problems as when every member is decoded.
    std::optional<IcnsContents> decoded, checked;
    try {
        decoded = decodeIcns(bytes);
        for (const auto& [name, picture] : iconsetPictures(*decoded)) {
            if (!picture->bitmap.isValid()) __builtin_trap();
        }
    } catch (const ImageError&) {
    }
    try {
        checked = decodeIcns(bytes, IcnsPNGMembers::keepWhole);
    } catch (const ImageError&) {
    }
    if (decoded.has_value() != checked.has_value()) __builtin_trap();
    bool same = !decoded || (decoded->problems == checked->problems &&
                             decoded->pictures.size() == checked->pictures.size());
    for (size_t i = 0; same && decoded && i < decoded->pictures.size(); ++i) {
        const IcnsPicture& picture = checked->pictures[i];
        same = picture.type == decoded->pictures[i].type;
        if (picture.png.empty() ? !picture.bitmap.isValid() : !picture.bitmap.pixels.empty())
            __builtin_trap();
    }
    if (!same) {
        // Only a PNG member whose deflate stream libdeflate alone reads may make the difference.
        bool lenient = false;
        for (const IcnsMember& member : readIcnsMembers(bytes))
            lenient = lenient || mivora::fuzzing::onlyLibdeflateReads(member.data);
        if (!lenient) __builtin_trap();
    }
    try {
        Image image = decodeImage(bytes);
        const Bitmap* best = image.bestRepresentation();
        if (best == nullptr || !best->isValid()) __builtin_trap();
    } catch (const ImageError&) {
    }
    return 0;
}
