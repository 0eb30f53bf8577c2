#include "icons/commands/remove_icon_command.h"

#include "apps/app_lookup.h"
#include "core/errors.h"
#include "core/locations.h"
#include "core/output.h"
#include "core/paths.h"
#include "core/shell.h"
#include "icons/appearance.h"
#include "icons/application_turn.h"
#include "icons/helper_command.h"
#include "icons/icon_cache.h"
#include "icons/system_app_proxies.h"
#include "platform/file_lock.h"
#include "platform/filesystem.h"
#include "platform/store_errors.h"

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
    // An original application that is gone is still undone through its record;
    // a proxy bundle's path stands for its original application.
    apps::InstalledApp app = [&] {
        if (auto recorded = recordedApplication(core::resolveAppPath(target))) return *recorded;
        return originalApplication(apps::resolveAppArgument(target));
    }();
    requireHelperFiles(core::helperScriptPath(), core::fileiconPath());
    // Takes its turn with the other runs that change this application, and
    // decides from what the stores hold once it has it.
    platform::FileLock turn = takeApplicationTurn(app.path);

    bool removedCache = false;
    if (findSystemProxyRecord(app) || isProtectedSystemApp(app.path)) {
        removedCache = restoreSystemAppProxy(app, core::cacheDirectory());
    } else {
        // A bundle of any other kind, a proxy without a record included, loses
        // its custom icon through the helper. An entry that could not be dropped
        // afterwards is refused before the helper runs.
        IconCache cache = loadIconCache();
        if (findIconCacheEntry(cache, app.path) != cache.end()) platform::checkWritable(iconCacheFilePath());
        core::runShell(
            helperCommandLine(core::helperScriptPath(), core::fileiconPath(), app.path, "--remove"), 15);
        try {
            removedCache = removeCachedIcons(app.path, core::cacheDirectory());
        } catch (const std::exception& error) {
            throw core::CLIError::iconSetFailed(
                "The default icon is back on " + app.name + ", but its cached icons could not be cleared: " +
                platform::causeOf(error) + ". Run remove-icon again to clear them.");
        }
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
