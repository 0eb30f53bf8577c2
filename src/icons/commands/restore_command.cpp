#include "icons/commands/restore_command.h"

#include "core/errors.h"
#include "core/locations.h"
#include "core/output.h"
#include "core/shell.h"
#include "core/text.h"
#include "icons/appearance.h"
#include "icons/application_turn.h"
#include "icons/helper_command.h"
#include "icons/icon_cache.h"
#include "platform/filesystem.h"

#include <exception>
#include <optional>
#include <vector>

namespace mivora::icons {

namespace {

std::vector<IconCacheEntry> chooseEntries(const IconCache& cache, const std::optional<std::string>& target) {
    std::vector<IconCacheEntry> chosen;
    if (!target) {
        for (const auto& [path, entry] : cache)
            chosen.push_back(entry);
    } else {
        // "Notes.app/" as tab completion writes it finds the entry of "Notes.app".
        std::string wanted = core::lowercased(platform::droppingTrailingSlash(*target));
        for (const auto& [path, entry] : cache) {
            if (core::contains(core::lowercased(entry.appName), wanted) ||
                core::contains(core::lowercased(entry.appPath), wanted))
                chosen.push_back(entry);
        }
        if (chosen.empty()) throw core::ValidationError("No cached icon found matching '" + *target + "'");
    }
    sortByAppName(chosen);
    return chosen;
}

// The slot that fits the appearance of this moment; the appearance may change
// while a long batch runs, so it is read again for every entry.
const std::string& imageNameFor(const IconCacheEntry& entry) {
    if (entry.darkIconFileName && currentAppearance() == IconAppearance::dark) return *entry.darkIconFileName;
    return entry.iconFileName;
}

} // namespace

core::CommandConfiguration RestoreCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "restore";
    config.abstract = "Restore cached custom icons to apps";
    return config;
}

void RestoreCommand::declare(core::Arguments& arguments) {
    arguments.positional("target", target, "App name or path to restore (omit to restore all)");
    arguments.flag("dry-run", dryRun, "Show what would be done without making changes", {.shortName = 'd'});
    arguments.flag("verbose", verbose, "Show detailed output", {.shortName = 'v'});
}

void RestoreCommand::run() {
    IconCache cache = loadIconCache();
    if (cache.empty()) {
        core::printLine("No cached icons to restore.");
        return;
    }
    const std::string& helperScript = core::helperScriptPath();
    const std::string& fileicon = core::fileiconPath();
    requireHelperFiles(helperScript, fileicon);

    int restored = 0, failed = 0, skipped = 0;
    for (const auto& chosen : chooseEntries(cache, target)) {
        // Each application in its turn, with its entry as it stands then: a
        // set-icon or remove-icon that went first is not undone.
        std::optional<platform::FileLock> turn;
        std::optional<IconCacheEntry> current = chosen;
        if (!dryRun) {
            try {
                turn.emplace(takeApplicationTurn(chosen.appPath));
            } catch (const std::exception& error) {
                if (verbose) core::printLine("  ✗ " + chosen.appName + " — " + error.what());
                ++failed;
                continue;
            }
            IconCache now = loadIconCache();
            auto found = findIconCacheEntry(now, chosen.appPath);
            current = found == now.end() ? std::nullopt : std::optional(found->second);
        }
        if (!current) {
            if (verbose) core::printLine("  ⊘ " + chosen.appName + " — no longer cached");
            ++skipped;
            continue;
        }
        const IconCacheEntry& entry = *current;
        auto iconFile = cachedImagePath(core::cacheDirectory(), imageNameFor(entry));
        if (!platform::fileExists(entry.appPath)) {
            if (verbose) core::printLine("  ⊘ " + entry.appName + " — app not found at " + entry.appPath);
            ++skipped;
            continue;
        }
        if (!iconFile || !platform::fileExists(*iconFile)) {
            if (verbose) core::printLine("  ⊘ " + entry.appName + " — cached icon file missing");
            ++skipped;
            continue;
        }
        if (dryRun) {
            core::printLine("  → Would restore " + entry.appName);
            ++restored;
            continue;
        }
        try {
            core::runShell(helperCommandLine(helperScript, fileicon, entry.appPath, *iconFile), 15);
            if (verbose) core::printLine("  ✓ " + entry.appName);
            ++restored;
        } catch (const std::exception& error) {
            if (verbose) core::printLine("  ✗ " + entry.appName + " — " + error.what());
            ++failed;
        }
    }
    core::printLine("");
    core::printLine(dryRun ? "Dry run: " + std::to_string(restored) + " icon(s) would be restored, " +
                                 std::to_string(skipped) + " skipped"
                           : std::to_string(restored) + " restored, " + std::to_string(failed) + " failed, " +
                                 std::to_string(skipped) + " skipped");
}

} // namespace mivora::icons
