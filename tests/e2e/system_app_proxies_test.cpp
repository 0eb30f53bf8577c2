#include "core/base64.h"
#include "core/json.h"
#include "platform/file_url.h"
#include "platform/filesystem.h"
#include "platform/property_list.h"
#include "support/dock_fixture.h"
#include "support/icons_driver.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

using platform::Plist;

std::string xml(platform::PlistView view) {
    return Plist::copyOf(view).toXML();
}

class SystemAppProxies : public ::testing::Test {
protected:
    void SetUp() override {
        auto pinned = addPinnedSystemApp(sandbox, "Safari", "com.apple.Safari");
        safari = pinned.path;
        proxyFolder = pinned.proxyFolder;
        proxy = pinned.proxy;
        notes = sandbox.addApp({.name = "Notes", .bundleId = "com.example.notes"});
    }

    std::string dockPath() const { return dockPreferencesPath(sandbox); }
    std::string appPreferencesPath() const {
        return sandbox.homePath("Library/Preferences/com.quartelmisko.Mivora.plist");
    }
    void writeDock(std::vector<Plist> tiles) { testing::writeDock(sandbox, std::move(tiles)); }
    Plist readDock() const { return testing::readDock(sandbox); }
    core::Json records() const { return systemProxyRecords(sandbox); }

    // Safari's record as another writer may leave it: no original tile, and
    // beside it a value of the desktop application's own.
    void writeRecordWithoutTile(const std::string& proxyPath) const {
        auto record = core::Json::object();
        record[safari] = {
            {"originalPath", safari}, {"proxyPath", proxyPath}, {"appName", "Safari"}, {"createdAt", 7}};
        auto preferences = Plist::dictionary();
        preferences.set("com.mivora.systemAppProxies", Plist::data(record.dump()));
        preferences.set("AliasName", Plist::data("{}"));
        sandbox.writePlist(appPreferencesPath(), preferences);
    }

    RunResult driver(const std::vector<std::string>& arguments) const {
        return runIconsDriver(sandbox, arguments);
    }

    core::Json prepare(const std::string& step, const std::string& path,
                       const std::string& name = "Safari") const {
        auto result = driver({"prepare", step, name, path, "com.apple.Safari"});
        EXPECT_EQ(result.status, 0) << result.err;
        return result.status == 0 ? core::Json::parse(result.out) : core::Json();
    }

    Sandbox sandbox;
    std::string safari, notes, proxyFolder, proxy;
};

TEST_F(SystemAppProxies, ProtectedSystemAppRules) {
    auto add = [&](const std::string& name, const std::string& folder, std::optional<std::string> id) {
        return sandbox.addApp({.name = name, .folder = sandbox.rootPath(folder), .bundleId = std::move(id)});
    };
    std::string linked = sandbox.rootPath("/Applications/Linked Safari.app");
    platform::createSymbolicLink(linked, safari);
    std::string sibling = sandbox.dir() + "/root-other/System/Applications/Sibling.app";
    sandbox.addApp(
        {.name = "Sibling", .folder = platform::parentPath(sibling), .bundleId = "com.apple.Sibling"});
    struct Case {
        std::string path;
        bool isProtected;
    } cases[] = {
        {safari, true},
        {safari + "/", true},
        {add("Directory Utility", "/System/Library/CoreServices/Applications", "com.apple.DirectoryUtility"),
         true},
        {add("Safari", "/System/Cryptexes/App/System/Applications", "com.apple.Safari"), true},
        {add("Safari", "/System/Volumes/Preboot/Cryptexes/App/System/Applications", "com.apple.Safari"),
         true},
        {linked, true},                                                      // links are resolved first
        {add("Keynote", "/Applications", "com.apple.iWork.Keynote"), false}, // not a system location
        {add("Other", "/System/Applications", "com.example.other"), false},  // not Apple's
        {add("Sauce", "/System/Applications", "com.applesauce.x"), false},
        {add("Bare", "/System/Applications", std::nullopt), false},
        {sandbox.rootPath("/System/Applications/Missing.app"), false},
        {sibling, false}, // beside the root, not inside it
    };
    for (const auto& c : cases) {
        auto result = driver({"is-protected", c.path});
        EXPECT_EQ(result.out, c.isProtected ? "true\n" : "false\n") << c.path << result.err;
    }

    // A root named through a link still finds its system locations.
    std::string rootLink = sandbox.dir() + "/root-link";
    platform::createSymbolicLink(rootLink, sandbox.root());
    sandbox.environment["MIVORA_SYSTEM_ROOT"] = rootLink;
    EXPECT_EQ(driver({"is-protected", rootLink + "/System/Applications/Safari.app"}).out, "true\n");
    EXPECT_EQ(driver({"is-protected", safari}).out, "true\n");
}

