#include "apps/app_preferences.h"

#include "core/json.h"
#include "core/json_decoding.h"
#include "core/locations.h"

namespace mivora::apps {

platform::Plist readPreferenceFile(const std::string& path) {
    auto dictionary = platform::readPropertyListDictionary(path, platform::read_limits::preferences);
    return dictionary ? std::move(*dictionary) : platform::Plist::dictionary();
}

platform::Plist readAppDefaults() {
    return readPreferenceFile(core::appDefaultsPath());
}

Aliases aliasesFromDefaults(platform::PlistView defaults) {
    auto bytes = defaults["AliasName"].data();
    if (!bytes) return {};
    // One value of the wrong kind spoils the whole object, as a strict decoder would.
    auto json = core::parseJSONIfValid(*bytes);
    if (!json || !json->is_object()) return {};
    Aliases aliases;
    for (const auto& [name, alias] : json->items()) {
        if (!alias.is_string()) return {};
        aliases[name] = alias.get<std::string>();
    }
    return aliases;
}

Aliases loadAliases() {
    auto defaults = readAppDefaults();
    return aliasesFromDefaults(defaults.view());
}

} // namespace mivora::apps
