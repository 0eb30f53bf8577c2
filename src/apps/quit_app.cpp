#include "apps/quit_app.h"

#include "core/errors.h"
#include "core/shell.h"
#include "core/text.h"
#include "platform/process.h"

namespace mivora::apps {

namespace {
constexpr double kOsascriptTimeoutSeconds = 15;

std::string osascriptLine(const std::string& script) {
    return "osascript -e " + core::shellQuote(script);
}
} // namespace

core::Json QuitAppResult::toJson() const {
    core::Json json;
    json["app"] = app.toJson();
    json["quitRequested"] = quitRequested;
    json["wasRunning"] = wasRunning;
    json["message"] = message;
    return json;
}

std::string appleScriptEscaped(std::string_view name) {
    std::string escaped;
    escaped.reserve(name.size());
    for (char c : name) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else
            escaped += c;
    }
    return escaped;
}

bool isAppRunning(const InstalledApp& app) {
    std::string script = "application \"" + appleScriptEscaped(app.name) + "\" is running";
    try {
        return core::lowercased(core::runShell(osascriptLine(script) + " 2>/dev/null",
                                               kOsascriptTimeoutSeconds)) == "true";
    } catch (const core::CLIError&) {
        return false;
    }
}

QuitAppResult quitApp(const InstalledApp& app, double wait) {
    if (!isAppRunning(app)) return QuitAppResult{app, false, false, app.name + " is not running"};
    std::string script = "tell application \"" + appleScriptEscaped(app.name) + "\" to quit";
    core::runShell(osascriptLine(script), kOsascriptTimeoutSeconds);
    if (wait > 0) platform::sleepSeconds(wait);
    return QuitAppResult{app, true, true, "Quit " + app.name};
}

} // namespace mivora::apps
