#include "icons/commands/remove_icon_command.h"

#include "apps/app_lookup.h"
#include "core/errors.h"
#include "core/locations.h"
#include "core/output.h"
#include "core/shell.h"
#include "icons/appearance.h"
#include "icons/helper_command.h"
#include "icons/icon_cache.h"
#include "icons/system_app_proxies.h"
#include "platform/file_lock.h"
#include "platform/filesystem.h"

namespace mivora::icons {

core::Json RemoveIconResult::toJson() const {
    core::Json json;
    json["success"] = success;
    json["app"] = app.toJson();
    json["removedFromBundle"] = removedFromBundle;
    json["removedCache"] = removedCache;
    json["removedDarkVariant"] = removedDarkVariant;
    json["message"] = message;
    return json;
}

core::CommandConfiguration RemoveIconCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "remove-icon";
    config.abstract = "Remove custom icon from an app or folder and clear Mivora cache";
    return config;
}

void RemoveIconCommand::declare(core::Arguments& arguments) {
    arguments.positional("target", target, "App name, .app path, or folder path", {.completesFiles = true});
    arguments.flag("no-refresh", noRefresh,
                   "Skip the post-remove refresh (run `mivora refresh-dock` once after batching)");
    arguments.flag("json", json, "Output JSON for agents");
}

void RemoveIconCommand::run() {
    apps::InstalledApp app = apps::resolveAppArgument(target);
    requireHelperFiles(core::helperScriptPath(), core::fileiconPath());
    // Takes its turn with set-icon and remove-dark-icon runs for the same application.
    platform::FileLock applicationLock = platform::FileLock::folder(app.path, app.path);

    bool removedCache = false;
    if (isProtectedSystemApp(app.path) || isSystemAppProxyPath(app.path)) {
        removedCache = restoreSystemAppProxy(app, core::cacheDirectory());
    } else {
        // An entry that could not be dropped afterwards is refused before the helper runs.
        IconCache cache = loadIconCache();
        if (findIconCacheEntry(cache, app.path) != cache.end()) platform::checkWritable(iconCacheFilePath());
        core::runShell(
            helperCommandLine(core::helperScriptPath(), core::fileiconPath(), app.path, "--remove"), 15);
        removedCache = removeCachedIcons(app.path, core::cacheDirectory());
    }

    RemoveIconResult result{true,         app,          true,
                            removedCache, removedCache, "Default icon restored for " + app.name};
    if (json) {
        core::printJSON(result);
    } else {
        core::printLine("✓ " + result.message);
        if (removedCache) core::printLine("  Cleared Mivora cache");
    }
    if (!noRefresh) refreshIconPresentation();
}

} // namespace mivora::icons
