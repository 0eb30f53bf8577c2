// Stored records read back as they were saved: whatever a reader accepts, the
// next write keeps in a form that the reader accepts again (manifest, icon
// cache, proxy records, publish token).
#include "support/catalog_fixture.h"
#include "support/catalog_server.h"
#include "support/collection_fixture.h"
#include "support/dock_fixture.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/icon_fixtures.h"
#include "support/sandbox.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

namespace mivora::testing {
namespace {

constexpr int64_t kLargest = std::numeric_limits<int64_t>::max();

TEST(StoredRecords, AManifestAtTheEdgesSurvivesEveryCommandThatSavesIt) {
    Sandbox sandbox;
    addAppWithIcon(sandbox, "Notion", typicalIcns());
    core::Json manifest = manifestDocument("edge", "Edge",
                                           {{.key = "notion", .appName = "Notion", .status = "done"},
                                            {.key = "xcode", .appName = "Xcode", .status = "skipped"}});
    manifest["schema"] = kLargest;
    manifest["createdAt"] = "9999-12-31T23:59:59Z";
    manifest["icons"]["notion"]["attempts"] = kLargest;
    manifest["icons"]["notion"]["updatedAt"] = "0000-01-01T00:00:00Z";
    manifest["icons"]["xcode"]["attempts"] = kLargest;
    manifest["publish"] = {{"remoteSlug", "edge"}, {"publishedAt", "9999-12-31T23:59:59+23:59"}};
    writeCollection(sandbox, "edge", manifest);

    // mark saves the whole manifest; add raises a counter that is already at the top.
    auto mark = sandbox.run({"collections", "mark", "edge", "Safari", "--status", "pending"});
    ASSERT_EQ(mark.status, 0) << mark.err;
    std::string art = sandbox.homePath("art.png");
    sandbox.writeFile(art, pngBytes(squareOnWhite(256)));
    auto add = sandbox.run({"collections", "add", "edge", "xcode", art});
    ASSERT_EQ(add.status, 0) << add.err;

    core::Json saved = readManifest(sandbox, "edge");
    EXPECT_EQ(saved["schema"], kLargest);
    EXPECT_EQ(saved["createdAt"], "9999-12-31T23:59:59Z");
    EXPECT_EQ(saved["icons"]["notion"]["attempts"], kLargest);
    EXPECT_EQ(saved["icons"]["notion"]["updatedAt"], "0000-01-01T00:00:00Z");
    EXPECT_EQ(saved["icons"]["xcode"]["attempts"], kLargest) << "saturates, never wraps";
    EXPECT_EQ(saved["publish"]["publishedAt"], "9999-12-31T00:00:59Z");

    auto status = sandbox.run({"collections", "status", "edge", "--json"});
    EXPECT_EQ(status.status, 0) << status.err;
}

TEST(StoredRecords, AManifestDateThatCouldNotBeSavedIsRefusedOnRead) {
    Sandbox sandbox;
    core::Json manifest = manifestDocument("late", "Late", {{.key = "notion", .appName = "Notion"}});
    manifest["createdAt"] = "9999-12-31T23:59:59-23:59";
    writeCollection(sandbox, "late", manifest);
    std::string before = *sandbox.readFile(collectionFolder(sandbox, "late") + "/manifest.json");

    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"collections", "status", "late"},
             {"collections", "mark", "late", "Notion", "--status", "skipped"}}) {
        auto result = sandbox.run(arguments);
        EXPECT_EQ(result.status, 1) << arguments[1];
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find("createdAt"), std::string::npos) << result.err;
    }
    EXPECT_EQ(*sandbox.readFile(collectionFolder(sandbox, "late") + "/manifest.json"), before);
}

