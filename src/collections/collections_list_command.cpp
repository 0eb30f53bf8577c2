#include "collections/collections_list_command.h"

#include "collections/collection_source.h"
#include "core/output.h"

#include <exception>

namespace mivora::collections {

namespace {

void printEntry(const catalog::IconCollectionSummary& summary) {
    core::printLine("  " + summary.slug + " — " + summary.name);
}

} // namespace

core::Json CollectionsListResponse::toJson() const {
    core::Json json;
    json["collections"] = core::jsonArray(collections);
    json["count"] = count;
    if (localCollections) json["localCollections"] = core::jsonArray(*localCollections);
    core::setOptional(json, "remoteError", remoteError);
    return json;
}

core::CommandConfiguration CollectionsListCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "list";
    config.abstract = "List available style collections";
    return config;
}

void CollectionsListCommand::declare(core::Arguments& arguments) {
    arguments.flag("json", json, "Output JSON for agents");
}

void CollectionsListCommand::run() {
    std::vector<catalog::IconCollectionSummary> local = localCollectionSummaries();
    std::vector<catalog::IconCollectionSummary> remote;
    std::optional<std::string> remoteError;
    try {
        remote = catalog::listCollections();
    } catch (const std::exception& error) {
        // With nothing local to show, the catalog's failure is the command's.
        if (local.empty()) throw;
        remoteError = error.what();
    }

    if (json) {
        CollectionsListResponse response;
        response.collections = remote;
        response.count = static_cast<int>(remote.size());
        if (!local.empty()) response.localCollections = local;
        response.remoteError = remoteError;
        core::printJSON(response);
        return;
    }

    if (!local.empty()) {
        core::printLine("Local collections (" + std::to_string(local.size()) + "):");
        for (const auto& summary : local) {
            printEntry(summary);
            if (!summary.description.empty()) core::printLine("    " + summary.description);
        }
        core::printLine("");
    }
    if (remoteError) {
        core::printLine("Could not load remote collections: " + *remoteError);
        return;
    }
    core::printLine("Collections (" + std::to_string(remote.size()) + "):");
    for (const auto& summary : remote) {
        printEntry(summary);
        core::printLine("    " + summary.description);
    }
}

} // namespace mivora::collections
