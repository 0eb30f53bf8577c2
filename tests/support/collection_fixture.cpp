#include "support/collection_fixture.h"

#include "platform/filesystem.h"

#include <gtest/gtest.h>

namespace mivora::testing {

std::string collectionsRoot(const Sandbox& sandbox) {
    return sandbox.homePath("Library/Application Support/com.quartelmisko.Mivora/collections");
}

std::string collectionFolder(const Sandbox& sandbox, const std::string& slug) {
    return collectionsRoot(sandbox) + "/" + slug;
}

core::Json manifestDocument(const std::string& slug, const std::string& name,
                            const std::vector<ManifestEntry>& entries, const std::string& description) {
    core::Json icons = core::Json::object();
    for (const auto& entry : entries) {
        core::Json json = {{"appName", entry.appName},
                           {"status", entry.status},
                           {"attempts", entry.attempts},
                           {"dark", entry.dark},
                           {"updatedAt", "2026-03-01T09:15:00Z"}};
        if (entry.reason) json["reason"] = *entry.reason;
        icons[entry.key] = json;
    }
    return {{"schema", 1},         {"slug", slug},
            {"name", name},        {"description", description},
            {"accent", "#8b8b8b"}, {"createdAt", "2026-03-01T09:15:00Z"},
            {"icons", icons},      {"publish", core::Json::object()}};
}

void writeCollection(const Sandbox& sandbox, const std::string& slug, const core::Json& manifest) {
    std::string folder = collectionFolder(sandbox, slug);
    for (const char* sub : {"icons", "raw", "sources"})
        platform::createDirectories(folder + "/" + sub);
    sandbox.writeFile(folder + "/manifest.json", manifest.dump(2));
}

core::Json readManifest(const Sandbox& sandbox, const std::string& slug) {
    auto bytes = sandbox.readFile(collectionFolder(sandbox, slug) + "/manifest.json");
    EXPECT_TRUE(bytes.has_value()) << "no manifest for " << slug;
    return bytes ? core::Json::parse(*bytes) : core::Json();
}

std::vector<PublishRoute> firstPublishRoutes(const std::string& remoteSlug, const std::string& appSlug,
                                             const std::string& token) {
    return {
        {"POST", "/api/collections",
         ScriptedResponse{
             201, core::Json{{"slug", remoteSlug}, {"name", "Published"}, {"publishToken", token}}.dump()}},
        {"PUT", "/api/collections/" + remoteSlug + "/icons/" + appSlug,
         ScriptedResponse{200, core::Json{{"ok", true},
                                          {"slug", remoteSlug},
                                          {"appSlug", appSlug},
                                          {"iconUrl", "https://x/" + appSlug + ".png"}}
                                   .dump()}},
        {"POST", "/api/collections/" + remoteSlug + "/finalize",
         ScriptedResponse{200, core::Json{{"ok", true},
                                          {"slug", remoteSlug},
                                          {"iconCount", 1},
                                          {"listed", false},
                                          {"shareUrl", "https://x/c/" + remoteSlug}}
                                   .dump()}},
    };
}

void serveFirstPublish(CatalogServer& server, const std::string& remoteSlug, const std::string& appSlug,
                       const std::string& token) {
    for (auto& route : firstPublishRoutes(remoteSlug, appSlug, token))
        server.route(route.method, route.path, std::move(route.response));
}

void expectRefusals(const Sandbox& sandbox, const std::vector<Refusal>& refusals) {
    for (const auto& refusal : refusals) {
        auto result = sandbox.run(refusal.arguments);
        EXPECT_EQ(result.status, refusal.status) << refusal.name;
        EXPECT_EQ(result.out, "") << refusal.name;
        EXPECT_EQ(result.err.substr(0, refusal.errorStart.size()), refusal.errorStart) << refusal.name << "\n"
                                                                                       << result.err;
    }
}

std::vector<std::string> keysOf(const core::Json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items())
        keys.push_back(item.key());
    return keys;
}

} // namespace mivora::testing
