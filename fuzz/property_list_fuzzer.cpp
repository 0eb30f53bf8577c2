// Property lists through libplist (XML and binary), walked the way the readers
// of preference and Info.plist files walk them.
#include "platform/property_list.h"

#include <cstdint>
#include <string_view>

namespace {

void walk(mivora::platform::PlistView view, int depth) {
    if (!view || depth > 64) return;
    view.string();
    view.data();
    view.integer();
    view.real();
    view.boolean();
    if (view.isDictionary()) {
        for (const auto& key : view.keys())
            walk(view[key], depth + 1);
    } else if (view.isArray()) {
        for (size_t i = 0; i < view.size(); ++i)
            walk(view.at(i), depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (auto plist = mivora::platform::parsePropertyList(bytes)) walk(plist->view(), 0);
    return 0;
}