TEST_F(SystemAppProxies, PinnedProtectedAppGetsAProxyInItsDockPlace) {
    Plist before = readDock();
    auto target = prepare("commit", safari);
    EXPECT_EQ(target, core::Json::parse(R"({"name":"Safari","path":")" + proxy +
                                        R"(","bundleId":"com.apple.Safari"})"));

    // The proxy holds only a link to the original's Contents.
    EXPECT_EQ(platform::listDirectory(proxy), std::vector<std::string>{"Contents"});
    EXPECT_EQ(platform::readSymbolicLink(proxy + "/Contents"), safari + "/Contents");

    // The Safari tile now names the proxy; everything else is as it was.
    Plist after = readDock();
    EXPECT_EQ(sandbox.readFile(dockPath())->substr(0, 8), "bplist00");
    auto tiles = after.view()["persistent-apps"];
    auto oldTiles = before.view()["persistent-apps"];
    ASSERT_EQ(tiles.size(), 3u);
    EXPECT_EQ(xml(tiles.at(0)), xml(oldTiles.at(0)));
    EXPECT_EQ(xml(tiles.at(2)), xml(oldTiles.at(2)));
    for (const char* key : {"tilesize", "mod-count", "autohide", "persistent-others"})
        EXPECT_EQ(xml(after.view()[key]), xml(before.view()[key])) << key;

    auto tile = tiles.at(1);
    auto data = tile["tile-data"];
    EXPECT_EQ(data["file-data"].keys(), (std::vector<std::string>{"_CFURLString", "_CFURLStringType"}));
    EXPECT_EQ(data["file-data"]["_CFURLString"].string(),
              "file://" + sandbox.homePath("Applications/Mivora%20System%20Apps/Safari.app/"));
    EXPECT_EQ(data["file-data"]["_CFURLStringType"].integer(), 15);
    EXPECT_EQ(data["file-label"].string(), "Safari");
    EXPECT_FALSE(data["bundle-identifier"]);
    ASSERT_TRUE(data["file-mod-date"].real().has_value());
    EXPECT_NEAR(*data["file-mod-date"].real(), core::secondsSinceReferenceDate(), 60);
    EXPECT_EQ(data["book"].data(), oldTiles.at(1)["tile-data"]["book"].data());
    for (const char* key : {"parent-mod-date", "file-type", "dock-extra", "is-beta"})
        EXPECT_EQ(xml(data[key]), xml(oldTiles.at(1)["tile-data"][key])) << key;
    EXPECT_EQ(tile["tile-type"].string(), "file-tile");
    for (const char* key : {"GUID", "last-used", "scale", "extra"})
        EXPECT_EQ(xml(tile[key]), xml(oldTiles.at(1)[key])) << key;

    // The record keeps the replaced tile.
    auto stored = records();
    ASSERT_EQ(stored.size(), 1u);
    const auto& record = stored.at(safari);
    EXPECT_EQ(record.at("originalPath"), safari);
    EXPECT_EQ(record.at("proxyPath"), proxy);
    EXPECT_EQ(record.at("appName"), "Safari");
    EXPECT_NEAR(record.at("createdAt").get<double>(), core::secondsSinceReferenceDate(), 60);
    auto entry = core::decodeBase64(record.at("originalDockEntry").get<std::string>()).bytes;
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->substr(0, 8), "bplist00");
    EXPECT_EQ(platform::parsePropertyList(*entry)->toXML(), xml(oldTiles.at(1)));

    ASSERT_TRUE(waitForFile(sandbox.tmp() + "/lsregister.log", 5));
    EXPECT_EQ(sandbox.loggedCalls("lsregister.log"), (std::vector<std::vector<std::string>>{{"-f", proxy}}));
}

