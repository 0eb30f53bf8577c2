// Local collections inside a sandbox, written and read as plain files so that
// tests check the on-disk form itself: the folder layout and manifest.json.
#pragma once

#include "core/json.h"
#include "support/catalog_server.h"
#include "support/sandbox.h"

#include <optional>
#include <string>
#include <vector>

namespace mivora::testing {

// <home>/Library/Application Support/com.quartelmisko.Mivora/collections
std::string collectionsRoot(const Sandbox& sandbox);
std::string collectionFolder(const Sandbox& sandbox, const std::string& slug);

struct ManifestEntry {
    std::string key;
    std::string appName;
    std::string status = "pending";
    int attempts = 0;
    bool dark = false;
    std::optional<std::string> reason;
};

// A manifest document with these entries and an empty publish state.
core::Json manifestDocument(const std::string& slug, const std::string& name,
                            const std::vector<ManifestEntry>& entries = {},
                            const std::string& description = "");

// Writes <slug>/manifest.json (pretty) with icons/, raw/ and sources/ beside it.
void writeCollection(const Sandbox& sandbox, const std::string& slug, const core::Json& manifest);
core::Json readManifest(const Sandbox& sandbox, const std::string& slug);

// The answers to the first publish of a collection with one done icon: the
// collection created as `remoteSlug` with `token`, the upload of `appSlug`, the
// finalisation.
struct PublishRoute {
    std::string method, path;
    ScriptedResponse response;
};
std::vector<PublishRoute> firstPublishRoutes(const std::string& remoteSlug, const std::string& appSlug,
                                             const std::string& token);
// Serves them.
void serveFirstPublish(CatalogServer& server, const std::string& remoteSlug, const std::string& appSlug,
                       const std::string& token);

// A command line that must fail: its exit status and how standard error begins
// (standard output stays empty).
struct Refusal {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    std::string errorStart;
};
void expectRefusals(const Sandbox& sandbox, const std::vector<Refusal>& refusals);

// The keys of a JSON object in document order.
std::vector<std::string> keysOf(const core::Json& object);

} // namespace mivora::testing
