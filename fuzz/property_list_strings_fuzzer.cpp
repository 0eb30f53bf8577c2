// The top-level texts of an Info.plist: the quick reader must agree with
// libplist wherever it accepts a document, and the readers' answer (quick
// where it can, libplist otherwise) must be libplist's, in every text form.
#include "platform/property_list.h"

#include <cstdint>
#include <optional>
#include <string>

namespace {

using namespace mivora::platform;

// Whether `strings` holds exactly the text values of `dictionary`.
bool sameTexts(const PlistStrings& strings, PlistView dictionary) {
    for (const auto& key : dictionary.keys()) {
        auto text = dictionary[key].string();
        auto found = strings.text(key);
        if (text.has_value() != found.has_value() || (text && *text != *found)) return false;
    }
    for (const auto& [key, value] : strings.entries()) {
        if (!dictionary[std::string(key)].string()) return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    auto strings = topLevelStrings(bytes);
    auto parsed = parsePropertyList(bytes);
    const bool dictionary = parsed && parsed->view().isDictionary();
    if (dictionary != strings.has_value()) __builtin_trap();
    if (dictionary && !sameTexts(*strings, parsed->view())) __builtin_trap();

    // The quick reader alone, on the text the readers hand it.
    std::string decoded;
    auto quick = scanTopLevelStrings(std::string(propertyListText(bytes, decoded)));
    if (!quick) return 0;
    if (!dictionary || !sameTexts(*quick, parsed->view())) __builtin_trap();
    return 0;
}
