#include "icons/commands/escape_jail_command.h"

#include "apps/installed_app.h"
#include "core/errors.h"
#include "core/locations.h"
#include "core/output.h"
#include "core/paths.h"
#include "core/shell.h"
#include "core/text.h"
#include "icons/application_turn.h"
#include "icons/helper_command.h"
#include "icons/icon_extraction.h"
#include "platform/environment.h"
#include "platform/filesystem.h"
#include "platform/finder_info.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <optional>
#include <vector>

namespace mivora::icons {

core::CommandConfiguration EscapeJailCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "escape-jail";
    config.abstract = "Escape macOS Tahoe squircle jail by re-applying bundled icons as custom icons";
    return config;
}

void EscapeJailCommand::declare(core::Arguments& arguments) {
    arguments.positional("app-path", appPath,
                         "Path to a specific .app bundle (omit to process all apps in /Applications)",
                         {.completesFiles = true});
    arguments.flag("dry-run", dryRun, "Show what would be done without making changes", {.shortName = 'd'});
    arguments.flag("verbose", verbose, "Show detailed output", {.shortName = 'v'});
}

namespace {

// The application's turn for a run that changes its bundle; a dry run changes nothing.
std::optional<platform::FileLock> turnUnlessDryRun(const std::string& appPath, bool dryRun) {
    if (dryRun) return std::nullopt;
    return takeApplicationTurn(appPath);
}

} // namespace

void EscapeJailCommand::escapeJail(const std::string& appPath, bool dryRun, bool verbose) {
    auto turn = turnUnlessDryRun(appPath, dryRun);
    escapeBundle(appPath, dryRun, verbose);
}

void EscapeJailCommand::escapeBundle(const std::string& appPath, bool dryRun, bool verbose) {
    std::string name = platform::deletingPathExtension(platform::lastPathComponent(appPath));
    auto info = apps::readInfoPlist(appPath);
    if (!info) throw core::CLIError::fileNotFound("Cannot read Info.plist for " + name);
    auto iconFile = info->view()["CFBundleIconFile"].string();
    if (!iconFile) throw core::CLIError::fileNotFound("No CFBundleIconFile in " + name);
    if (!core::endsWith(*iconFile, ".icns")) *iconFile += ".icns";
    const std::string icnsPath =
        platform::joinPath(platform::joinPath(appPath, "Contents/Resources"), *iconFile);
    // The helper reads it as root: only a file of the bundle itself is handed over.
    auto icnsFile = bundleIconFile(appPath, icnsPath);
    if (!icnsFile) throw core::CLIError::fileNotFound("Icon file not found: " + icnsPath);
    if (dryRun) {
        core::printLine("  → Would escape jail for " + name);
        return;
    }
    core::runShell(helperCommandLine(core::helperScriptPath(), core::fileiconPath(), appPath, *icnsFile), 15);
    core::printLine(verbose ? "  ✓ " + name : "✓ Escaped squircle jail for " + name);
}

void EscapeJailCommand::run() {
    requireHelperFiles(core::helperScriptPath(), core::fileiconPath());
    if (appPath) {
        // A completing shell leaves a "/" after a bundle folder; the bundle is the same.
        std::string path = platform::droppingTrailingSlash(core::resolveAppPath(*appPath));
        if (!platform::itemExists(path)) throw core::CLIError::fileNotFound("App not found: " + path);
        if (!core::endsWith(path, ".app"))
            throw core::ValidationError("Target must be an .app bundle: " + path);
        escapeJail(path, dryRun, verbose);
        return;
    }

    std::string applications = platform::systemPath("/Applications");
    auto entries = platform::listDirectory(applications);
    if (!entries) throw core::CLIError::fileNotFound("Cannot read /Applications");
    std::vector<std::string> bundles;
    std::copy_if(entries->begin(), entries->end(), std::back_inserter(bundles),
                 [](const std::string& entry) { return core::endsWith(entry, ".app"); });
    std::stable_sort(bundles.begin(), bundles.end(), core::CanonicalOrder());

    int escaped = 0, skipped = 0, failed = 0;
    for (const auto& entry : bundles) {
        std::string path = platform::joinPath(applications, entry);
        try {
            // Whether the bundle has a custom icon is decided in its turn, so a
            // set-icon that went first is not overwritten.
            auto turn = turnUnlessDryRun(path, dryRun);
            if (platform::hasCustomIcon(path)) {
                if (verbose) core::printLine("  ⊘ " + entry + " — already has custom icon");
                ++skipped;
                continue;
            }
            escapeBundle(path, dryRun, verbose);
            ++escaped;
        } catch (const std::exception& error) {
            if (verbose) core::printLine("  ✗ " + entry + " — " + error.what());
            ++failed;
        }
    }
    core::printLine("");
    std::string counts = std::to_string(skipped) + " skipped, " + std::to_string(failed) + " failed";
    core::printLine(dryRun ? "Dry run: " + std::to_string(escaped) + " app(s) would escape jail, " + counts
                           : std::to_string(escaped) + " escaped, " + counts);
}

} // namespace mivora::icons
