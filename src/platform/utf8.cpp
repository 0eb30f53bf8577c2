#include "platform/utf8.h"

#include <cstdint>
#include <unicode/utf8.h>

namespace mivora::platform {

bool isValidUTF8(std::string_view text) {
    int32_t i = 0;
    auto length = static_cast<int32_t>(text.size());
    if (static_cast<size_t>(length) != text.size()) return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    while (i < length) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

} // namespace mivora::platform
