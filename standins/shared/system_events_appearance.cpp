#include "shared/system_events_appearance.h"

#include "core/shell.h"
#include "core/text.h"
#include "platform/preferences.h"

namespace mivora::standins {

std::optional<bool> parseDarkModeScript(std::string_view script) {
    static constexpr std::string_view prefix =
        "tell application \"System Events\" to tell appearance preferences to set dark mode to ";
    std::string text = core::trimWhitespace(script);
    if (!core::startsWith(text, prefix)) return std::nullopt;
    std::string_view value = std::string_view(text).substr(prefix.size());
    if (value == "true") return true;
    if (value == "false") return false;
    return std::nullopt;
}

std::optional<int> runSystemEventsAppearanceScript(std::string_view script) {
    auto dark = parseDarkModeScript(script);
    if (!dark) return std::nullopt;
    try {
        auto preferences = platform::PreferenceDomain::synchronize(platform::kAnyApplicationDomain);
        preferences.setValue("AppleInterfaceStyle",
                             *dark ? std::optional(platform::Plist::string("Dark")) : std::nullopt);
        preferences.save();
        return 0;
    } catch (const std::exception&) {
        return 1;
    }
}

} // namespace mivora::standins
