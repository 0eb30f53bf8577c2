#include "catalog/search_icons_command.h"

#include "catalog/catalog_api.h"
#include "core/errors.h"
#include "core/output.h"

namespace mivora::catalog {

core::Json SearchIconsResponse::toJson() const {
    core::Json json;
    json["query"] = query;
    json["icons"] = core::Json::array();
    for (const auto& icon : icons)
        json["icons"].push_back(icon.toJson());
    json["count"] = count;
    return json;
}

core::CommandConfiguration SearchIconsCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "search-icons";
    config.abstract = "Search the Mivora icon catalog";
    config.discussion = "Search the Mivora icon catalog (self-hosted origin). No API key required.\n"
                        "\n"
                        "Examples:\n"
                        "  mivora search-icons notion\n"
                        "  mivora search-icons \"notion yellow\" --json\n"
                        "  mivora search-icons safari --liquid-glass";
    return config;
}

void SearchIconsCommand::declare(core::Arguments& arguments) {
    arguments.positional("query", query, "Search query (app name, style, color, etc.)");
    arguments.flag("json", json, "Output JSON for agents");
    arguments.flag("liquid-glass", liquidGlass, "Only return Liquid Glass style icons");
    arguments.option("limit", limit, "Maximum number of results", {.hasDefault = true});
}

void SearchIconsCommand::run() {
    // A count cannot be negative; say so instead of searching for nothing.
    if (limit < 0)
        throw core::ValidationError("The limit must be zero or more, not " + std::to_string(limit) + ".");
    auto icons = CatalogAPI::search(query, limit, liquidGlass);
    if (icons.empty()) throw CatalogAPIError::noResults();
    if (json) {
        core::printJSON(SearchIconsResponse{query, icons, static_cast<int64_t>(icons.size())});
        return;
    }
    core::printLine("Catalog results for \"" + query + "\" (" + std::to_string(icons.size()) + "):");
    for (size_t i = 0; i < icons.size(); ++i) {
        core::printLine("  [" + std::to_string(i) + "] " + icons[i].appName + " (" +
                        std::to_string(icons[i].downloads) + " downloads)");
        core::printLine("       icns: " + icons[i].icnsUrl);
    }
}

} // namespace mivora::catalog
