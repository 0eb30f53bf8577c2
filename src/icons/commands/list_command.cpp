#include "icons/commands/list_command.h"

#include "apps/app_preferences.h"
#include "core/locations.h"
#include "core/output.h"
#include "platform/filesystem.h"
#include "platform/formatting.h"

namespace mivora::icons {

namespace {

// The alias map is keyed by application name and already holds them in the
// plain, case-sensitive order of strings ("Arc" before "notion").
std::vector<AliasEntry> sortedAliases() {
    std::vector<AliasEntry> entries;
    for (const auto& [appName, aliasName] : apps::loadAliases())
        entries.push_back({appName, aliasName});
    return entries;
}

std::vector<IconCacheEntry> sortedCacheEntries() {
    std::vector<IconCacheEntry> entries;
    for (const auto& [path, entry] : loadIconCache())
        entries.push_back(entry);
    sortByAppName(entries);
    return entries;
}

void printAliases(const std::vector<AliasEntry>& aliases) {
    if (aliases.empty()) {
        core::printLine("No aliases configured.");
        return;
    }
    core::printLine("Aliases (" + std::to_string(aliases.size()) + "):");
    for (const auto& alias : aliases)
        core::printLine("  " + alias.appName + " → " + alias.aliasName);
}

void printCachedIcons(const std::vector<IconCacheEntry>& entries) {
    if (entries.empty()) {
        core::printLine("No cached icons.");
        return;
    }
    core::printLine("Cached Icons (" + std::to_string(entries.size()) + "):");
    for (const auto& entry : entries) {
        std::string line = "  " + entry.appName;
        if (!platform::fileExists(entry.appPath)) line += " [app missing]";
        // Only the light slot is looked at; it is the one every entry has.
        auto image = cachedImagePath(core::cacheDirectory(), entry.iconFileName);
        if (!image || !platform::fileExists(*image)) line += " [icon file missing]";
        core::printLine(line);
        core::printLine("    Path:   " + entry.appPath);
        core::printLine("    Cached: " + platform::formatShortDateTime(entry.timestamp));
    }
}

} // namespace

core::Json AliasEntry::toJson() const {
    return {{"appName", appName}, {"aliasName", aliasName}};
}

core::Json ListResponse::toJson() const {
    core::Json json = {{"aliases", core::Json::array()}, {"cachedIcons", core::Json::array()}};
    for (const auto& alias : aliases)
        json["aliases"].push_back(alias.toJson());
    for (const auto& entry : cachedIcons)
        json["cachedIcons"].push_back(entry.toJson());
    return json;
}

core::CommandConfiguration ListCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "list";
    config.abstract = "List aliases and cached icons";
    return config;
}

void ListCommand::declare(core::Arguments& arguments) {
    arguments.flag("aliases", aliases, "Show only aliases");
    arguments.flag("icons", icons, "Show only cached icons");
    arguments.flag("json", json, "Output JSON for agents");
}

void ListCommand::run() {
    bool bothByDefault = !aliases && !icons;
    bool showAliases = aliases || bothByDefault;
    bool showIcons = icons || bothByDefault;
    if (json) {
        ListResponse response;
        if (showAliases) response.aliases = sortedAliases();
        if (showIcons) response.cachedIcons = sortedCacheEntries();
        core::printJSON(response);
        return;
    }
    if (showAliases) printAliases(sortedAliases());
    if (bothByDefault) core::printLine("");
    if (showIcons) printCachedIcons(sortedCacheEntries());
}

} // namespace mivora::icons
