// The configuration exchange document: strict decoding with its caps.
#include "icons/commands/config_document.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        mivora::icons::decodeAppConfiguration(bytes);
    } catch (const mivora::icons::ConfigurationReadError&) {
    }
    return 0;
}
