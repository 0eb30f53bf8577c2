// The top-level texts of an Info.plist: the quick reader of the plain XML form
// must agree with libplist wherever it accepts a document.
#include "platform/property_list.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace mivora::platform;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    auto strings = topLevelStrings(bytes);
    auto quick = scanTopLevelStrings(bytes);
    if (!quick) return 0;
    auto parsed = parsePropertyList(bytes);
    if (!parsed || !parsed->view().isDictionary()) __builtin_trap();
    PlistView dictionary = parsed->view();
    for (const auto& key : dictionary.keys()) {
        auto text = dictionary[key].string();
        auto found = quick->text(key);
        if (text.has_value() != found.has_value() || (text && *text != *found)) __builtin_trap();
    }
    for (const auto& [key, value] : quick->entries()) {
        if (!dictionary[std::string(key)].string()) __builtin_trap();
    }
    if (!strings || strings->entries().size() != quick->entries().size()) __builtin_trap();
    return 0;
}
