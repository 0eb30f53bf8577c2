// The icon engine through `mivora set-icon`: whether an icon goes onto the
// bundle or is only cached, the checks before anything is touched, quitting,
// Apple system applications through their Dock proxy, and the rollback that
// leaves the Dock and the proxy folder as they were when a step fails.
#include "platform/file_url.h"
#include "platform/filesystem.h"
#include "support/dock_fixture.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/icon_fixtures.h"
#include "support/icons_driver.h"
#include "support/running_app.h"
#include "support/sandbox.h"

#include <chrono>
#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string appliedMessage(const std::string& slot, const std::string& name) {
    return "Applied " + slot + " icon to " + name;
}

std::string cachedMessage(const std::string& slot, const std::string& name) {
    return "Cached " + slot + " icon for " + name + "; will apply when macOS switches to " + slot +
           " mode (or run again in that mode)";
}

enum class Shape { noEntry, noDarkSlot, sameFileInBoth, differentDark };

const char* describe(Shape shape) {
    switch (shape) {
    case Shape::noEntry:
        return "no entry";
    case Shape::noDarkSlot:
        return "no dark slot";
    case Shape::sameFileInBoth:
        return "same file in both slots";
    case Shape::differentDark:
        return "different dark file";
    }
    return "";
}

TEST(IconEngine, AppliesOrOnlyCachesBySlotAppearanceAndEntry) {
    for (std::string slot : {"light", "dark"}) {
        for (bool dark : {false, true}) {
            for (Shape shape :
                 {Shape::noEntry, Shape::noDarkSlot, Shape::sameFileInBoth, Shape::differentDark}) {
                SCOPED_TRACE(slot + " requested, system " + (dark ? "dark" : "light") + ", " +
                             describe(shape));
                Sandbox sandbox;
                prepareIconCommands(sandbox, dark);
                std::string app = sandbox.addApp({.name = "Notes"});
                std::string icon = writeIcon(sandbox, sandbox.tmp() + "/new.png");
                FixtureCacheEntry entry{.appPath = app, .appName = "Notes", .iconFileName = "old-light.png"};
                if (shape == Shape::sameFileInBoth) entry.darkIconFileName = "old-light.png";
                if (shape == Shape::differentDark) entry.darkIconFileName = "old-dark.png";
                if (shape != Shape::noEntry) {
                    writeIconCache(sandbox, {entry});
                    writeCachedImages(sandbox, {entry});
                }

                bool applies =
                    slot == (dark ? "dark" : "light") || (slot == "light" && shape != Shape::differentDark);
                auto result =
                    sandbox.run({"set-icon", app, icon, "--appearance", slot, "--json", "--no-refresh"});
                ASSERT_EQ(result.status, 0) << result.err;
                EXPECT_EQ(result.err, "");
                auto reply = core::Json::parse(result.out);
                EXPECT_EQ(reply.at("success"), true);
                EXPECT_EQ(reply.at("app"), core::Json({{"name", "Notes"}, {"path", app}}));
                EXPECT_EQ(reply.at("appearance"), slot);
                EXPECT_EQ(reply.at("appliedToBundle"), applies);
                EXPECT_EQ(reply.at("message"),
                          applies ? appliedMessage(slot, "Notes") : cachedMessage(slot, "Notes"));

                EXPECT_EQ(sandbox.loggedCalls("helper.log"),
                          applies ? Calls{helperCall(sandbox, app, icon)} : Calls{});
                Calls sudoCalls;
                if (applies) sudoCalls.push_back({"-n", helperIn(sandbox), fileiconIn(sandbox), app, icon});
                EXPECT_EQ(sandbox.loggedCalls("sudo.log"), sudoCalls);

                // Cached in both cases, in the requested slot, under a new name.
                std::string cachedFile = reply.at("cachedFile");
                EXPECT_EQ(platform::parentPath(cachedFile), cachedImagesFolder(sandbox));
                EXPECT_EQ(sandbox.readFile(cachedFile), sandbox.readFile(icon));
                auto stored = iconCacheDocument(sandbox).value_or(core::Json::object());
                ASSERT_TRUE(stored.contains(app)) << stored.dump();
                std::string slotKey = slot == "dark" ? "darkIconFileName" : "iconFileName";
                EXPECT_EQ(stored.at(app).at(slotKey), platform::lastPathComponent(cachedFile));
                EXPECT_TRUE(sandbox.loggedCalls("killall.log").empty());
            }
        }
    }
}

