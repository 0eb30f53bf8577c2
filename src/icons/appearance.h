// The appearance slot of an icon, the reading and switching of the system
// appearance, and the refresh that makes a new icon show at once in the Dock
// and Finder.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/command.h"
#include "core/json.h"

namespace mivora::icons {

enum class IconAppearance { light, dark };

std::string rawValue(IconAppearance appearance);
// Exact, case-sensitive: only "light" and "dark".
std::optional<IconAppearance> iconAppearanceFromRawValue(std::string_view text);
// Every case, light first.
std::vector<IconAppearance> allIconAppearances();

// JSON form: the raw value; decoding anything else throws.
void to_json(core::Json& json, IconAppearance appearance);
void from_json(const core::Json& json, IconAppearance& appearance);

// Dark when the any-application preference "AppleInterfaceStyle" is text that,
// lower-cased, contains "dark"; light otherwise. Never fails.
IconAppearance currentAppearance();

// Switches the system appearance, trying in order the window server's switch,
// the System Events script, and a write of "AppleInterfaceStyle". Never fails.
void setDarkMode(IconAppearance appearance);

// Runs <root>/usr/bin/killall with one process name and waits for it; its
// status is not looked at. Never fails.
void runKillall(const std::string& name);

// Restarts the Dock, and Finder when it runs. Never fails.
void restartDockAndFinder();

// Flips the appearance and back (pausing 1.5 s and 0.5 s), then restarts the
// Dock and Finder. Blocks about 2 seconds; never fails.
void refreshIconPresentation();

} // namespace mivora::icons

namespace mivora::core {

template <> struct ArgumentValue<icons::IconAppearance> {
    static std::optional<icons::IconAppearance> parse(const std::string& text) {
        return icons::iconAppearanceFromRawValue(text);
    }
    static std::string describe(icons::IconAppearance value) { return icons::rawValue(value); }
    static std::vector<std::string> allValues() { return {"light", "dark"}; }
};

} // namespace mivora::core
