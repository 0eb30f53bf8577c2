// `mivora remove-icon`: the helper's removal line for a bundle or folder, the
// cache entry forgotten with its images, the refresh, and Apple system
// applications restored through their proxy instead of the helper (a proxy's
// path through its original's record).
#include "platform/filesystem.h"
#include "support/dock_fixture.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace mivora::testing {
namespace {

// Compared without regard to key order.
nlohmann::json removeReply(const std::string& name, const std::string& path, bool removedCache) {
    return {{"success", true},
            {"app", {{"name", name}, {"path", path}}},
            {"removedFromBundle", true},
            {"removedCache", removedCache},
            {"removedDarkVariant", removedCache},
            {"message", "Default icon restored for " + name}};
}

TEST(RemoveIcon, FolderThroughTheHelperWithAndWithoutACacheEntry) {
    struct Case {
        bool cached;
        std::vector<std::string> flags;
        bool refreshes;
    } cases[] = {
        {true, {"--no-refresh"}, false},
        {false, {"--no-refresh"}, false},
        {true, {"--json", "--no-refresh"}, false},
        {false, {"--json", "--no-refresh"}, false},
        {true, {"--json"}, true},
    };
    for (const auto& c : cases) {
        bool json = std::find(c.flags.begin(), c.flags.end(), "--json") != c.flags.end();
        SCOPED_TRACE(std::string(c.cached ? "cached " : "not cached ") + ::testing::PrintToString(c.flags));
        Sandbox sandbox;
        prepareIconCommands(sandbox, false);
        std::string folder = sandbox.homePath("Projects");
        platform::createDirectories(folder);
        FixtureCacheEntry other{.appPath = sandbox.addApp({.name = "Arc"}),
                                .appName = "Arc",
                                .iconFileName = "arc.png",
                                .darkIconFileName = "arc-dark.png"};
        std::vector<FixtureCacheEntry> entries = {other};
        if (c.cached) {
            entries.push_back({.appPath = folder,
                               .appName = "Projects",
                               .iconFileName = "projects.png",
                               .darkIconFileName = "projects-dark.png"});
        }
        writeIconCache(sandbox, entries);
        writeCachedImages(sandbox, entries);
        auto appearanceBefore =
            sandbox.readFile(sandbox.homePath("Library/Preferences/.GlobalPreferences.plist"));

        std::vector<std::string> arguments = {"remove-icon", folder};
        arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
        auto result = sandbox.run(arguments);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        if (json) {
            EXPECT_EQ(nlohmann::json::parse(result.out), removeReply("Projects", folder, c.cached));
        } else {
            EXPECT_EQ(result.out, std::string("✓ Default icon restored for Projects\n") +
                                      (c.cached ? "  Cleared Mivora cache\n" : ""));
        }
        EXPECT_EQ(sandbox.loggedCalls("helper.log"), Calls{helperCall(sandbox, folder, "--remove")});
        EXPECT_EQ(*iconCacheDocument(sandbox), iconCacheJson({other}));
        EXPECT_EQ(cachedImageNames(sandbox), (std::vector<std::string>{"arc-dark.png", "arc.png"}));
        EXPECT_EQ(sandbox.loggedCalls("killall.log"), c.refreshes ? Calls{{"Dock"}} : Calls{});
        if (!c.refreshes) {
            EXPECT_EQ(sandbox.readFile(sandbox.homePath("Library/Preferences/.GlobalPreferences.plist")),
                      appearanceBefore);
        }
    }
}

TEST(RemoveIcon, TheTargetIsResolvedBeforeTheHelperFilesAreChecked) {
    Sandbox sandbox;
    sandbox.installFakeSudo();
    sandbox.installHelperFiles(true, false);
    std::string folder = sandbox.homePath("Projects");
    platform::createDirectories(folder);
    writeIconCache(sandbox, {{.appPath = folder, .appName = "Projects", .iconFileName = "p.png"}});
    auto cacheBefore = sandbox.readFile(iconCacheFile(sandbox));

    auto unknown = sandbox.run({"remove-icon", "Nothing Like It"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "Error: No app matching 'Nothing Like It' found in /Applications.\n");

    auto missing = sandbox.run({"remove-icon", folder, "--no-refresh"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "Error: Helper files not found. Run the Mivora app to complete setup first.\n");
    EXPECT_EQ(sandbox.readFile(iconCacheFile(sandbox)), cacheBefore);
    EXPECT_TRUE(sandbox.loggedCalls("sudo.log").empty());
}

TEST(RemoveIcon, AppleSystemAppsAreRestoredThroughTheirProxy) {
    // Named by the original's path, or by the proxy's path that list shows; an
    // original that has gone since is still undone through its record.
    struct Case {
        const char* name;
        bool byProxyPath;
        bool originalGone;
    } cases[] = {
        {"the original's path", false, false},
        {"the proxy's path", true, false},
        {"the proxy's path, the original gone", true, true},
        {"the original's path, the original gone", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sandbox;
        prepareIconCommands(sandbox, false);
        auto safari = addPinnedSystemApp(sandbox, "Safari", "com.apple.Safari");
        std::string dockBefore = dockTilesXML(sandbox);
        std::string icon = writeIcon(sandbox, sandbox.tmp() + "/icon.png");
        ASSERT_EQ(sandbox.run({"set-icon", safari.path, icon, "--no-refresh"}).status, 0);
        ASSERT_TRUE(platform::fileExists(safari.proxy));
        if (c.originalGone) platform::removeItem(safari.path);
        platform::removeItem(sandbox.tmp() + "/helper.log");

        auto result = sandbox.run(
            {"remove-icon", c.byProxyPath ? safari.proxy : safari.path, "--no-refresh", "--json"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(nlohmann::json::parse(result.out), removeReply("Safari", safari.path, true));
        EXPECT_TRUE(sandbox.loggedCalls("helper.log").empty()) << "never through the helper";
        EXPECT_FALSE(platform::fileExists(safari.proxyFolder));
        EXPECT_EQ(dockTilesXML(sandbox), dockBefore);
        EXPECT_TRUE(systemProxyRecords(sandbox).empty());
        EXPECT_EQ(*iconCacheDocument(sandbox), core::Json::object());
        EXPECT_TRUE(cachedImageNames(sandbox).empty());
        if (c.originalGone) continue;
        EXPECT_TRUE(platform::fileExists(safari.path + "/Contents/Info.plist"));

        // Without a proxy or a cache entry there is nothing to clear, and still no helper.
        auto again = sandbox.run({"remove-icon", safari.path, "--no-refresh"});
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(again.out, "✓ Default icon restored for Safari\n");
        EXPECT_TRUE(sandbox.loggedCalls("helper.log").empty());
    }

    // Without a record, a gone original is still not found.
    Sandbox sandbox;
    prepareIconCommands(sandbox, false);
    std::string gone = sandbox.rootPath("/System/Applications/Gone.app");
    auto result = sandbox.run({"remove-icon", gone, "--no-refresh"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: App not found: " + gone + "\n");
}

TEST(RemoveIcon, AProxyFolderBundleWithoutARecordLosesItsIconThroughTheHelper) {
    // No record names it, so there is no original to act as: the bundle is a
    // folder of the user's like any other, and its custom icon really goes.
    Sandbox sandbox;
    prepareIconCommands(sandbox, false);
    std::string maps = sandbox.homePath("Applications/Mivora System Apps/Maps.app");
    platform::createDirectories(maps + "/Contents");
    FixtureCacheEntry entry{.appPath = maps, .appName = "Maps", .iconFileName = "maps.png"};
    writeIconCache(sandbox, {entry});
    writeCachedImages(sandbox, {entry});

    auto result = sandbox.run({"remove-icon", maps, "--no-refresh"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "✓ Default icon restored for Maps\n  Cleared Mivora cache\n");
    EXPECT_EQ(sandbox.loggedCalls("helper.log"), Calls{helperCall(sandbox, maps, "--remove")});
    EXPECT_EQ(*iconCacheDocument(sandbox), core::Json::object());
    EXPECT_TRUE(cachedImageNames(sandbox).empty());
}

} // namespace
} // namespace mivora::testing
