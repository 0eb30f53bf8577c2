// Runs of the tool side by side, as agents start them: one set-icon per
// application, light and dark for one application at once, remove-icon among
// set-icon runs, collections add and mark into one collection, two pinned system
// applications at once. Every run that reports success is in the store, with
// nothing lost; a store kept busy too long ends a run with an error naming it;
// a killed run leaves no lock behind; and an icon cache that cannot be decoded or
// read is never replaced without a copy.
#include "core/base64.h"
#include "platform/file_url.h"
#include "platform/filesystem.h"
#include "platform/property_list.h"
#include "support/collection_fixture.h"
#include "support/config_document_fixture.h"
#include "support/dock_fixture.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/icon_fixtures.h"
#include "support/icons_driver.h"
#include "support/sandbox.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace mivora::testing {
namespace {

using Lines = std::vector<std::vector<std::string>>;

// Starts every command line at once and waits for all of them.
std::vector<RunResult> runTogether(const Sandbox& sandbox, const Lines& lines) {
    std::vector<std::future<RunResult>> runs;
    for (const auto& line : lines)
        runs.push_back(std::async(std::launch::async, [&sandbox, line] { return sandbox.run(line); }));
    std::vector<RunResult> results;
    for (auto& run : runs)
        results.push_back(run.get());
    return results;
}

// helper.sh for these tests: leaves the icon it set in <target>/applied (so the
// icon a bundle ends with can be checked) and marks tmp/helper.running. While
// bin/helper.company exists it waits (at most 5 s) until another helper run has
// begun and then logs "together"; while bin/helper.block names its icon it does not end.
void installHelper(const Sandbox& sandbox) {
    const std::string started = sandbox.tmp() + "/started", bin = sandbox.bin();
    sandbox.writeScript(helperIn(sandbox),
                        "target=\"$2\"; icon=\"$3\"\n"
                        "mkdir -p '" +
                            started + "'; : > '" + started + "/'$$; : > '" + sandbox.tmp() +
                            "/helper.running'\n"
                            "count() { ls '" +
                            started +
                            "' | wc -l; }\n"
                            "if [ -e '" +
                            bin +
                            "/helper.company' ]; then\n"
                            "  i=0\n"
                            "  while [ $(count) -lt 2 ] && [ $i -lt 250 ]; do sleep 0.02; i=$((i+1)); done\n"
                            "  [ $(count) -ge 2 ] && echo together >> '" +
                            sandbox.tmp() +
                            "/company.log'\n"
                            "fi\n"
                            "while [ \"$(cat '" +
                            bin +
                            "/helper.block' 2>/dev/null)\" = \"$icon\" ]; do sleep 0.02; done\n"
                            "if [ \"$icon\" = --remove ]; then rm -f \"$target/applied\"\n"
                            "else printf '%s' \"$icon\" > \"$target/applied\"; fi\n");
}

// A PNG that differs from every other one the test writes.
std::string distinctIcon(const Sandbox& sandbox, const std::string& name, int serial) {
    std::string path = sandbox.homePath("art/" + name + ".png");
    sandbox.writeFile(path, solidPNG(8 + serial % 40, 8 + serial / 40, kIconRed));
    return path;
}

// The bytes of the image that a cache slot names.
std::optional<std::string> slotImage(const Sandbox& sandbox, const core::Json& entry, const char* slot) {
    if (!entry.contains(slot)) return std::nullopt;
    return sandbox.readFile(cachedImage(sandbox, entry.at(slot).get<std::string>()));
}

// Holds an exclusive lock on a folder the way another run of the tool would.
class HeldLock {
public:
    explicit HeldLock(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        EXPECT_GE(fd_, 0) << path;
        EXPECT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0) << path;
    }
    ~HeldLock() { ::close(fd_); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    int fd_ = -1;
};

std::string busyError(const std::string& store, const std::string& seconds) {
    return "Error: " + store + " is in use by another mivora process and stayed busy for " + seconds +
           " s; nothing was changed. Try again when it has finished.\n";
}

class ConcurrentRuns : public ::testing::Test {
protected:
    void SetUp() override {
        prepareIconCommands(sandbox, false);
        installHelper(sandbox);
    }

    std::string appSupport() const {
        return sandbox.homePath("Library/Application Support/com.quartelmisko.Mivora");
    }
    void clearStarted() const { platform::removeItemQuietly(sandbox.tmp() + "/started"); }

