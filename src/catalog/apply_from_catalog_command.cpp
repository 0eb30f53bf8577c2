#include "catalog/apply_from_catalog_command.h"

#include "apps/app_lookup.h"
#include "catalog/catalog_api.h"
#include "core/errors.h"
#include "core/locations.h"
#include "core/output.h"
#include "icons/icon_applier.h"
#include "platform/filesystem.h"

namespace mivora::catalog {

namespace {

// The downloaded icon is the command's own: it goes on every road once the
// engine has taken its copy (or refused it).
struct TemporaryFile {
    std::string path;
    ~TemporaryFile() { platform::removeItemQuietly(path); }
};

} // namespace

core::Json ApplyFromCatalogResponse::toJson() const {
    core::Json json;
    json["success"] = success;
    json["app"] = app.toJson();
    json["catalogIcon"] = catalogIcon.toJson();
    json["appearance"] = appearance;
    json["appliedToBundle"] = appliedToBundle;
    json["message"] = message;
    return json;
}

core::CommandConfiguration ApplyFromCatalogCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "apply-from-catalog";
    config.abstract = "Apply an icon from the Mivora catalog to an app";
    config.discussion = "One-shot command for agents: find an app, search the catalog, download, and apply.\n"
                        "\n"
                        "Examples:\n"
                        "  mivora apply-from-catalog Notion --style yellow\n"
                        "  mivora apply-from-catalog Notion --style \"ukraine\"\n"
                        "  mivora apply-from-catalog /Applications/Notion.app --style purple --json\n"
                        "  mivora apply-from-catalog Safari --pick 2";
    return config;
}

void ApplyFromCatalogCommand::declare(core::Arguments& arguments) {
    arguments.positional("app", app, "App name or path to .app bundle");
    arguments.option("style", style,
                     "Style/color/variant keywords to match in catalog names (e.g. yellow, purple, ukraine)");
    arguments.option(
        "pick", pick,
        "Pick result by index from `mivora search-icons \"<app>\"` output (default: best whole-name "
        "match)");
    arguments.option("query", query, "Override catalog search query (default: app name + style)");
    arguments.flag("no-refresh", noRefresh,
                   "Skip the post-apply refresh (run `mivora refresh-dock` once after batching)");
    arguments.flag("json", json, "Output JSON for agents");
    arguments.flag("liquid-glass", liquidGlass, "Only search Liquid Glass style icons");
    arguments.option("appearance", appearance,
                     "Appearance slot: light or dark (default: current system appearance)");
    arguments.flag("quit", quit, "Quit the app before applying");
}

CatalogIcon ApplyFromCatalogCommand::chooseIcon(const std::vector<CatalogIcon>& results,
                                                const apps::InstalledApp& found) const {
    if (pick) {
        if (*pick < 0 || static_cast<size_t>(*pick) >= results.size()) {
            throw core::ValidationError("Index " + std::to_string(*pick) + " out of range (0..<" +
                                        std::to_string(results.size()) + ")");
        }
        return results[static_cast<size_t>(*pick)];
    }
    auto candidates = query ? results : CatalogAPI::iconsMatchingApp(results, found.name);
    if (candidates.empty()) {
        throw CatalogAPIError::noConfidentMatch(
            "No catalog icon is named \"" + found.name + "\". Run `mivora search-icons \"" + found.name +
            "\"` and pass --pick <index>, or use --query to search differently.");
    }
    if (!style) return candidates.front();
    auto chosen = CatalogAPI::pickIcon(candidates, style);
    if (!chosen) {
        throw CatalogAPIError::noConfidentMatch(
            "No \"" + found.name + "\" icon in the catalog matches the style \"" + *style +
            "\". Run `mivora search-icons \"" + found.name + "\"` to see what's available.");
    }
    return *chosen;
}

void ApplyFromCatalogCommand::run() {
    apps::InstalledApp found = apps::findApp(app);
    auto results = CatalogAPI::search(query.value_or(found.name), 50, liquidGlass);
    if (results.empty()) throw CatalogAPIError::noResults();
    CatalogIcon icon = chooseIcon(results, found);

    TemporaryFile download{CatalogAPI::downloadIcon(icon, true)};
    icons::IconAppearance slot = appearance.value_or(icons::currentAppearance());
    icons::ApplyIconResult result = icons::applyIcon(found, download.path, slot, core::cacheDirectory(),
                                                     core::helperScriptPath(), core::fileiconPath(), quit);
    if (json) {
        std::string message =
            "Applied \"" + icon.appName + "\" to " + found.name + " [" + icons::rawValue(slot) + "]";
        core::printJSON(ApplyFromCatalogResponse{true, found, icon, icons::rawValue(slot),
                                                 result.appliedToBundle, message});
    } else {
        core::printLine("✓ " + result.message);
        core::printLine("  App:  " + found.path);
        core::printLine("  Icon: " + icon.icnsUrl);
    }
    if (result.appliedToBundle && !noRefresh) icons::refreshIconPresentation();
}

} // namespace mivora::catalog
