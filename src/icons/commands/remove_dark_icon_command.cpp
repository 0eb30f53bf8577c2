#include "icons/commands/remove_dark_icon_command.h"

#include "apps/app_lookup.h"
#include "core/errors.h"
#include "core/locations.h"
#include "core/output.h"
#include "core/shell.h"
#include "icons/appearance.h"
#include "icons/application_turn.h"
#include "icons/commands/remove_icon_command.h"
#include "icons/helper_command.h"
#include "icons/icon_cache.h"
#include "icons/system_app_proxies.h"
#include "platform/file_lock.h"
#include "platform/filesystem.h"
#include "platform/store_errors.h"

namespace mivora::icons {

core::CommandConfiguration RemoveDarkIconCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "remove-dark-icon";
    config.abstract = "Remove only the cached Dark Mode variant for an app";
    return config;
}

void RemoveDarkIconCommand::declare(core::Arguments& arguments) {
    arguments.positional("target", target, "App name, .app path, or folder path", {.completesFiles = true});
    arguments.flag("json", json, "Output JSON for agents");
}

void RemoveDarkIconCommand::run() {
    // A proxy bundle's path stands for its original application.
    apps::InstalledApp app = originalApplication(apps::resolveAppArgument(target));
    // Takes its turn with the other runs that change this application, and
    // decides from what the stores hold once it has it.
    platform::FileLock turn = takeApplicationTurn(app.path);
    apps::InstalledApp cacheApp = resolveSystemAppProxyTarget(app);

    RemoveIconResult result{true, app, false, false, false, ""};
    IconCache cache = loadIconCache();
    auto entry = findIconCacheEntry(cache, cacheApp.path);
    if (entry == cache.end() || !entry->second.darkIconFileName) {
        result.message = "No dark icon variant cached for " + app.name;
        if (json)
            core::printJSON(result);
        else
            core::printLine(result.message);
        return;
    }

    // The light icon goes onto the bundle before the dark slot is dropped, so
    // that a missing or failing helper leaves the cache and its images as they were.
    // A light image that is gone can never go back on; the dark slot is removed
    // all the same (it could otherwise never be removed) and the reply says so.
    std::optional<std::string> lightIcon =
        cachedImagePath(core::cacheDirectory(), entry->second.iconFileName);
    bool lightMissing = !lightIcon || !platform::fileExists(*lightIcon) || platform::isDirectory(*lightIcon);
    bool darkMode = currentAppearance() == IconAppearance::dark;
    bool reapply = darkMode && !lightMissing;
    if (reapply) requireHelperFiles(core::helperScriptPath(), core::fileiconPath());
    // Nor is the light icon put back when the dark slot could not be dropped afterwards.
    platform::checkWritable(iconCacheFilePath());
    if (reapply) {
        core::runShell(
            helperCommandLine(core::helperScriptPath(), core::fileiconPath(), cacheApp.path, *lightIcon), 15);
    }
    try {
        removeCachedDarkIcon(cacheApp.path, core::cacheDirectory());
    } catch (const std::exception& error) {
        if (!reapply) throw;
        throw core::CLIError::iconSetFailed(
            "The light icon is back on " + app.name +
            ", but its dark variant could not be removed from the cache: " + platform::causeOf(error) +
            ". Run remove-dark-icon again to remove it.");
    }

    result.removedCache = result.removedDarkVariant = true;
    result.removedFromBundle = reapply;
    result.message = reapply ? "Removed dark icon variant for " + app.name + " and reapplied the light icon"
                             : "Removed dark icon variant for " + app.name;
    if (darkMode && lightMissing)
        result.message += "; its cached light icon is missing, so none was reapplied";
    if (json)
        core::printJSON(result);
    else
        core::printLine("✓ " + result.message);
}

} // namespace mivora::icons
