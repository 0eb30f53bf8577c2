#include "icons/appearance.h"

#include "core/text.h"
#include "platform/apple_script.h"
#include "platform/distributed_notifications.h"
#include "platform/environment.h"
#include "platform/preferences.h"
#include "platform/process.h"
#include "platform/running_processes.h"
#include "platform/skylight.h"

namespace mivora::icons {

namespace {
constexpr const char* kInterfaceStyleKey = "AppleInterfaceStyle";
} // namespace

std::string rawValue(IconAppearance appearance) {
    return appearance == IconAppearance::dark ? "dark" : "light";
}

std::optional<IconAppearance> iconAppearanceFromRawValue(std::string_view text) {
    if (text == "light") return IconAppearance::light;
    if (text == "dark") return IconAppearance::dark;
    return std::nullopt;
}

std::vector<IconAppearance> allIconAppearances() {
    return {IconAppearance::light, IconAppearance::dark};
}

void to_json(core::Json& json, IconAppearance appearance) {
    json = rawValue(appearance);
}

void from_json(const core::Json& json, IconAppearance& appearance) {
    auto value = iconAppearanceFromRawValue(json.get<std::string>());
    if (!value) throw std::invalid_argument("Not an appearance: " + json.dump());
    appearance = *value;
}

IconAppearance currentAppearance() {
    auto preferences = platform::PreferenceDomain::synchronize(platform::kAnyApplicationDomain);
    auto style = preferences.value(kInterfaceStyleKey).string();
    if (style && core::contains(core::lowercased(*style), "dark")) return IconAppearance::dark;
    return IconAppearance::light;
}

void setDarkMode(IconAppearance appearance) {
    const bool dark = appearance == IconAppearance::dark;

    if (auto setTheme = platform::skyLightSetAppearanceTheme()) {
        setTheme(dark);
        if (currentAppearance() == appearance) return;
    }

    std::string script =
        "tell application \"System Events\" to tell appearance preferences to set dark mode to ";
    if (platform::runAppleScript(script + (dark ? "true" : "false"))) return;

    // Last resort, not verified.
    try {
        platform::PreferenceDomain::update(
            platform::kAnyApplicationDomain, [&](platform::PreferenceDomain& preferences) {
                preferences.setValue(kInterfaceStyleKey,
                                     dark ? std::optional(platform::Plist::string("Dark")) : std::nullopt);
            });
    } catch (...) {
    }
    platform::postDistributedNotification("AppleInterfaceThemeChangedNotification");
}

void runKillall(const std::string& name) {
    platform::runAndWait({platform::systemPath("/usr/bin/killall"), name});
}

void restartDockAndFinder() {
    runKillall("Dock");
    for (const auto& application : platform::runningApplications()) {
        if (application.bundleIdentifier == "com.apple.finder") {
            runKillall("Finder");
            break;
        }
    }
}

void refreshIconPresentation() {
    IconAppearance before = currentAppearance();
    setDarkMode(before == IconAppearance::light ? IconAppearance::dark : IconAppearance::light);
    platform::sleepSeconds(1.5);
    setDarkMode(before);
    platform::sleepSeconds(0.5);
    restartDockAndFinder();
}

} // namespace mivora::icons
