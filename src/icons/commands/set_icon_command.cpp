#include "icons/commands/set_icon_command.h"

#include "catalog/catalog_api.h"
#include "catalog/catalog_constants.h"
#include "apps/app_lookup.h"
#include "core/errors.h"
#include "core/locations.h"
#include "core/output.h"
#include "core/paths.h"
#include "core/text.h"
#include "icons/icon_applier.h"
#include "platform/filesystem.h"

namespace mivora::icons {

core::CommandConfiguration SetIconCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "set-icon";
    config.abstract = "Set a custom icon on an app";
    config.discussion =
        std::string("Applies a local image (or downloads an icon URL, e.g. a link copied from\n"
                    "the Mivora website) and caches it for Mivora's light/dark auto-switching.\n"
                    "\n"
                    "Examples:\n"
                    "  mivora set-icon Notion ~/notion-light.png --appearance light\n"
                    "  mivora set-icon Notion ~/notion-dark.png --appearance dark --quit\n"
                    "  mivora set-icon /Applications/Notion.app ./icon.png --json\n"
                    "  mivora set-icon Cursor https://") +
        catalog::kCatalogSiteHost + "/icons/c9bBrhoXuB.png";
    return config;
}

void SetIconCommand::declare(core::Arguments& arguments) {
    arguments.positional("app-path", appPath, "App name, .app path, or folder path",
                         {.completesFiles = true});
    arguments.positional("icon-path", iconPath,
                         std::string("Path or URL of the icon image (PNG, ICNS, JPEG, or a ") +
                             catalog::kCatalogSiteHost + " link)",
                         {.completesFiles = true});
    arguments.option("appearance", appearance,
                     "Appearance slot: light or dark (default: current system appearance)");
    arguments.flag("quit", quit, "Quit the app before applying");
    arguments.flag("no-refresh", noRefresh,
                   "Skip the post-apply refresh (run `mivora refresh-dock` once after batching)");
    arguments.flag("json", json, "Output JSON for agents");
}

void SetIconCommand::run() {
    std::string icon;
    if (core::startsWith(iconPath, "https://") || core::startsWith(iconPath, "http://")) {
        icon = catalog::CatalogAPI::download(catalog::CatalogAPI::resolveAssetURL(iconPath), "png");
    } else {
        icon = core::resolveAppPath(iconPath);
    }
    if (!platform::itemExists(icon)) throw core::CLIError::fileNotFound("Icon file not found: " + icon);

    apps::InstalledApp app = apps::resolveAppArgument(appPath);
    IconAppearance slot = appearance.value_or(currentAppearance());
    ApplyIconResult result = applyIcon(app, icon, slot, core::cacheDirectory(), core::helperScriptPath(),
                                       core::fileiconPath(), quit);
    if (json)
        core::printJSON(result);
    else
        core::printLine("✓ " + result.message);
    if (result.appliedToBundle && !noRefresh) refreshIconPresentation();
}

} // namespace mivora::icons
