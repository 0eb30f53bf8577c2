#include "collections/collections_show_command.h"

#include "collections/collection_matching.h"
#include "collections/collection_source.h"
#include "apps/app_discovery.h"
#include "core/output.h"

namespace mivora::collections {

core::CommandConfiguration CollectionsShowCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "show";
    config.abstract = "Show icons in one style collection";
    return config;
}

void CollectionsShowCommand::declare(core::Arguments& arguments) {
    arguments.positional("slug", slug, "Collection slug, e.g. sunlight, paper, anime");
    arguments.flag("installed", installed, "Only include icons that match installed apps");
    arguments.flag("dock", dock, "Match only apps pinned in the Dock when using --installed");
    arguments.flag("json", json, "Output JSON for agents");
}

void CollectionsShowCommand::run() {
    catalog::IconCollectionDetail shown = resolveCollection(slug).detail;
    if (installed) {
        auto matches = matchCollectionIconsToApps(shown.icons, apps::listInstalledApps(std::nullopt, dock));
        shown.icons.clear();
        for (auto& match : matches)
            shown.icons.push_back(std::move(match.icon));
    }

    if (json) {
        core::printJSON(shown);
        return;
    }
    core::printLine(shown.name + " (" + shown.slug + ")");
    core::printLine(shown.description);
    core::printLine("Icons (" + std::to_string(shown.icons.size()) + "):");
    for (const auto& icon : shown.icons) {
        core::printLine("  " + icon.appName + " [" + icon.appSlug + "]");
        core::printLine("    " + icon.iconUrl);
    }
}

} // namespace mivora::collections