TEST_F(SystemAppProxies, AppNotPinnedIsRefusedAndNothingIsMade) {
    for (bool dockFile : {true, false}) {
        if (dockFile)
            writeDock({dockTile(notes, "Notes", "com.example.notes", 1)});
        else
            platform::removeItem(dockPath());
        auto dockBefore = sandbox.readFile(dockPath());
        auto result = driver({"prepare", "commit", "Safari", safari});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err,
                  "Error: macOS only lets Mivora theme Apple apps that are pinned to the Dock. Pin Safari "
                  "to your Dock, then set its icon again.\n");
        EXPECT_FALSE(platform::fileExists(proxyFolder));
        EXPECT_EQ(sandbox.readFile(dockPath()), dockBefore);
        EXPECT_FALSE(platform::fileExists(appPreferencesPath()));
    }
    EXPECT_TRUE(sandbox.loggedCalls("lsregister.log").empty());
}

TEST_F(SystemAppProxies, OrdinaryAppIsItsOwnTarget) {
    auto dockBefore = sandbox.readFile(dockPath());
    std::string keynote = sandbox.addApp({.name = "Keynote", .bundleId = "com.apple.iWork.Keynote"});
    auto result = driver({"prepare", "commit", "Keynote", keynote, "com.apple.iWork.Keynote"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(core::Json::parse(result.out), core::Json::parse(R"({"name":"Keynote","path":")" + keynote +
                                                               R"(","bundleId":"com.apple.iWork.Keynote"})"));
    EXPECT_FALSE(platform::fileExists(proxyFolder));
    EXPECT_EQ(sandbox.readFile(dockPath()), dockBefore);
    EXPECT_TRUE(records().empty());
}

TEST_F(SystemAppProxies, LaterApplyFindsTheProxyTileAndKeepsTheFirstRecord) {
    prepare("commit", safari);
    auto first = records().at(safari);
    auto dockAfterFirst = sandbox.readFile(dockPath());

    // Pinned through its proxy, also when the path is spelled with a trailing "/".
    for (const std::string& path : {safari, safari + "/"}) {
        auto target = prepare("commit", path);
        EXPECT_EQ(target.at("path"), proxy);
        EXPECT_EQ(sandbox.readFile(dockPath()), dockAfterFirst) << "no tile names the original any more";
        auto stored = records();
        ASSERT_EQ(stored.size(), 1u) << stored.dump();
        const auto& record = stored.at(path);
        EXPECT_EQ(record.at("originalDockEntry"), first.at("originalDockEntry"));
        EXPECT_EQ(record.at("createdAt"), first.at("createdAt"));
        EXPECT_EQ(platform::readSymbolicLink(proxy + "/Contents"), safari + "/Contents");
    }
}

TEST_F(SystemAppProxies, TrailingSlashMatchesTheTileAndTheRecord) {
    auto target = prepare("commit", safari + "/");
    EXPECT_EQ(target.at("path"), proxy);
    Plist dock = readDock();
    auto tiles = dock.view()["persistent-apps"];
    EXPECT_EQ(tiles.at(1)["tile-data"]["file-label"].string(), "Safari");
    EXPECT_EQ(tiles.at(1)["tile-data"]["file-data"]["_CFURLString"].string(),
              platform::fileURLString(proxy, true));

    auto resolved = driver({"resolve-proxy", "Safari", safari});
    EXPECT_EQ(core::Json::parse(resolved.out).at("path"), proxy);
    EXPECT_EQ(driver({"restore-proxy", "Safari", safari}).out, "true\n");
    EXPECT_FALSE(platform::fileExists(proxy));
    EXPECT_TRUE(records().empty());
}

TEST_F(SystemAppProxies, WhateverOccupiesTheProxyPathIsReplaced) {
    // A plain file, and a link to the original bundle itself, which must not be
    // followed into the original.
    for (bool link : {false, true}) {
        platform::removeItemQuietly(proxyFolder);
        if (link) {
            platform::createDirectories(proxyFolder);
            platform::createSymbolicLink(proxy, safari);
        } else {
            sandbox.writeFile(proxy, "not a bundle");
        }
        writeDock({dockTile(safari, "Safari", "com.apple.Safari", 2)});
        prepare("commit", safari);
        EXPECT_TRUE(platform::isDirectory(proxy) && !platform::isSymbolicLink(proxy));
        EXPECT_EQ(platform::readSymbolicLink(proxy + "/Contents"), safari + "/Contents");
        EXPECT_TRUE(platform::fileExists(safari + "/Contents/Info.plist"));
        EXPECT_TRUE(platform::isDirectory(safari + "/Contents") &&
                    !platform::isSymbolicLink(safari + "/Contents"));
    }
}

TEST_F(SystemAppProxies, RollbackOfAFirstApplyLeavesNoTrace) {
    auto dockBefore = readDock();
    auto target = prepare("rollback", safari);
    EXPECT_EQ(target.at("path"), proxy);
    EXPECT_FALSE(platform::fileExists(proxy));
    EXPECT_FALSE(platform::fileExists(proxyFolder)) << "the empty proxy folder goes too";
    EXPECT_EQ(xml(readDock().view()["persistent-apps"]), xml(dockBefore.view()["persistent-apps"]));
    EXPECT_TRUE(records().empty());
    EXPECT_TRUE(platform::fileExists(safari + "/Contents/Info.plist"));

    // A proxy folder that holds another proxy stays.
    sandbox.writeFile(proxyFolder + "/Maps.app/Contents/Info.plist", "x");
    prepare("rollback", safari);
    EXPECT_FALSE(platform::fileExists(proxy));
    EXPECT_EQ(platform::listDirectory(proxyFolder), std::vector<std::string>{"Maps.app"});
}

TEST_F(SystemAppProxies, RestoreUndoesTheProxyAndItsCacheEntries) {
    auto dockBefore = readDock();
    prepare("commit", safari);
    sandbox.writeFile(sandbox.tmp() + "/icon.png", "png");
    for (const std::string& path : {proxy, safari}) {
        auto cached = driver({"cache-icon", sandbox.tmp() + "/icon.png", "light", "Safari", path});
        ASSERT_EQ(cached.status, 0) << cached.err;
    }

    EXPECT_EQ(driver({"restore-proxy", "Safari", safari}).out, "true\n");
    EXPECT_FALSE(platform::fileExists(proxyFolder));
    EXPECT_TRUE(platform::fileExists(safari + "/Contents/Info.plist"))
        << "the link is removed, not its destination";
    EXPECT_TRUE(platform::fileExists(safari + "/Contents/MacOS/Safari"));
    EXPECT_EQ(xml(readDock().view()["persistent-apps"]), xml(dockBefore.view()["persistent-apps"]));
    EXPECT_TRUE(records().empty());
    EXPECT_EQ(driver({"load-cache"}).out, "{}\n");
    auto images = platform::listDirectory(sandbox.homePath("Library/Caches/com.quartelmisko.Mivora/cache"));
    EXPECT_TRUE(images && images->empty());
}

TEST_F(SystemAppProxies, RestoreWithoutARecordOnlyRemovesTheCacheEntry) {
    sandbox.writeFile(sandbox.tmp() + "/icon.png", "png");
    ASSERT_EQ(driver({"cache-icon", sandbox.tmp() + "/icon.png", "dark", "Notes", notes}).status, 0);
    auto dockBefore = sandbox.readFile(dockPath());
    EXPECT_EQ(driver({"restore-proxy", "Notes", notes}).out, "true\n");
    EXPECT_EQ(driver({"load-cache"}).out, "{}\n");
    EXPECT_EQ(driver({"restore-proxy", "Notes", notes}).out, "false\n");
    EXPECT_EQ(sandbox.readFile(dockPath()), dockBefore);
}

TEST_F(SystemAppProxies, RestoreRebuildsTheTileWhenTheRecordHasNone) {
    writeDock({dockTile(proxy, "Safari", "com.apple.Safari", 2)});
    sandbox.writeFile(proxy + "/Contents/x", "");
    writeRecordWithoutTile(proxy);

    EXPECT_EQ(driver({"restore-proxy", "Safari", safari}).out, "true\n");
    Plist dock = readDock();
    auto tile = dock.view()["persistent-apps"].at(0);
    EXPECT_EQ(tile["tile-data"]["file-data"]["_CFURLString"].string(), platform::fileURLString(safari, true));
    EXPECT_EQ(tile["tile-data"]["file-label"].string(), "Safari");
    EXPECT_EQ(tile["GUID"].integer(), 2);
    EXPECT_TRUE(records().empty());
    auto kept = platform::readPropertyListDictionary(appPreferencesPath(), testing::kTestReadLimit);
    EXPECT_EQ(kept->view()["AliasName"].data(), "{}") << "the desktop application's other values stay";
}

TEST_F(SystemAppProxies, RecordNamingAPathOutsideTheProxyFolderIsNotDeleted) {
    std::string elsewhere = sandbox.homePath("Documents/keep");
    sandbox.writeFile(elsewhere + "/file", "precious");
    writeRecordWithoutTile(elsewhere);

    EXPECT_EQ(driver({"restore-proxy", "Safari", safari}).out, "true\n");
    EXPECT_EQ(sandbox.readFile(elsewhere + "/file"), "precious");
    EXPECT_TRUE(records().empty());
}

TEST_F(SystemAppProxies, UnreadableAppPreferencesAreKeptAsideWhenARecordIsWritten) {
    sandbox.writeFile(appPreferencesPath(), "not a property list");
    prepare("commit", safari);
    EXPECT_EQ(records().size(), 1u);
    auto kept = namesStartingWith(sandbox.homePath("Library/Preferences"),
                                  "com.quartelmisko.Mivora.plist.unreadable-");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(sandbox.readFile(sandbox.homePath("Library/Preferences/" + kept[0])), "not a property list");
}

TEST_F(SystemAppProxies, ResolveAndProxyPathTests) {
    auto resolved = [&] {
        return core::Json::parse(driver({"resolve-proxy", "Safari", safari}).out).at("path");
    };
    EXPECT_EQ(resolved(), safari);
    prepare("commit", safari);
    EXPECT_EQ(resolved(), proxy);
    platform::removeItem(proxy);
    EXPECT_EQ(resolved(), safari) << "a record whose proxy is gone is not followed";

    struct Case {
        std::string path;
        bool inside;
    } cases[] = {
        {proxy, true},
        {proxy + "/", true},
        {proxyFolder, false},
        {proxyFolder + "/", false},
        {proxyFolder + "2/Safari.app", false},
        {safari, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(driver({"is-proxy-path", c.path}).out, c.inside ? "true\n" : "false\n") << c.path;
}

} // namespace
} // namespace mivora::testing