TEST(StoredRecords, IconCacheEntriesKeepTheirValuesThroughAnotherAppsWrite) {
    Sandbox sandbox;
    prepareIconCommands(sandbox, /*dark=*/false);
    std::string notes = sandbox.addApp({.name = "Notes"});
    std::vector<FixtureCacheEntry> stored;
    for (double timestamp : {1e300, -1e300, 18446744073709551616.0, 0.5, -0.0}) {
        std::string name = "App " + std::to_string(stored.size());
        stored.push_back({.appPath = "/Applications/" + name + ".app",
                          .appName = name,
                          .iconFileName = name + ".png",
                          .darkIconFileName = name + "-dark.png",
                          .timestamp = timestamp,
                          .appVersion = "9223372036854775808"});
    }
    writeIconCache(sandbox, stored);

    std::string icon = writeIcon(sandbox, sandbox.homePath("icon.png"));
    auto result = sandbox.run({"set-icon", notes, icon, "--appearance", "dark"});
    ASSERT_EQ(result.status, 0) << result.err;
    core::Json cache = *iconCacheDocument(sandbox);
    for (const auto& entry : stored)
        EXPECT_EQ(cache.at(entry.appPath), entry.toJson()) << entry.appName;
    EXPECT_TRUE(cache.contains(notes));
    EXPECT_EQ(sandbox.run({"list", "--json"}).status, 0);
}

TEST(StoredRecords, AProxyRecordKeepsItsValuesThroughALaterApply) {
    Sandbox sandbox;
    prepareIconCommands(sandbox, /*dark=*/false);
    auto safari = addPinnedSystemApp(sandbox, "Safari", "com.apple.Safari");
    std::string icon = writeIcon(sandbox, sandbox.homePath("icon.png"));
    ASSERT_EQ(sandbox.run({"set-icon", safari.path, icon, "--appearance", "dark"}).status, 0);

    core::Json records = systemProxyRecords(sandbox);
    ASSERT_TRUE(records.contains(safari.path)) << records.dump();
    records[safari.path]["createdAt"] = 1e300;
    writeAppDefaults(sandbox, {{"com.mivora.systemAppProxies", records.dump()}});

    auto again = sandbox.run({"set-icon", safari.path, icon, "--appearance", "dark"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(systemProxyRecords(sandbox), records);
}

// The token is kept as the service gave it and read back trimmed, by this run
// and by the next one; only a blank token reads back as none, so the next run
// creates the collection anew.
TEST(StoredRecords, APublishTokenIsStoredAsGivenAndReadBackTrimmed) {
    struct Case {
        std::string token;
        std::optional<std::string> sent; // the bearer token of every change; nothing for a blank token
    } cases[] = {
        {"t0k3n.with-._~+/=", "t0k3n.with-._~+/="},
        {" t0k3n", "t0k3n"},
        {"t0k3n\n", "t0k3n"},
        {"\xE3\x80\x80t0k3n \r\n", "t0k3n"}, // an ideographic space before it
        {"  ", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("token '" + c.token + "'");
        Sandbox sandbox;
        CatalogServer server;
        sandbox.environment["MIVORA_API_BASE_URL"] = server.url("/api");
        writeCollection(
            sandbox, "naruto",
            manifestDocument("naruto", "Naruto", {{.key = "notion", .appName = "Notion", .status = "done"}}));
        sandbox.writeFile(collectionFolder(sandbox, "naruto") + "/icons/notion.png", "png bytes");
        serveFirstPublish(server, "naruto", "notion", c.token);
        server.route("GET", "/api/collections/naruto", ScriptedResponse{200, "{}"});

        for (int run = 1; run <= 2; ++run) {
            auto result = sandbox.run({"collections", "publish", "naruto"});
            EXPECT_EQ(result.status, 0) << result.err;
            EXPECT_EQ(sandbox.readFile(collectionFolder(sandbox, "naruto") + "/publish-token"), c.token);
        }
        EXPECT_EQ(requestsTo(server, "POST", "/api/collections").size(), c.sent ? 1u : 2u);
        if (!c.sent) continue;
        for (const auto& request : server.requests()) {
            if (request.method == "PUT" || request.path.ends_with("/finalize")) {
                EXPECT_EQ(request.headers.at("Authorization"), "Bearer " + *c.sent) << request.path;
            }
        }
    }
}

} // namespace
} // namespace mivora::testing