    Sandbox sandbox;
};

TEST_F(ConcurrentRuns, SetIconForManyAppsAtOnceKeepsEveryEntryAndOverlapsTheHelpers) {
    constexpr int kApps = 12;
    std::vector<std::string> apps;
    for (int i = 0; i < kApps; ++i)
        apps.push_back(sandbox.addApp({.name = "App " + std::to_string(i)}));
    sandbox.writeFile(sandbox.bin() + "/helper.company", "");

    for (int round = 0; round < 3; ++round) {
        clearStarted();
        platform::removeItemQuietly(sandbox.tmp() + "/company.log");
        Lines lines;
        std::vector<std::string> icons;
        for (int i = 0; i < kApps; ++i) {
            icons.push_back(distinctIcon(sandbox, "r" + std::to_string(round) + "-" + std::to_string(i),
                                         round * kApps + i));
            lines.push_back({"set-icon", apps[i], icons[i], "--no-refresh"});
        }
        auto results = runTogether(sandbox, lines);

        auto cache = iconCacheDocument(sandbox);
        ASSERT_TRUE(cache) << "round " << round;
        for (int i = 0; i < kApps; ++i) {
            const auto& result = results[i];
            ASSERT_EQ(result.status, 0) << result.err;
            EXPECT_EQ(result.out, "✓ Applied light icon to App " + std::to_string(i) + "\n");
            ASSERT_TRUE(cache->contains(apps[i])) << "round " << round << ": lost " << apps[i];
            EXPECT_EQ(slotImage(sandbox, cache->at(apps[i]), "iconFileName"), sandbox.readFile(icons[i]));
            EXPECT_EQ(sandbox.readFile(apps[i] + "/applied"), icons[i]);
        }
        EXPECT_EQ(cache->size(), size_t{kApps});
        // Each replaced image went with its slot: none is orphaned.
        EXPECT_EQ(cachedImageNames(sandbox).size(), size_t{kApps}) << "round " << round;
        // No lock is held across a helper run: the helpers of different applications overlap.
        auto company = sandbox.readFile(sandbox.tmp() + "/company.log").value_or("");
        EXPECT_EQ(std::count(company.begin(), company.end(), '\n'), kApps) << "round " << round;
    }
}

TEST_F(ConcurrentRuns, LightAndDarkForOneAppAtOnceKeepBothSlotsAndTheShownSlotWins) {
    std::string notes = sandbox.addApp({.name = "Notes"});
    int serial = 0;
    // Light first: from its first round on the entry holds two different slots,
    // so the slot the bundle must show does not depend on which run went first.
    for (bool dark : {false, true}) {
        setDarkAppearance(sandbox, dark);
        for (int round = 0; round < 3; ++round) {
            std::string light = distinctIcon(sandbox, "light-" + std::to_string(serial), serial);
            ++serial;
            std::string darkIcon = distinctIcon(sandbox, "dark-" + std::to_string(serial), serial);
            ++serial;
            auto results =
                runTogether(sandbox, {{"set-icon", notes, light, "--appearance", "light", "--no-refresh"},
                                      {"set-icon", notes, darkIcon, "--appearance", "dark", "--no-refresh"}});
            for (const auto& result : results)
                ASSERT_EQ(result.status, 0) << result.err;

            auto cache = iconCacheDocument(sandbox);
            ASSERT_TRUE(cache && cache->contains(notes));
            const auto& entry = cache->at(notes);
            EXPECT_EQ(slotImage(sandbox, entry, "iconFileName"), sandbox.readFile(light)) << dark << round;
            EXPECT_EQ(slotImage(sandbox, entry, "darkIconFileName"), sandbox.readFile(darkIcon))
                << dark << round;
            EXPECT_EQ(cachedImageNames(sandbox).size(), 2u);
            // Whichever run went first, the bundle shows the slot of the system's appearance.
            EXPECT_EQ(sandbox.readFile(notes + "/applied"), dark ? darkIcon : light) << round;
        }
    }
}

TEST_F(ConcurrentRuns, RemoveDarkIconAndANewLightIconAtOnceEndWithTheNewLightIcon) {
    // In either order, one after the other, the bundle ends with the new light
    // icon: each run's choice (apply or only cache, re-apply which image) is taken
    // from the entry as the other run left it.
    setDarkAppearance(sandbox, true);
    std::string notes = sandbox.addApp({.name = "Notes"});
    for (int round = 0; round < 4; ++round) {
        std::vector<FixtureCacheEntry> entries = {{.appPath = notes,
                                                   .appName = "Notes",
                                                   .iconFileName = "L" + std::to_string(round) + ".png",
                                                   .darkIconFileName = "D" + std::to_string(round) + ".png"}};
        platform::removeItemQuietly(cachedImagesFolder(sandbox));
        writeIconCache(sandbox, entries);
        writeCachedImages(sandbox, entries);
        std::string light = distinctIcon(sandbox, "new-light-" + std::to_string(round), round);
        auto results =
            runTogether(sandbox, {{"set-icon", notes, light, "--appearance", "light", "--no-refresh"},
                                  {"remove-dark-icon", notes}});
        for (const auto& result : results)
            ASSERT_EQ(result.status, 0) << result.err;

        auto cache = iconCacheDocument(sandbox);
        ASSERT_TRUE(cache && cache->contains(notes));
        EXPECT_EQ(slotImage(sandbox, cache->at(notes), "iconFileName"), sandbox.readFile(light)) << round;
        EXPECT_FALSE(cache->at(notes).contains("darkIconFileName")) << round;
        EXPECT_EQ(cachedImageNames(sandbox).size(), 1u) << round;
        auto shown = sandbox.readFile(notes + "/applied");
        ASSERT_TRUE(shown) << round;
        EXPECT_EQ(sandbox.readFile(*shown), sandbox.readFile(light)) << "round " << round << ": " << *shown;
    }
}

TEST_F(ConcurrentRuns, RemoveIconAmongSetIconRunsLosesNothing) {
    constexpr int kApps = 10;
    std::vector<std::string> apps;
    std::vector<FixtureCacheEntry> entries;
    for (int i = 0; i < kApps; ++i) {
        apps.push_back(sandbox.addApp({.name = "App " + std::to_string(i)}));
        entries.push_back({.appPath = apps[i],
                           .appName = "App " + std::to_string(i),
                           .iconFileName = "OLD-" + std::to_string(i) + ".png"});
    }
    // An entry no run touches.
    entries.push_back(
        {.appPath = "/Applications/Bystander.app", .appName = "Bystander", .iconFileName = "BY.png"});
    writeIconCache(sandbox, entries);
    writeCachedImages(sandbox, entries);

    for (int round = 0; round < 2; ++round) {
        Lines lines;
        std::map<std::string, std::string> set; // app -> icon
        std::set<std::string> removed;
        for (int i = 0; i < kApps; ++i) {
            if ((i + round) % 2 == 0) {
                removed.insert(apps[i]);
                lines.push_back({"remove-icon", apps[i], "--no-refresh"});
            } else {
                set[apps[i]] =
                    distinctIcon(sandbox, std::to_string(round) + "-" + std::to_string(i), round * kApps + i);
                lines.push_back({"set-icon", apps[i], set[apps[i]], "--no-refresh"});
            }
        }
        for (const auto& result : runTogether(sandbox, lines))
            ASSERT_EQ(result.status, 0) << result.err;

        auto cache = iconCacheDocument(sandbox);
        ASSERT_TRUE(cache);
        for (const auto& app : removed)
            EXPECT_FALSE(cache->contains(app)) << "round " << round << ": " << app;
        for (const auto& [app, icon] : set) {
            ASSERT_TRUE(cache->contains(app)) << "round " << round << ": lost " << app;
            EXPECT_EQ(slotImage(sandbox, cache->at(app), "iconFileName"), sandbox.readFile(icon));
        }
        EXPECT_TRUE(cache->contains("/Applications/Bystander.app"));
        EXPECT_EQ(cache->size(), set.size() + 1);
        EXPECT_EQ(cachedImageNames(sandbox).size(), set.size() + 1) << "round " << round;
    }
}

TEST_F(ConcurrentRuns, CollectionsAddAndMarkIntoOneCollectionLoseNothing) {
    constexpr int kAdds = 10;
    std::vector<ManifestEntry> marked;
    for (int i = 0; i < 4; ++i)
        marked.push_back({.key = "kept-" + std::to_string(i),
                          .appName = "Kept " + std::to_string(i),
                          .attempts = 3,
                          .dark = true});
    writeCollection(sandbox, "naruto", manifestDocument("naruto", "Naruto", marked));

    for (int round = 0; round < 2; ++round) {
        const std::string status = round == 0 ? "rejected" : "skipped";
        Lines lines;
        for (int i = 0; i < kAdds; ++i) {
            lines.push_back(
                {"collections", "add", "naruto", "Cool App " + std::to_string(i),
                 distinctIcon(sandbox, "add-" + std::to_string(round) + "-" + std::to_string(i), i),
                 "--force"});
        }
        for (const auto& entry : marked) {
            lines.push_back({"collections", "mark", "naruto", entry.key, "--status", status, "--reason",
                             "round " + std::to_string(round)});
        }
        auto results = runTogether(sandbox, lines);
        for (const auto& result : results)
            ASSERT_EQ(result.status, 0) << result.err;

        auto icons = readManifest(sandbox, "naruto").at("icons");
        EXPECT_EQ(icons.size(), size_t{kAdds} + marked.size());
        for (int i = 0; i < kAdds; ++i) {
            std::string key = "cool-app-" + std::to_string(i);
            ASSERT_TRUE(icons.contains(key)) << "round " << round << ": lost " << key;
            EXPECT_EQ(icons.at(key).at("status"), "done");
            EXPECT_EQ(icons.at(key).at("attempts"), round + 1);
            EXPECT_TRUE(platform::fileExists(collectionFolder(sandbox, "naruto") + "/icons/" + key + ".png"));
        }
        for (const auto& entry : marked) {
            const auto& stored = icons.at(entry.key);
            EXPECT_EQ(stored.at("status"), status) << entry.key;
            EXPECT_EQ(stored.at("reason"), "round " + std::to_string(round));
            // Fields that mark keeps come from the manifest it changed, not from an earlier read.
            EXPECT_EQ(stored.at("attempts"), 3);
            EXPECT_EQ(stored.at("dark"), true);
        }
    }
}

TEST_F(ConcurrentRuns, TwoPinnedSystemAppsAtOnceBothEndOnTheirProxies) {
    const std::vector<std::pair<std::string, std::string>> names = {{"Maps", "com.apple.Maps"},
                                                                    {"Photos", "com.apple.Photos"}};
    for (int round = 0; round < 3; ++round) {
        Sandbox fresh;
        prepareIconCommands(fresh, false);
        installHelper(fresh);
        std::vector<PinnedSystemApp> apps;
        std::vector<platform::Plist> tiles;
        for (const auto& [name, id] : names) {
            apps.push_back(addPinnedSystemApp(fresh, name, id));
            tiles.push_back(dockTile(apps.back().path, name, id, static_cast<int64_t>(tiles.size()) + 1));
        }
        tiles.push_back(dockTile(fresh.rootPath("/Applications/Notes.app"), "Notes", "com.example.notes", 9));
        writeDock(fresh, std::move(tiles));
        std::string before = dockTilesXML(fresh);

        // Both applications, one of them in both slots at once.
        auto results =
            runTogether(fresh, {{"set-icon", apps[0].path, distinctIcon(fresh, "a", 1), "--no-refresh"},
                                {"set-icon", apps[1].path, distinctIcon(fresh, "b", 2), "--no-refresh"},
                                {"set-icon", apps[1].path, distinctIcon(fresh, "c", 3), "--appearance",
                                 "dark", "--no-refresh"}});
        for (const auto& result : results)
            ASSERT_EQ(result.status, 0) << result.err;

        auto dock = readDock(fresh);
        auto current = dock.view()["persistent-apps"];
        ASSERT_EQ(current.size(), 3u) << before;
        auto records = systemProxyRecords(fresh);
        for (size_t i = 0; i < apps.size(); ++i) {
            auto url = current.at(i)["tile-data"]["file-data"]["_CFURLString"].string().value_or("");
            EXPECT_EQ(platform::droppingTrailingSlash(platform::filePathOfURL(url).value_or("")),
                      apps[i].proxy)
                << "round " << round << ": " << url;
            ASSERT_TRUE(records.contains(apps[i].path)) << "round " << round << ": lost " << apps[i].path;
            // The record keeps the tile it replaced, whichever run swapped it.
            const auto& record = records.at(apps[i].path);
            ASSERT_TRUE(record.contains("originalDockEntry")) << apps[i].path;
            auto bytes = core::decodeBase64(record.at("originalDockEntry").get<std::string>()).bytes;
            ASSERT_TRUE(bytes);
            auto tile = platform::parsePropertyList(*bytes);
            ASSERT_TRUE(tile);
            EXPECT_EQ(tile->view()["tile-data"]["file-label"].string(), names[i].first);
        }
        EXPECT_EQ(records.size(), apps.size());
        EXPECT_EQ(iconCacheDocument(fresh)->size(), apps.size());
    }
}

TEST_F(ConcurrentRuns, AKilledRunLeavesNoLockBehind) {
    std::string notes = sandbox.addApp({.name = "Notes"});
    std::string first = distinctIcon(sandbox, "first", 1), second = distinctIcon(sandbox, "second", 2);
    sandbox.writeFile(sandbox.bin() + "/helper.block", first);
    BackgroundProcess holder(sandbox, {mivoraBinary(), "set-icon", notes, first, "--no-refresh"});
    ASSERT_TRUE(waitForFile(sandbox.tmp() + "/helper.running", 20));

    // While it lives, another run for the same application waits its turn, and gives up.
    sandbox.environment["MIVORA_LOCK_WAIT_SECONDS"] = "0.2";
    auto waited = sandbox.run({"set-icon", notes, second, "--no-refresh"});
    EXPECT_EQ(waited.status, 1);
    EXPECT_EQ(waited.err, busyError(notes, "0.2"));

    // Its helper goes on blocking: only the killed run itself ever held the lock.
    holder.kill();
    sandbox.environment.erase("MIVORA_LOCK_WAIT_SECONDS");
    auto start = std::chrono::steady_clock::now();
    auto next = sandbox.run({"set-icon", notes, second, "--no-refresh"});
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    auto cache = iconCacheDocument(sandbox);
    ASSERT_TRUE(cache && cache->contains(notes));
    EXPECT_EQ(slotImage(sandbox, cache->at(notes), "iconFileName"), sandbox.readFile(second));
    platform::removeItem(sandbox.bin() + "/helper.block");
}

TEST_F(ConcurrentRuns, AStoreKeptBusyEndsTheRunNamingItAndChangesNothing) {
    std::string notes = sandbox.addApp({.name = "Notes"});
    std::string icon = distinctIcon(sandbox, "icon", 1);
    PinnedSystemApp maps = addPinnedSystemApp(sandbox, "Maps", "com.apple.Maps");
    writeIconCache(sandbox,
                   {{.appPath = "/Applications/Other.app", .appName = "Other", .iconFileName = "O.png"}});
    writeCollection(
        sandbox, "naruto",
        manifestDocument("naruto", "Naruto", {{.key = "safari", .appName = "Safari", .status = "done"}}));
    std::string collection = collectionFolder(sandbox, "naruto");
    std::string config = sandbox.tmp() + "/config.json";
    sandbox.writeFile(config, ConfigDocument{}.text());
    std::string configFolder = appSupport() + "/config";
    platform::createDirectories(configFolder);
    sandbox.environment["MIVORA_LOCK_WAIT_SECONDS"] = "0.3";

    struct Case {
        const char* name;
        std::string locked; // the folder that another run holds
        std::string store;  // named by the error
        std::vector<std::string> arguments;
    } cases[] = {
        {"icon cache", appSupport(), iconCacheFile(sandbox), {"set-icon", notes, icon, "--no-refresh"}},
        {"preferences",
         sandbox.homePath("Library/Preferences"),
         sandbox.homePath("Library/Preferences/com.quartelmisko.Mivora.plist"),
         {"set-icon", maps.path, icon, "--no-refresh"}},
        {"manifest",
         collection,
         collection + "/manifest.json",
         {"collections", "mark", "naruto", "safari", "--status", "rejected"}},
        {"manifest, for publish",
         collection,
         collection + "/manifest.json",
         {"collections", "publish", "naruto"}},
        {"staged import", configFolder, configFolder + "/imported_config.json", {"import", config}},
    };
    for (const auto& c : cases) {
        std::map<std::string, std::optional<std::string>> before;
        for (const auto& path : {iconCacheFile(sandbox), dockPreferencesPath(sandbox),
                                 collection + "/manifest.json", configFolder + "/imported_config.json"})
            before[path] = sandbox.readFile(path);

        HeldLock held(c.locked);
        auto start = std::chrono::steady_clock::now();
        auto result = sandbox.run(c.arguments);
        EXPECT_EQ(result.status, 1) << c.name;
        EXPECT_TRUE(result.err.ends_with(busyError(c.store, "0.3"))) << c.name << ": " << result.err;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << c.name;

        for (const auto& [path, bytes] : before)
            EXPECT_EQ(sandbox.readFile(path), bytes) << c.name << ": " << path;
        EXPECT_FALSE(platform::fileExists(sandbox.tmp() + "/helper.running")) << c.name;
        EXPECT_FALSE(platform::fileExists(maps.proxyFolder)) << c.name;
        EXPECT_EQ(cachedImageNames(sandbox), std::vector<std::string>{}) << c.name;
    }
}

// How the icon cache file is stored, and whether a write must keep it aside first.
TEST_F(ConcurrentRuns, AnIconCacheThatDoesNotDecodeIsKeptAsideBeforeItIsReplaced) {
    std::string notes = sandbox.addApp({.name = "Notes"});
    std::string icon = distinctIcon(sandbox, "icon", 1);
    core::Json good =
        iconCacheJson({{.appPath = "/Applications/Good.app", .appName = "Good", .iconFileName = "G.png"}});
    core::Json badlyTyped = good;
    badlyTyped["/Applications/Bad.app"] = {{"appPath", "/Applications/Bad.app"},
                                           {"iconFileName", "B.png"},
                                           {"appName", "Bad"},
                                           {"timestamp", "yesterday"}};
    core::Json fallback =
        iconCacheJson({{.appPath = "/Applications/Pref.app", .appName = "Pref", .iconFileName = "P.png"}});

    struct Case {
        const char* name;
        std::string bytes;
        bool preferenceCopy;              // the desktop application holds its own copy
        std::vector<std::string> entries; // what the new file holds
    } cases[] = {
        {"one badly typed entry", badlyTyped.dump(), false, {notes}},
        {"not JSON", "{\"/Applications/Good.app\": {", false, {notes}},
        {"a JSON array", "[]", false, {notes}},
        {"not UTF-8", "\xff\xfe{}", true, {"/Applications/Pref.app", notes}},
    };
    for (const auto& c : cases) {
        platform::removeItemQuietly(appSupport());
        platform::removeItemQuietly(sandbox.homePath("Library/Preferences/com.quartelmisko.Mivora.plist"));
        if (c.preferenceCopy) writeAppDefaults(sandbox, {{"com.mivora.cachedIcons", fallback.dump()}});
        sandbox.writeFile(iconCacheFile(sandbox), c.bytes);

        auto result = sandbox.run({"set-icon", notes, icon, "--no-refresh"});
        ASSERT_EQ(result.status, 0) << c.name << ": " << result.err;

        auto kept = namesStartingWith(appSupport(), "icon-cache.json.unreadable-");
        ASSERT_EQ(kept.size(), 1u) << c.name;
        EXPECT_EQ(sandbox.readFile(appSupport() + "/" + kept[0]), c.bytes) << c.name;
        auto cache = iconCacheDocument(sandbox);
        ASSERT_TRUE(cache) << c.name;
        std::vector<std::string> keys;
        for (const auto& [key, value] : cache->items())
            keys.push_back(key);
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, c.entries) << c.name;
    }

