// `mivora remove-dark-icon`: its three outcomes, the light icon put back on the
// bundle (or the proxy) only while the system shows dark, and the images kept.
#include "platform/filesystem.h"
#include "support/dock_fixture.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace mivora::testing {
namespace {

enum class Outcome { nothingCached, reapplied, removedOnly };

TEST(RemoveDarkIcon, OutcomesBySlotsAndAppearance) {
    struct Case {
        const char* name;
        bool hasEntry;
        std::optional<std::string> dark; // the entry's dark slot; the light one is "notes.png"
        bool darkMode;
        bool json;
        Outcome outcome;
    } cases[] = {
        {"no entry", false, std::nullopt, true, false, Outcome::nothingCached},
        {"light slot only", true, std::nullopt, true, true, Outcome::nothingCached},
        {"different dark file, dark mode", true, "notes-dark.png", true, false, Outcome::reapplied},
        {"different dark file, dark mode, JSON", true, "notes-dark.png", true, true, Outcome::reapplied},
        {"different dark file, light mode", true, "notes-dark.png", false, false, Outcome::removedOnly},
        {"different dark file, light mode, JSON", true, "notes-dark.png", false, true, Outcome::removedOnly},
        {"same file in both slots, dark mode", true, "notes.png", true, false, Outcome::reapplied},
        {"same file in both slots, light mode", true, "notes.png", false, false, Outcome::removedOnly},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sandbox;
        prepareIconCommands(sandbox, c.darkMode);
        std::string notes = sandbox.addApp({.name = "Notes"});
        FixtureCacheEntry entry{
            .appPath = notes, .appName = "Notes", .iconFileName = "notes.png", .darkIconFileName = c.dark};
        if (c.hasEntry) {
            writeIconCache(sandbox, {entry});
            writeCachedImages(sandbox, {entry});
        }
        auto cacheBefore = sandbox.readFile(iconCacheFile(sandbox));

        std::vector<std::string> arguments = {"remove-dark-icon", "Notes"};
        if (c.json) arguments.push_back("--json");
        auto result = sandbox.run(arguments);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");

        std::string message = c.outcome == Outcome::nothingCached ? "No dark icon variant cached for Notes"
                              : c.outcome == Outcome::reapplied
                                  ? "Removed dark icon variant for Notes and reapplied the light icon"
                                  : "Removed dark icon variant for Notes";
        bool removed = c.outcome != Outcome::nothingCached;
        if (c.json) {
            nlohmann::json expected = {{"success", true},
                                       {"app", {{"name", "Notes"}, {"path", notes}}},
                                       {"removedFromBundle", c.outcome == Outcome::reapplied},
                                       {"removedCache", removed},
                                       {"removedDarkVariant", removed},
                                       {"message", message}};
            EXPECT_EQ(nlohmann::json::parse(result.out), expected);
        } else {
            EXPECT_EQ(result.out, (removed ? "✓ " : "") + message + "\n");
        }

        EXPECT_EQ(sandbox.loggedCalls("helper.log"),
                  c.outcome == Outcome::reapplied
                      ? Calls{helperCall(sandbox, notes, cachedImage(sandbox, "notes.png"))}
                      : Calls{});
        if (removed) {
            entry.darkIconFileName.reset();
            EXPECT_EQ(*iconCacheDocument(sandbox), iconCacheJson({entry}));
            EXPECT_EQ(cachedImageNames(sandbox), std::vector<std::string>{"notes.png"})
                << "the dark image goes unless the light slot names it too";
        } else {
            EXPECT_EQ(sandbox.readFile(iconCacheFile(sandbox)), cacheBefore);
        }
        EXPECT_TRUE(sandbox.loggedCalls("killall.log").empty()) << "never refreshes";
    }
}

TEST(RemoveDarkIcon, HelperFilesMatterOnlyWhenTheLightIconIsReapplied) {
    for (bool darkMode : {false, true}) {
        SCOPED_TRACE(darkMode ? "dark mode" : "light mode");
        Sandbox sandbox;
        sandbox.installFakeSudo();
        setDarkAppearance(sandbox, darkMode);
        std::string notes = sandbox.addApp({.name = "Notes"});
        FixtureCacheEntry entry{.appPath = notes,
                                .appName = "Notes",
                                .iconFileName = "notes.png",
                                .darkIconFileName = "notes-dark.png"};
        writeIconCache(sandbox, {entry});
        writeCachedImages(sandbox, {entry});
        auto cacheBefore = sandbox.readFile(iconCacheFile(sandbox));

        auto result = sandbox.run({"remove-dark-icon", "Notes"});
        if (!darkMode) {
            EXPECT_EQ(result.status, 0) << result.err;
            EXPECT_EQ(result.out, "✓ Removed dark icon variant for Notes\n");
            EXPECT_EQ(cachedImageNames(sandbox), std::vector<std::string>{"notes.png"});
        } else {
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err,
                      "Error: Helper files not found. Run the Mivora app to complete setup first.\n");
            // Nothing is dropped that could not be put right on the bundle.
            EXPECT_EQ(sandbox.readFile(iconCacheFile(sandbox)), cacheBefore);
            EXPECT_EQ(cachedImageNames(sandbox), (std::vector<std::string>{"notes-dark.png", "notes.png"}));
        }
        EXPECT_TRUE(sandbox.loggedCalls("sudo.log").empty());
    }
}