TEST(IconEngine, ApostrophesInPathsReachTheHelperIntact) {
    Sandbox sandbox;
    prepareIconCommands(sandbox, false);
    std::string folder = sandbox.homePath("Bob's Projects/It's 'quoted''");
    platform::createDirectories(folder);
    std::string icon = writeIcon(sandbox, sandbox.tmp() + "/Bob's icon.png");
    auto result = sandbox.run({"set-icon", folder, icon, "--no-refresh"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "✓ " + appliedMessage("light", "It's 'quoted''") + "\n");
    EXPECT_EQ(sandbox.loggedCalls("helper.log"), Calls{helperCall(sandbox, folder, icon)});
    EXPECT_TRUE(iconCacheDocument(sandbox)->contains(folder));
}

TEST(IconEngine, QuitStopsARunningAppAndPausesOnlyThen) {
    struct Case {
        const char* name;
        bool running;
        bool quit;
    } cases[] = {
        {"running, --quit", true, true},
        {"not running, --quit", false, true},
        {"running, no --quit", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sandbox;
        prepareIconCommands(sandbox, false);
        std::optional<RunningApp> running;
        std::string app;
        if (c.running) {
            running.emplace(sandbox, "Sleeper");
            app = running->bundlePath();
        } else {
            app = sandbox.addApp({.name = "Sleeper"});
        }
        std::string icon = writeIcon(sandbox, sandbox.tmp() + "/icon.png");
        std::vector<std::string> arguments = {"set-icon", "Sleeper", icon, "--no-refresh"};
        if (c.quit) arguments.push_back("--quit");

        auto start = std::chrono::steady_clock::now();
        auto result = sandbox.run(arguments);
        double seconds = secondsSince(start);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "✓ " + appliedMessage("light", "Sleeper") + "\n");
        EXPECT_EQ(sandbox.loggedCalls("helper.log"), Calls{helperCall(sandbox, app, icon)});
        if (c.running && c.quit) {
            EXPECT_GE(seconds, 2.0) << "the pause after quitting";
            EXPECT_TRUE(running->waitForExit(1));
        } else {
            EXPECT_LT(seconds, 1.5);
        }
        if (c.running && !c.quit) {
            EXPECT_FALSE(running->waitForExit(0.2));
        }
    }
}

TEST(IconEngine, MissingHelperFilesStopEverythingFirst) {
    for (auto [helper, fileicon] :
         {std::pair{true, false}, std::pair{false, true}, std::pair{false, false}}) {
        SCOPED_TRACE(std::string("helper.sh ") + (helper ? "present" : "missing") + ", fileicon " +
                     (fileicon ? "present" : "missing"));
        Sandbox sandbox;
        sandbox.installFakeSudo();
        sandbox.installHelperFiles(helper, fileicon);
        setDarkAppearance(sandbox, false);
        // An application that the engine would otherwise refuse: the helper check comes first.
        std::string app =
            sandbox.addApp({.name = "Arc",
                            .bundleId = "company.thebrowser.Browser",
                            .extraStrings = {{"NSDockTilePlugIn", "ArcDockTile.docktileplugin"}}});
        std::string icon = writeIcon(sandbox, sandbox.tmp() + "/icon.png");
        auto result = sandbox.run({"set-icon", app, icon, "--no-refresh"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "Error: Helper files not found. Run Mivora once to complete setup.\n");
        EXPECT_TRUE(sandbox.loggedCalls("sudo.log").empty());
        EXPECT_FALSE(iconCacheDocument(sandbox));
        EXPECT_TRUE(cachedImageNames(sandbox).empty());
    }
}

TEST(IconEngine, AppsThatDrawTheirOwnDockIconAreRefused) {
    const std::string refusal =
        " draws its own Dock icon (it ships a Dock tile plugin and re-applies its icon on "
        "every launch), so macOS ignores custom icons for it. Mivora can't change it.";
    struct Case {
        AppBundle bundle;
        std::string message;
    } cases[] = {
        {{.name = "Arc",
          .bundleId = "company.thebrowser.Browser",
          .extraStrings = {{"NSDockTilePlugIn", "ArcDockTile.docktileplugin"}}},
         "Arc" + refusal + " Pick a different icon inside the app instead: Arc > Settings > Icon."},
        {{.name = "Painter",
          .bundleId = "com.example.painter",
          .executable = "Painter",
          .executableBytes = "\x7f"
                             "ELF...applicationIconImage...",
          .extraStrings = {{"NSDockTilePlugIn", "PainterTile.docktileplugin"}}},
         "Painter" + refusal + " Look for an icon picker in the app's own settings instead."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bundle.name);
        Sandbox sandbox;
        prepareIconCommands(sandbox, false);
        std::string app = sandbox.addApp(c.bundle);
        std::string icon = writeIcon(sandbox, sandbox.tmp() + "/icon.png");
        auto result = sandbox.run({"set-icon", app, icon, "--no-refresh"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "Error: " + c.message + "\n");
        EXPECT_TRUE(sandbox.loggedCalls("sudo.log").empty());
        EXPECT_FALSE(iconCacheDocument(sandbox));
    }
}

TEST(IconEngine, AppleSystemAppGoesThroughItsDockProxy) {
    for (std::string slot : {"light", "dark"}) {
        SCOPED_TRACE(slot + " requested in the light appearance");
        Sandbox sandbox;
        prepareIconCommands(sandbox, false);
        auto safari = addPinnedSystemApp(sandbox, "Safari", "com.apple.Safari");
        std::string icon = writeIcon(sandbox, sandbox.tmp() + "/icon.png");
        auto result =
            sandbox.run({"set-icon", safari.path, icon, "--appearance", slot, "--json", "--no-refresh"});
        ASSERT_EQ(result.status, 0) << result.err;
        bool applies = slot == "light";
        auto reply = core::Json::parse(result.out);
        EXPECT_EQ(reply.at("app"), core::Json({{"name", "Safari"}, {"path", safari.path}}));
        EXPECT_EQ(reply.at("message"),
                  applies ? appliedMessage(slot, "Safari") : cachedMessage(slot, "Safari"));
        EXPECT_EQ(sandbox.loggedCalls("helper.log"),
                  applies ? Calls{helperCall(sandbox, safari.proxy, icon)} : Calls{});

        auto stored = iconCacheDocument(sandbox).value_or(core::Json::object());
        ASSERT_EQ(stored.size(), 1u) << stored.dump();
        EXPECT_EQ(stored.begin().key(), safari.proxy);
        EXPECT_EQ(stored.at(safari.proxy).at("appName"), "Safari");

        // The proxy stands in the Dock and is recorded.
        EXPECT_EQ(platform::readSymbolicLink(safari.proxy + "/Contents"), safari.path + "/Contents");
        auto dock = readDock(sandbox);
        auto tile = dock.view()["persistent-apps"].at(1);
        EXPECT_EQ(tile["tile-data"]["file-label"].string(), "Safari");
        EXPECT_EQ(tile["tile-data"]["file-data"]["_CFURLString"].string(),
                  platform::fileURLString(safari.proxy, true));
        auto records = systemProxyRecords(sandbox);
        ASSERT_TRUE(records.contains(safari.path)) << records.dump();
        EXPECT_EQ(records.at(safari.path).at("proxyPath"), safari.proxy);

        // The proxy's path, the one list shows, stands for the original application.
        auto again =
            sandbox.run({"set-icon", safari.proxy, icon, "--appearance", slot, "--json", "--no-refresh"});
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(core::Json::parse(again.out).at("app"), reply.at("app"));
        EXPECT_EQ(iconCacheDocument(sandbox)->size(), 1u);
        EXPECT_EQ(systemProxyRecords(sandbox), records);
    }
}

// A step after the proxy was prepared fails: the Dock gets its original tile
// back, the new proxy bundle and the empty proxy folder go, nothing is cached.
TEST(IconEngine, FailureAfterTheProxyWasPreparedRollsItBack) {
    struct Case {
        const char* step;
        std::vector<std::string> extraArguments;
        std::string error;
    } cases[] = {
        {"helper", {}, "Error: Exit code 1: helper failed\n"},
        {"quit", {"--quit"}, "Error: Exit code 1: Safari cannot quit now\n"},
        {"composition", {}, "Error: Exit code 3: composition broke\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        Sandbox sandbox;
        prepareIconCommands(sandbox, false);
        auto safari = addPinnedSystemApp(sandbox, "Safari", "com.apple.Safari");
        std::string icon = writeIcon(sandbox, sandbox.tmp() + "/icon.png");
        std::string step = c.step;
        if (step == "helper") sandbox.writeFile(sandbox.bin() + "/helper.status", "1");
        if (step == "quit") {
            sandbox.writeScript(sandbox.bin() + "/osascript",
                                "case \"$*\" in *'is running'*) echo true;;\n"
                                "*) echo 'Safari cannot quit now' >&2; exit 1;; esac\n");
        }
        if (step == "composition") {
            // An icon to compose against, so that the composition program runs.
            sandbox.addApp({.name = "Safari",
                            .folder = platform::parentPath(safari.path),
                            .bundleId = "com.apple.Safari",
                            .extraStrings = {{"CFBundleIconFile", "AppIcon"}}});
            sandbox.writeFile(safari.path + "/Contents/Resources/AppIcon.icns", typicalIcns());
            sandbox.writeFile(
                sandbox.homePath(
                    "Library/Application Support/com.quartelmisko.Mivora/compose/compose_dock_icon.py"),
                "# composes\n");
            sandbox.writeScript(sandbox.bin() + "/uv", "echo 'composition broke' >&2\nexit 3\n");
        }
        std::string dockBefore = dockTilesXML(sandbox);

        std::vector<std::string> arguments = {"set-icon", safari.path, icon, "--no-refresh"};
        arguments.insert(arguments.end(), c.extraArguments.begin(), c.extraArguments.end());
        auto result = sandbox.run(arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, c.error);
        EXPECT_FALSE(platform::fileExists(safari.proxyFolder)) << "no proxy bundle, no empty proxy folder";
        EXPECT_EQ(dockTilesXML(sandbox), dockBefore);
        EXPECT_TRUE(systemProxyRecords(sandbox).empty());
        EXPECT_FALSE(iconCacheDocument(sandbox));
        EXPECT_TRUE(cachedImageNames(sandbox).empty());
        EXPECT_TRUE(platform::fileExists(safari.path + "/Contents/Info.plist"));
        EXPECT_EQ(sandbox.loggedCalls("helper.log").size(), step == "helper" ? 1u : 0u);
    }
}

} // namespace
} // namespace mivora::testing
