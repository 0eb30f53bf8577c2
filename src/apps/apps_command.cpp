#include "apps/apps_command.h"

#include "apps/app_discovery.h"
#include "apps/self_drawn_dock_icon.h"
#include "core/output.h"

namespace mivora::apps {

void AppsResponse::write(core::PrettyJSONWriter& out) const {
    // An entry is two paths' worth of text and its keys.
    size_t bytes = 64;
    for (const auto& app : apps)
        bytes += 2 * app.path.size() + 160;
    out.reserve(bytes);
    out.beginObject();
    out.key("apps");
    out.beginArray();
    for (const auto& app : apps)
        app.write(out);
    out.endArray();
    out.member("count", count);
    out.member("source", source);
    out.endObject();
}

core::CommandConfiguration AppsCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "apps";
    config.abstract = "List installed applications (for agent/automation use)";
    return config;
}

void AppsCommand::declare(core::Arguments& arguments) {
    arguments.positional("query", query, "Filter by app name (optional)");
    arguments.flag("dock", dock, "List only apps pinned in the Dock");
    arguments.flag("json", json, "Output JSON for agents");
}

void AppsCommand::run() {
    std::vector<apps::InstalledApp> apps;
    for (auto& [app, info] : apps::discoverInstalledApps(query, dock)) {
        app.dockIconControlledByApp = apps::detectSelfDrawnDockIcon(app.path, app.name, info).has_value();
        apps.push_back(std::move(app));
    }

    if (json) {
        int count = static_cast<int>(apps.size());
        core::printJSON(AppsResponse{std::move(apps), count, dock ? "dock" : "applications"});
        return;
    }
    if (apps.empty()) {
        core::printLine("No apps found.");
        return;
    }
    std::string text =
        std::string(dock ? "Dock Apps" : "Installed Apps") + " (" + std::to_string(apps.size()) + "):\n";
    for (const auto& app : apps) {
        text += "  " + app.name;
        if (app.bundleId) text += " [" + *app.bundleId + "]";
        if (*app.dockIconControlledByApp) text += "  (draws its own Dock icon — use its in-app icon picker)";
        text += "\n    " + app.path + "\n";
    }
    core::printText(text);
}

} // namespace mivora::apps
