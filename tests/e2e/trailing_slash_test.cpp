// A bundle or folder path with one trailing "/" (what tab completion writes)
// names the same application as the path without it, in every command.
#include "platform/filesystem.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/icon_fixtures.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace mivora::testing {
namespace {

using nlohmann::json;

std::vector<std::string> cacheKeys(const Sandbox& sandbox) {
    std::vector<std::string> keys;
    if (auto document = iconCacheDocument(sandbox)) {
        for (const auto& item : document->items())
            keys.push_back(item.key());
    }
    return keys;
}

TEST(TrailingSlash, TheCacheEntryIsTheSameForBothSpellings) {
    struct Case {
        const char* name;
        bool folder;   // a plain folder instead of Notes.app
        bool relative; // typed relative to the folder that holds it
    } cases[] = {
        {"absolute bundle path", false, false},
        {"relative bundle path", false, true},
        {"absolute folder path", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sandbox;
        prepareIconCommands(sandbox, /*dark=*/false);
        std::string target = c.folder ? sandbox.homePath("Projects") : sandbox.addApp({.name = "Notes"});
        platform::createDirectories(target);
        std::string where = platform::parentPath(target);
        std::string slashed = (c.relative ? platform::lastPathComponent(target) : target) + "/";
        std::string light = writeIcon(sandbox, sandbox.homePath("light.png"));
        std::string dark = writeIcon(sandbox, sandbox.homePath("dark.png"));

        auto first = sandbox.run({"set-icon", target, light, "--appearance", "light", "--no-refresh"});
        ASSERT_EQ(first.status, 0) << first.err;
        auto second = sandbox.run({"set-icon", slashed, dark, "--appearance", "dark", "--json"}, where);
        ASSERT_EQ(second.status, 0) << second.err;
        EXPECT_EQ(json::parse(second.out)["app"]["path"], target);
        EXPECT_EQ(cacheKeys(sandbox), std::vector<std::string>{target});
        EXPECT_TRUE((*iconCacheDocument(sandbox))[target].contains("darkIconFileName"));

        // remove-dark-icon finds the dark slot through the slashed path.
        auto removeDark = sandbox.run({"remove-dark-icon", slashed, "--json"}, where);
        ASSERT_EQ(removeDark.status, 0) << removeDark.err;
        EXPECT_EQ(json::parse(removeDark.out)["removedDarkVariant"], true);
        EXPECT_FALSE((*iconCacheDocument(sandbox))[target].contains("darkIconFileName"));

        // remove-icon clears the entry, and the helper is given the path without the slash.
        auto remove = sandbox.run({"remove-icon", slashed, "--no-refresh", "--json"}, where);
        ASSERT_EQ(remove.status, 0) << remove.err;
        json reply = json::parse(remove.out);
        EXPECT_EQ(reply["removedCache"], true);
        EXPECT_EQ(reply["app"]["path"], target);
        EXPECT_EQ(cacheKeys(sandbox), std::vector<std::string>{});
        auto calls = sandbox.loggedCalls("helper.log");
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), helperCall(sandbox, target, "--remove"));
    }
}

TEST(TrailingSlash, AnEntryStoredUnderTheSlashedPathIsTheApplications) {
    Sandbox sandbox;
    prepareIconCommands(sandbox, /*dark=*/false);
    std::string notes = sandbox.addApp({.name = "Notes"});
    FixtureCacheEntry stored{.appPath = notes + "/",
                             .appName = "Notes",
                             .iconFileName = "light.png",
                             .darkIconFileName = "dark.png"};
    writeIconCache(sandbox, {stored});
    writeCachedImages(sandbox, {stored});

    // A new dark icon replaces the dark slot of that entry, which moves to the bare path.
    std::string icon = writeIcon(sandbox, sandbox.homePath("icon.png"));
    auto set = sandbox.run({"set-icon", "Notes", icon, "--appearance", "dark"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(cacheKeys(sandbox), std::vector<std::string>{notes});
    json entry = (*iconCacheDocument(sandbox))[notes];
    EXPECT_EQ(entry["iconFileName"], "light.png");
    EXPECT_NE(entry["darkIconFileName"], "dark.png");
    EXPECT_EQ(cachedImageNames(sandbox).size(), 2u) << "the replaced dark image is gone";

    // remove-icon finds an entry stored under the slashed path too.
    writeIconCache(sandbox, {stored});
    auto remove = sandbox.run({"remove-icon", "Notes", "--no-refresh", "--json"});
    ASSERT_EQ(remove.status, 0) << remove.err;
    EXPECT_EQ(json::parse(remove.out)["removedCache"], true);
    EXPECT_EQ(cacheKeys(sandbox), std::vector<std::string>{});
}

TEST(TrailingSlash, LookupsTakeABundlePathWithASlash) {
    Sandbox sandbox;
    prepareIconCommands(sandbox, /*dark=*/false);
    std::string notion = addAppWithIcon(sandbox, "Notion", typicalIcns());
    std::string apps = platform::parentPath(notion);

    auto extracted = sandbox.run(
        {"extract-icon", notion + "/", "--out", "icon.png", "--size", "32", "--json"}, sandbox.tmp());
    ASSERT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_EQ(json::parse(extracted.out)["app"], (json{{"name", "Notion"}, {"path", notion}}));

    auto quit = sandbox.run({"quit-app", "Notion.app/", "--wait", "0", "--json"}, apps);
    ASSERT_EQ(quit.status, 0) << quit.err;
    EXPECT_EQ(json::parse(quit.out)["app"]["path"], notion);

    // restore matches the entry of the bundle by the path as typed, slash and all.
    writeIconCache(sandbox, {{.appPath = notion, .appName = "Notion", .iconFileName = "notion.png"}});
    writeCachedImages(sandbox, {{.appPath = notion, .appName = "Notion", .iconFileName = "notion.png"}});
    auto restore = sandbox.run({"restore", notion + "/", "--dry-run"});
    EXPECT_EQ(restore.status, 0) << restore.err;
    EXPECT_NE(restore.out.find("Notion"), std::string::npos) << restore.out;

    // A missing bundle is named without the slash.
    auto missing = sandbox.run({"extract-icon", apps + "/Gone.app/", "--out", "x.png"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Error: App not found: " + apps + "/Gone.app\n");
}

} // namespace
} // namespace mivora::testing
