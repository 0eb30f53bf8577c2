#include "icons/commands/status_command.h"

#include <exception>
#include <string>

#include "apps/app_preferences.h"
#include "core/locations.h"
#include "core/output.h"
#include "core/shell.h"
#include "icons/icon_cache.h"
#include "platform/filesystem.h"

namespace mivora::icons {

namespace {

// Whether the sudo rule lets this user run the helper without a password. A
// probe that fails in any way (no sudo, a password prompt, a time-out) is a "no".
bool sudoRuleInstalled() {
    try {
        return core::runShell("sudo -n -l 2>/dev/null | grep -q helper.sh && echo ok || echo no", 15) == "ok";
    } catch (const std::exception&) {
        return false;
    }
}

std::string mark(bool present) {
    return present ? "✓" : "✗";
}

} // namespace

core::Json StatusPaths::toJson() const {
    return {{"configDir", configDir},
            {"cacheDir", cacheDir},
            {"helperScript", helperScript},
            {"fileicon", fileicon},
            {"appDefaults", appDefaults}};
}

core::Json StatusResponse::toJson() const {
    return {{"helperFilesInstalled", helperFilesInstalled},
            {"sudoConfigured", sudoConfigured},
            {"aliases", aliases},
            {"cachedIcons", cachedIcons},
            {"setupReady", setupReady},
            {"paths", paths.toJson()}};
}

core::CommandConfiguration StatusCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "status";
    config.abstract = "Show setup status and statistics";
    return config;
}

void StatusCommand::declare(core::Arguments& arguments) {
    arguments.flag("verbose", verbose, "Show detailed status", {.shortName = 'v'});
    arguments.flag("json", json, "Output JSON for agents");
}

void StatusCommand::run() {
    StatusResponse status;
    status.paths = {core::configDirectory(), core::cacheDirectory(), core::helperScriptPath(),
                    core::fileiconPath(), core::appDefaultsPath()};
    bool helperOK = platform::fileExists(status.paths.helperScript);
    bool fileiconOK = platform::fileExists(status.paths.fileicon);
    status.helperFilesInstalled = helperOK && fileiconOK;
    status.sudoConfigured = sudoRuleInstalled();
    status.aliases = static_cast<int>(apps::loadAliases().size());
    status.cachedIcons = static_cast<int>(loadIconCache().size());
    status.setupReady = status.helperFilesInstalled && status.sudoConfigured;

    if (json) {
        core::printJSON(status);
        return;
    }
    core::printLine("Mivora CLI Status");
    std::string rule;
    for (int i = 0; i < 22; ++i)
        rule += "─";
    core::printLine(rule);
    core::printLine("  Helper files:  " +
                    std::string(status.helperFilesInstalled ? "✓ Installed" : "✗ Missing"));
    core::printLine("  Sudo access:   " +
                    std::string(status.sudoConfigured ? "✓ Configured" : "✗ Not configured"));
    core::printLine("  Aliases:       " + std::to_string(status.aliases));
    core::printLine("  Cached icons:  " + std::to_string(status.cachedIcons));
    core::printLine("  Setup:         " +
                    std::string(status.setupReady ? "✓ Ready" : "✗ Run Mivora app to complete setup"));
    if (!verbose) return;
    core::printLine("");
    core::printLine("Paths:");
    core::printLine("  Config dir:    " + status.paths.configDir);
    core::printLine("  Cache dir:     " + status.paths.cacheDir);
    core::printLine("  Helper:        " + status.paths.helperScript + " " + mark(helperOK));
    core::printLine("  Fileicon:      " + status.paths.fileicon + " " + mark(fileiconOK));
    core::printLine("  App defaults:  " + status.paths.appDefaults + " " +
                    mark(platform::fileExists(status.paths.appDefaults)));
}

} // namespace mivora::icons
