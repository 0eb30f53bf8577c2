// icon-cache.json: decoding, and encoding what decoded.
#include "icons/icon_cache.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    using namespace mivora::icons;
    if (auto cache = decodeIconCache(bytes)) {
        if (!decodeIconCache(encodeIconCache(*cache))) __builtin_trap();
    }
    return 0;
}
