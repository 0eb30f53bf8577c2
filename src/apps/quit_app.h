// Asking a running application to quit through AppleScript (osascript), so
// that a new icon can be applied while it is closed.
#pragma once

#include "apps/installed_app.h"
#include "core/json.h"

#include <string>
#include <string_view>

namespace mivora::apps {

struct QuitAppResult {
    InstalledApp app;
    bool quitRequested = false;
    bool wasRunning = false;
    std::string message; // "Quit <name>" or "<name> is not running"

    core::Json toJson() const;
};

// The application's name as an AppleScript string literal's content:
// backslashes doubled, then each double quote preceded by a backslash.
std::string appleScriptEscaped(std::string_view name);

// Whether osascript reports the application as running; any failure of the
// question counts as not running.
bool isAppRunning(const InstalledApp& app);

// Asks a running application to quit, then pauses `wait` seconds (no pause
// when `wait` is not above 0). An application that is not running is left
// alone at once. Throws CLIError::shellFailed when the quit request fails.
QuitAppResult quitApp(const InstalledApp& app, double wait);

} // namespace mivora::apps