    // A decodable file is simply rewritten: nothing is kept aside.
    platform::removeItemQuietly(appSupport());
    sandbox.writeFile(iconCacheFile(sandbox), good.dump());
    ASSERT_EQ(sandbox.run({"set-icon", notes, icon, "--no-refresh"}).status, 0);
    EXPECT_EQ(namesStartingWith(appSupport(), "icon-cache.json.unreadable-"), std::vector<std::string>{});
    EXPECT_EQ(iconCacheDocument(sandbox)->size(), 2u);
}

TEST_F(ConcurrentRuns, AnIconCacheWeCannotReadIsNeverReplaced) {
    std::string notes = sandbox.addApp({.name = "Notes"});
    std::string icon = distinctIcon(sandbox, "icon", 1);
    writeIconCache(sandbox,
                   {{.appPath = "/Applications/Other.app", .appName = "Other", .iconFileName = "O.png"}});
    const std::string file = iconCacheFile(sandbox);
    const std::string bytes = *sandbox.readFile(file);

    // Owned by another user: as root, the sandbox goes to "nobody" and the cache stays root's.
    std::vector<std::string> prefix;
    if (::geteuid() == 0) {
        if (!platform::fileExists("/usr/bin/setpriv"))
            GTEST_SKIP() << "setpriv is needed to run as another user";
        for (const auto& item : std::filesystem::recursive_directory_iterator(sandbox.dir()))
            ASSERT_EQ(::lchown(item.path().c_str(), 65534, 65534), 0) << item.path();
        ASSERT_EQ(::chown(sandbox.dir().c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown(file.c_str(), 0, 0), 0);
        ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
        prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    } else {
        ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    }
    auto run = [&](std::vector<std::string> arguments) {
        std::vector<std::string> argv = prefix;
        argv.push_back(mivoraBinary());
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return sandbox.runProgram(argv);
    };

    auto result = run({"set-icon", notes, icon, "--no-refresh"});
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_EQ(result.err,
              "Error: Cannot read " + file +
                  ": Permission denied; the icon cache was left as it is and nothing was changed\n");
    EXPECT_FALSE(platform::fileExists(sandbox.tmp() + "/helper.running")) << "the bundle was not touched";
    EXPECT_EQ(cachedImageNames(sandbox), std::vector<std::string>{});

    // A run that only reads still reads it as empty.
    auto listed = run({"list", "--icons"});
    EXPECT_EQ(listed.status, 0) << listed.err;

    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    EXPECT_EQ(sandbox.readFile(file), bytes);
    EXPECT_EQ(namesStartingWith(appSupport(), "icon-cache.json"),
              std::vector<std::string>{"icon-cache.json"});
}

// helper.sh for the turn tests: does its work (the icon's path in
// <target>/applied, or removes it), logs "<target> <icon>" to tmp/helper.calls
// and, when it is the first helper of the test and bin/hold exists, then waits
// until bin/hold is gone: its run is held between its helper and its writes.
void installHoldingHelper(const Sandbox& sandbox) {
    const std::string tmp = sandbox.tmp(), hold = sandbox.bin() + "/hold";
    sandbox.writeScript(helperIn(sandbox), "target=\"$2\"; icon=\"$3\"\n"
                                           "if [ \"$icon\" = --remove ]; then rm -f \"$target/applied\"\n"
                                           "else printf '%s' \"$icon\" > \"$target/applied\"; fi\n"
                                           "echo \"$target $icon\" >> '" +
                                               tmp +
                                               "/helper.calls'\n"
                                               "if mkdir '" +
                                               tmp + "/first' 2>/dev/null && [ -e '" + hold +
                                               "' ]; then\n"
                                               "  : > '" +
                                               tmp + "/helper.running'\n  while [ -e '" + hold +
                                               "' ]; do sleep 0.02; done\nfi\n");
}

std::future<RunResult> startRun(const Sandbox& sandbox, std::vector<std::string> arguments) {
    return std::async(std::launch::async, [&sandbox, arguments] { return sandbox.run(arguments); });
}

bool stillRunning(std::future<RunResult>& run) {
    return run.wait_for(std::chrono::milliseconds(700)) == std::future_status::timeout;
}

// Waits until `count` processes have a file of `folder` open: a run waiting for
// an application's turn holds its lock file open. A slow start (a sanitizer's,
// a loaded machine) must not let the holder finish before the waiter is there.
bool processesHoldFilesIn(const std::string& folder, size_t count, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    do {
        std::set<std::string> holders;
        std::error_code error;
        for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
            std::error_code fdError;
            for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", fdError)) {
                std::error_code linkError;
                const std::string target = std::filesystem::read_symlink(fd.path(), linkError).string();
                if (!linkError && target.rfind(folder + "/", 0) == 0) holders.insert(process.path().string());
            }
        }
        if (holders.size() >= count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

// The bytes of the icon a bundle shows under the holding helper; nothing when it has none.
std::optional<std::string> shownIcon(const Sandbox& sandbox, const std::string& bundle) {
    auto icon = sandbox.readFile(bundle + "/applied");
    return icon ? sandbox.readFile(*icon) : std::nullopt;
}

class ApplicationTurns : public ::testing::Test {
protected:
    void SetUp() override {
        prepareIconCommands(sandbox, false);
        installHoldingHelper(sandbox);
    }
    // Holds the first helper of the next runs until release().
    void hold() {
        platform::removeItemQuietly(sandbox.tmp() + "/first");
        platform::removeItemQuietly(sandbox.tmp() + "/helper.running");
        platform::removeItemQuietly(sandbox.tmp() + "/helper.calls");
        sandbox.writeFile(sandbox.bin() + "/hold", "");
    }
    void release() { platform::removeItem(sandbox.bin() + "/hold"); }
    std::string appSupport() const {
        return sandbox.homePath("Library/Application Support/com.quartelmisko.Mivora");
    }
    std::vector<std::string> helperCalls() const {
        std::vector<std::string> calls;
        std::string text = sandbox.readFile(sandbox.tmp() + "/helper.calls").value_or("");
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            calls.push_back(text.substr(start, end - start));
        return calls;
    }

    Sandbox sandbox;
};

TEST_F(ApplicationTurns, RestoreTakesItsTurnWithSetIconAndRemoveIcon) {
    std::string notes = sandbox.addApp({.name = "Notes"});
    struct Case {
        const char* name;
        bool restoreFirst;
        bool setIcon; // the other run: set-icon, else remove-icon
        const char* restoreOutput;
    } cases[] = {
        {"set-icon held after its helper, then restore", false, true,
         "  ✓ Notes\n\n1 restored, 0 failed, 0 skipped\n"},
        {"remove-icon held after its helper, then restore", false, false,
         "  ⊘ Notes — no longer cached\n\n0 restored, 0 failed, 1 skipped\n"},
        {"restore held after its helper, then set-icon", true, true,
         "  ✓ Notes\n\n1 restored, 0 failed, 0 skipped\n"},
        {"restore held after its helper, then remove-icon", true, false,
         "  ✓ Notes\n\n1 restored, 0 failed, 0 skipped\n"},
    };
    int serial = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::removeItemQuietly(cachedImagesFolder(sandbox));
        platform::removeItemQuietly(notes + "/applied");
        std::vector<FixtureCacheEntry> entries = {
            {.appPath = notes, .appName = "Notes", .iconFileName = "OLD.png"}};
        writeIconCache(sandbox, entries);
        writeCachedImages(sandbox, entries);
        std::string fresh = distinctIcon(sandbox, "fresh-" + std::to_string(serial), serial);
        ++serial;
        std::vector<std::string> other =
            c.setIcon ? std::vector<std::string>{"set-icon", notes, fresh, "--no-refresh"}
                      : std::vector<std::string>{"remove-icon", notes, "--no-refresh"};
        std::vector<std::string> restore = {"restore", "Notes", "--verbose"};

        hold();
        auto first = startRun(sandbox, c.restoreFirst ? restore : other);
        ASSERT_TRUE(waitForFile(sandbox.tmp() + "/helper.running", 20));
        auto second = startRun(sandbox, c.restoreFirst ? other : restore);
        // The second run waits for the application's turn: it has not reached its helper.
        ASSERT_TRUE(processesHoldFilesIn(appSupport() + "/locks", 2, 20));
        EXPECT_TRUE(stillRunning(second));
        EXPECT_EQ(helperCalls().size(), 1u);
        release();
        RunResult firstResult = first.get(), secondResult = second.get();
        const RunResult& restored = c.restoreFirst ? firstResult : secondResult;
        const RunResult& changed = c.restoreFirst ? secondResult : firstResult;
        ASSERT_EQ(restored.status, 0) << restored.err;
        ASSERT_EQ(changed.status, 0) << changed.err;
        EXPECT_EQ(restored.out, c.restoreOutput);
        EXPECT_EQ(changed.out, c.setIcon ? "✓ Applied light icon to Notes\n"
                                         : "✓ Default icon restored for Notes\n  Cleared Mivora cache\n");

        // The bundle shows what the cache names, as the run that went last left them.
        auto cache = iconCacheDocument(sandbox);
        ASSERT_TRUE(cache);
        if (c.setIcon) {
            ASSERT_TRUE(cache->contains(notes));
            EXPECT_EQ(slotImage(sandbox, cache->at(notes), "iconFileName"), sandbox.readFile(fresh));
            EXPECT_EQ(shownIcon(sandbox, notes), sandbox.readFile(fresh));
        } else {
            EXPECT_FALSE(cache->contains(notes));
            EXPECT_FALSE(platform::fileExists(notes + "/applied")) << "a custom icon with no entry";
        }
    }
}

TEST_F(ApplicationTurns, EscapeJailWaitsForTheApplicationsTurn) {
    std::string notes = sandbox.addApp({.name = "Notes", .extraStrings = {{"CFBundleIconFile", "AppIcon"}}});
    sandbox.writeFile(notes + "/Contents/Resources/AppIcon.icns", "icns");
    hold();
    auto held = startRun(sandbox, {"set-icon", notes, distinctIcon(sandbox, "set", 1), "--no-refresh"});
    ASSERT_TRUE(waitForFile(sandbox.tmp() + "/helper.running", 20));
    auto escape = startRun(sandbox, {"escape-jail", notes});
    EXPECT_TRUE(stillRunning(escape));
    EXPECT_EQ(helperCalls().size(), 1u);
    release();
    EXPECT_EQ(held.get().status, 0);
    auto result = escape.get();
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "✓ Escaped squircle jail for Notes\n");
    EXPECT_EQ(helperCalls().back(), notes + " " + notes + "/Contents/Resources/AppIcon.icns");
}

