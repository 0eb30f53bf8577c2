#include "icons/icon_applier.h"

#include "apps/quit_app.h"
#include "apps/self_drawn_dock_icon.h"
#include "core/errors.h"
#include "core/shell.h"
#include "icons/application_turn.h"
#include "icons/dock_icon_composition.h"
#include "icons/helper_command.h"
#include "icons/icon_cache.h"
#include "icons/system_app_proxies.h"
#include "platform/file_lock.h"
#include "platform/filesystem.h"
#include "platform/interruption.h"
#include "platform/store_errors.h"

#include <utility>

namespace mivora::icons {

core::Json ApplyIconResult::toJson() const {
    core::Json json;
    json["success"] = success;
    json["app"] = app.toJson();
    json["appearance"] = appearance;
    json["appliedToBundle"] = appliedToBundle;
    json["cachedFile"] = cachedFile;
    json["message"] = message;
    return json;
}

std::string selfDrawnDockIconMessage(const std::string& displayName, const std::optional<std::string>& hint) {
    std::string message =
        displayName +
        " draws its own Dock icon (it ships a Dock tile plugin and re-applies its icon on every "
        "launch), so macOS ignores custom icons for it. Mivora can't change it.";
    if (hint) return message + " Pick a different icon inside the app instead: " + *hint + ".";
    return message + " Look for an icon picker in the app's own settings instead.";
}

namespace {

// Whether the requested slot goes onto the bundle now or is only cached: the
// bundle shows the icon of the appearance the system shows at this moment.
bool shouldApplyNow(IconAppearance requested, IconAppearance current,
                    const std::optional<IconCacheEntry>& entry) {
    if (requested == current) return true;
    if (requested == IconAppearance::dark) return false;
    // A light icon while dark shows: keep a different dark icon on the bundle.
    bool distinctDark = entry && entry->darkIconFileName && *entry->darkIconFileName != entry->iconFileName;
    return !distinctDark;
}

} // namespace

ApplyIconResult applyIcon(const apps::InstalledApp& given, const std::string& iconPath,
                          IconAppearance appearance, const std::string& cacheDirectory,
                          const std::string& helperScript, const std::string& fileicon, bool quit) {
    requireHelperFiles(helperScript, fileicon, kEngineHelperFilesMissing);
    const apps::InstalledApp app = originalApplication(given);

    if (auto selfDrawn = apps::detectSelfDrawnDockIcon(app.path, app.name))
        throw core::CLIError::iconSetFailed(
            selfDrawnDockIconMessage(selfDrawn->displayName, selfDrawn->hint));

    std::string slot = rawValue(appearance);
    // A cache that cannot take the icon is refused before anything changes.
    checkIconCacheWritable(cacheDirectory);

    // Runs for one application take their turns from here to the end, so that
    // the apply-or-cache choice below still holds when the cache is written.
    // Runs for other applications go on at the same time.
    platform::FileLock turn = takeApplicationTurn(app.path);
    // From the first change to the last, SIGINT and SIGTERM are held: an
    // interrupted apply is undone, never left half made.
    platform::InterruptionWindow window;
    SystemAppApplyTarget target = prepareSystemAppTarget(app);
    bool rolledBack = false;
    auto rollback = [&] {
        if (!std::exchange(rolledBack, true)) target.rollback();
    };
    std::string icon;
    bool apply = false;
    std::string cachedFile;
    try {
        if (quit) apps::quitApp(target.original, 2.0);
        // The reference is the application's own icon: for a system application the
        // original's, since its proxy's Contents only links out to it, and an icon
        // file reached through a link out of a bundle counts as missing.
        icon = composeDockIcon(iconPath, target.original);

        // Read the way a change reads it: a cache that cannot be read, or that
        // another run keeps busy, stops us before the bundle is touched.
        std::optional<IconCacheEntry> entry;
        updateIconCache([&](IconCache& cache) {
            if (auto it = findIconCacheEntry(cache, target.cacheApp.path); it != cache.end())
                entry = it->second;
            return false;
        });
        apply = shouldApplyNow(appearance, currentAppearance(), entry);
        if (apply)
            core::runShell(helperCommandLine(helperScript, fileicon, target.cacheApp.path, icon), 15.0);

        // The rollback cannot take the icon off a bundle that keeps it, nor the
        // entry out of a cache that holds it: the message says what stays, and
        // only the cause of the failure, never that nothing was changed.
        platform::throwIfInterrupted();
        try {
            cachedFile = cacheIcon(icon, target.cacheApp, appearance, cacheDirectory).file;
        } catch (const std::exception& error) {
            rollback();
            if (!apply || !platform::fileExists(target.cacheApp.path)) throw;
            throw core::CLIError::iconSetFailed("The " + slot + " icon is on " + target.original.name +
                                                " but could not be cached: " + platform::causeOf(error));
        }
        platform::throwIfInterrupted();
        try {
            target.commit();
        } catch (const std::exception& error) {
            rollback();
            std::string kept = apply && platform::fileExists(target.cacheApp.path)
                                   ? "is on " + target.original.name + " and in its cache"
                                   : "for " + target.original.name + " is in its cache";
            throw core::CLIError::iconSetFailed(
                "The " + slot + " icon " + kept +
                " but its proxy could not be recorded: " + platform::causeOf(error));
        }
    } catch (...) {
        rollback();
        if (!icon.empty()) removeComposeTempDirectory(icon);
        throw;
    }

    std::string message = apply ? "Applied " + slot + " icon to " + target.original.name
                                : "Cached " + slot + " icon for " + target.original.name +
                                      "; will apply when macOS switches to " + slot +
                                      " mode (or run again in that mode)";
    removeComposeTempDirectory(icon);
    return ApplyIconResult{true, target.original, slot, apply, cachedFile, message};
}

} // namespace mivora::icons
