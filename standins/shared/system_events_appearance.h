// What our System Events does for the one appearance script the tool sends:
//   tell application "System Events" to tell appearance preferences to set dark mode to true|false
// It writes "AppleInterfaceStyle" = "Dark" into the any-application preferences
// for true and removes it for false. For the osascript stand-in.
#pragma once

#include <optional>
#include <string_view>

namespace mivora::standins {

// true/false for that script (white space around it allowed), nothing for any other.
std::optional<bool> parseDarkModeScript(std::string_view script);

// Runs the script when it is that one: returns the exit status osascript should
// end with (0, or 1 when the preferences cannot be written), nothing for another script.
std::optional<int> runSystemEventsAppearanceScript(std::string_view script);

} // namespace mivora::standins