TEST_F(ApplicationTurns, ABundleReplacedWhileItsTurnIsHeldStillKeepsTheNextRunWaiting) {
    std::string notes = sandbox.addApp({.name = "Notes"});
    std::string first = distinctIcon(sandbox, "first", 1), second = distinctIcon(sandbox, "second", 2);
    hold();
    auto held = startRun(sandbox, {"set-icon", notes, first, "--no-refresh"});
    ASSERT_TRUE(waitForFile(sandbox.tmp() + "/helper.running", 20));

    // An update moves a new bundle into place.
    std::string update = sandbox.addApp({.name = "Notes", .folder = sandbox.dir() + "/update"});
    ASSERT_EQ(::rename(notes.c_str(), (notes + ".old").c_str()), 0);
    ASSERT_EQ(::rename(update.c_str(), notes.c_str()), 0);

    auto next = startRun(sandbox, {"set-icon", notes, second, "--no-refresh"});
    EXPECT_TRUE(stillRunning(next));
    EXPECT_EQ(helperCalls().size(), 1u);
    release();
    for (auto* run : {&held, &next}) {
        auto result = run->get();
        ASSERT_EQ(result.status, 0) << result.err;
    }
    auto cache = iconCacheDocument(sandbox);
    ASSERT_TRUE(cache && cache->contains(notes));
    EXPECT_EQ(slotImage(sandbox, cache->at(notes), "iconFileName"), sandbox.readFile(second));
    EXPECT_EQ(shownIcon(sandbox, notes), sandbox.readFile(second));
    // Nothing is left of the turns.
    EXPECT_EQ(platform::listDirectory(appSupport() + "/locks"), std::vector<std::string>{});
}