TEST(RemoveDarkIcon, AMissingLightImageNeverBlocksTheRemoval) {
    struct Case {
        const char* name;
        bool folderInItsPlace; // else nothing is at the light image's place
        bool darkMode;
        std::string message;
    } cases[] = {
        {"dark mode", false, true,
         "Removed dark icon variant for Notes; its cached light icon is missing, so none was reapplied"},
        {"dark mode, a folder where the light image was", true, true,
         "Removed dark icon variant for Notes; its cached light icon is missing, so none was reapplied"},
        {"light mode", false, false, "Removed dark icon variant for Notes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sandbox;
        prepareIconCommands(sandbox, c.darkMode);
        std::string notes = sandbox.addApp({.name = "Notes"});
        FixtureCacheEntry entry{.appPath = notes,
                                .appName = "Notes",
                                .iconFileName = "notes.png",
                                .darkIconFileName = "notes-dark.png"};
        FixtureCacheEntry other{
            .appPath = sandbox.addApp({.name = "Mail"}), .appName = "Mail", .iconFileName = "mail.png"};
        writeIconCache(sandbox, {entry, other});
        writeCachedImages(sandbox, {FixtureCacheEntry{.iconFileName = "notes-dark.png"}, other});
        if (c.folderInItsPlace) platform::createDirectories(cachedImage(sandbox, "notes.png"));

        auto result = sandbox.run({"remove-dark-icon", "Notes", "--json"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(nlohmann::json::parse(result.out),
                  (nlohmann::json{{"success", true},
                                  {"app", {{"name", "Notes"}, {"path", notes}}},
                                  {"removedFromBundle", false},
                                  {"removedCache", true},
                                  {"removedDarkVariant", true},
                                  {"message", c.message}}));
        EXPECT_TRUE(sandbox.loggedCalls("helper.log").empty());
        // The light slot and every other entry stay as they were.
        entry.darkIconFileName.reset();
        EXPECT_EQ(*iconCacheDocument(sandbox), iconCacheJson({other, entry}));
        std::vector<std::string> images = {"mail.png"};
        if (c.folderInItsPlace) images.push_back("notes.png");
        EXPECT_EQ(cachedImageNames(sandbox), images);

        // The text form says the same.
        writeIconCache(sandbox, {FixtureCacheEntry{entry.appPath, "Notes", "notes.png", "notes-dark.png"}});
        auto text = sandbox.run({"remove-dark-icon", "Notes"});
        EXPECT_EQ(text.out, "✓ " + c.message + "\n");
    }
}

TEST(RemoveDarkIcon, AppleSystemAppGetsTheLightIconOnItsProxy) {
    // Named by the original's path, or by the proxy's path that list shows.
    for (bool byProxyPath : {false, true}) {
        SCOPED_TRACE(byProxyPath ? "the proxy's path" : "the original's path");
        Sandbox sandbox;
        prepareIconCommands(sandbox, true);
        auto safari = addPinnedSystemApp(sandbox, "Safari", "com.apple.Safari");
        std::string light = writeIcon(sandbox, sandbox.tmp() + "/light.png");
        std::string dark = writeIcon(sandbox, sandbox.tmp() + "/dark.png");
        ASSERT_EQ(
            sandbox.run({"set-icon", safari.path, light, "--appearance", "light", "--no-refresh"}).status, 0);
        ASSERT_EQ(sandbox.run({"set-icon", safari.path, dark, "--appearance", "dark", "--no-refresh"}).status,
                  0);
        std::string lightName = iconCacheDocument(sandbox)->at(safari.proxy).at("iconFileName");
        platform::removeItem(sandbox.tmp() + "/helper.log");

        auto result = sandbox.run({"remove-dark-icon", byProxyPath ? safari.proxy : safari.path});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "✓ Removed dark icon variant for Safari and reapplied the light icon\n");
        EXPECT_EQ(sandbox.loggedCalls("helper.log"),
                  Calls{helperCall(sandbox, safari.proxy, cachedImage(sandbox, lightName))});
        auto stored = *iconCacheDocument(sandbox);
        EXPECT_FALSE(stored.at(safari.proxy).contains("darkIconFileName"));
        EXPECT_EQ(cachedImageNames(sandbox), std::vector<std::string>{lightName});
    }
}

} // namespace
} // namespace mivora::testing