TEST_F(ApplicationTurns, ACollectionFolderReplacedWhileAddWaitsGetsTheEntryAndItsIcon) {
    writeCollection(
        sandbox, "naruto",
        manifestDocument("naruto", "Naruto", {{.key = "kept", .appName = "Kept", .status = "done"}}));
    const std::string folder = collectionFolder(sandbox, "naruto"), aside = folder + ".old";
    std::string oldManifest = *sandbox.readFile(folder + "/manifest.json");
    std::optional<std::future<RunResult>> add;
    {
        HeldLock held(folder);
        add = startRun(sandbox, {"collections", "add", "naruto", "Cool App", distinctIcon(sandbox, "cool", 1),
                                 "--force", "--json"});
        // The run writes its files ahead of its turn, beside where they go, and waits.
        auto writtenAhead = [&] {
            for (const char* sub : {"/icons", "/raw"}) {
                const auto names = platform::listDirectory(folder + sub).value_or(std::vector<std::string>{});
                if (std::none_of(names.begin(), names.end(),
                                 [](const std::string& name) { return name.starts_with(".cool-app.png."); }))
                    return false;
            }
            return true;
        };
        for (int i = 0; i < 2000 && !writtenAhead(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(writtenAhead());
        EXPECT_TRUE(stillRunning(*add));
        // Another copy of the collection takes its place, as a sync tool would put it.
        ASSERT_EQ(::rename(folder.c_str(), aside.c_str()), 0);
        writeCollection(sandbox, "naruto",
                        manifestDocument("naruto", "Naruto", {{.key = "synced", .appName = "Synced"}}));
    }
    auto result = add->get();
    ASSERT_EQ(result.status, 0) << result.err;
    auto icons = readManifest(sandbox, "naruto").at("icons");
    EXPECT_EQ(keysOf(icons), (std::vector<std::string>{"cool-app", "synced"}));
    EXPECT_EQ(icons.at("cool-app").at("status"), "done");
    EXPECT_EQ(core::Json::parse(result.out).at("iconPath"), folder + "/icons/cool-app.png");
    EXPECT_TRUE(platform::fileExists(folder + "/icons/cool-app.png"));
    EXPECT_TRUE(platform::fileExists(folder + "/raw/cool-app.png"));
    // The copy that was replaced is as it was: no staged file that no entry
    // names, and nothing of what was written ahead into it.
    EXPECT_EQ(sandbox.readFile(aside + "/manifest.json"), oldManifest);
    EXPECT_EQ(platform::listDirectory(aside + "/icons"), std::vector<std::string>{});
    EXPECT_EQ(platform::listDirectory(aside + "/raw"), std::vector<std::string>{});
}

// A file system that refuses locks (the preloaded library makes every flock
// fail with the given errno): the commands go on without them, and leave no
// lock file. Any other failure still stops the run.
TEST_F(ApplicationTurns, WhereTheFileSystemRefusesLocksCommandsGoOnWithout) {
    std::string notes = sandbox.addApp({.name = "Notes"});
    PinnedSystemApp maps = addPinnedSystemApp(sandbox, "Maps", "com.apple.Maps");
    writeCollection(sandbox, "naruto", manifestDocument("naruto", "Naruto", {}));
    sandbox.environment["LD_PRELOAD"] = MIVORA_REFUSING_FLOCK;
    // Under AddressSanitizer the preloaded library comes before its runtime; that is fine here.
    sandbox.environment["ASAN_OPTIONS"] = "detect_leaks=0:verify_asan_link_order=0";
    platform::removeItemQuietly(sandbox.bin() + "/hold");
    struct Case {
        const char* name;
        int error;
    } refusals[] = {{"ENOLCK", ENOLCK}, {"EOPNOTSUPP", EOPNOTSUPP}, {"ENOSYS", ENOSYS}, {"EINVAL", EINVAL}};
    int serial = 0;
    for (const auto& c : refusals) {
        SCOPED_TRACE(c.name);
        sandbox.environment["MIVORA_TEST_FLOCK_ERRNO"] = std::to_string(c.error);
        std::string icon = distinctIcon(sandbox, std::string("icon-") + c.name, ++serial);
        for (const auto& arguments : std::vector<std::vector<std::string>>{
                 {"set-icon", notes, icon, "--no-refresh"},
                 {"restore", "Notes"},
                 {"set-icon", maps.path, icon, "--no-refresh"},
                 {"collections", "add", "naruto", "Cool App", icon, "--force"},
                 {"collections", "mark", "naruto", "cool-app", "--status", "rejected"},
                 {"remove-icon", maps.path, "--no-refresh"},
                 {"remove-icon", notes, "--no-refresh"}}) {
            auto result = sandbox.run(arguments);
            EXPECT_EQ(result.status, 0) << arguments[0] << ": " << result.err;
        }
        EXPECT_EQ(iconCacheDocument(sandbox), core::Json::object());
        EXPECT_FALSE(platform::fileExists(maps.proxy));
        EXPECT_EQ(systemProxyRecords(sandbox), core::Json::object());
        EXPECT_EQ(readManifest(sandbox, "naruto").at("icons").at("cool-app").at("status"), "rejected");
        EXPECT_EQ(platform::listDirectory(appSupport() + "/locks"), std::vector<std::string>{});
    }

    platform::removeItemQuietly(sandbox.tmp() + "/helper.calls");
    sandbox.environment["MIVORA_TEST_FLOCK_ERRNO"] = std::to_string(EIO);
    auto failed = sandbox.run({"set-icon", notes, distinctIcon(sandbox, "eio", ++serial), "--no-refresh"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "Error: Cannot lock " + notes + ": Input/output error\n");
    EXPECT_EQ(helperCalls(), std::vector<std::string>{}) << "the bundle was not touched";
}

// A store kept busy after the helper has changed the bundle: the error says
// what the helper did and why the store was not changed, never that nothing was.
TEST_F(ApplicationTurns, AStoreBusyAfterTheHelperRanSaysWhatIsOnTheBundle) {
    std::string notes = sandbox.addApp({.name = "Notes"});
    sandbox.environment["MIVORA_LOCK_WAIT_SECONDS"] = "0.3";
    std::string busy =
        iconCacheFile(sandbox) + " is in use by another mivora process and stayed busy for 0.3 s";
    struct Case {
        const char* name;
        bool dark;
        std::vector<std::string> arguments;
        std::string error;
        bool showsIcon; // what the bundle shows afterwards: the new light icon, or none
    } cases[] = {
        {"set-icon",
         false,
         {"set-icon", notes, "ICON", "--no-refresh"},
         "The light icon is on Notes but could not be cached: " + busy,
         true},
        {"remove-icon",
         false,
         {"remove-icon", notes, "--no-refresh"},
         "The default icon is back on Notes, but its cached icons could not be cleared: " + busy +
             ". Run remove-icon again to clear them.",
         false},
        {"remove-dark-icon",
         true,
         {"remove-dark-icon", notes},
         "The light icon is back on Notes, but its dark variant could not be removed from the cache: " +
             busy + ". Run remove-dark-icon again to remove it.",
         true},
    };
    int serial = 0;
    for (auto c : cases) {
        SCOPED_TRACE(c.name);
        setDarkAppearance(sandbox, c.dark);
        platform::removeItemQuietly(cachedImagesFolder(sandbox));
        std::vector<FixtureCacheEntry> entries = {
            {.appPath = notes, .appName = "Notes", .iconFileName = "L.png", .darkIconFileName = "D.png"}};
        writeIconCache(sandbox, entries);
        writeCachedImages(sandbox, entries);
        std::string before = *sandbox.readFile(iconCacheFile(sandbox));
        std::string light = cachedImage(sandbox, "L.png");
        if (c.arguments[0] == "set-icon") light = c.arguments[2] = distinctIcon(sandbox, "busy", ++serial);

        hold();
        auto run = startRun(sandbox, c.arguments);
        ASSERT_TRUE(waitForFile(sandbox.tmp() + "/helper.running", 20));
        {
            HeldLock cacheLock(appSupport());
            release();
            auto result = run.get();
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, "Error: " + c.error + "\n");
        }
        EXPECT_EQ(sandbox.readFile(iconCacheFile(sandbox)), before);
        EXPECT_EQ(shownIcon(sandbox, notes), c.showsIcon ? sandbox.readFile(light) : std::nullopt);
    }
}

} // namespace
} // namespace mivora::testing
