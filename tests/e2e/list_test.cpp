// list: the alias and cached-icon sections, their flags and blank line, the
// missing marks, the plain name order and the JSON reply.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/json.h"
#include "platform/filesystem.h"
#include "support/icon_cache_fixture.h"
#include "support/sandbox.h"

namespace mivora::testing {
namespace {

using core::Json;

class List : public ::testing::Test {
protected:
    void SetUp() override {
        sandbox.environment["TZ"] = "UTC";
        sandbox.environment["LANG"] = "de_DE.UTF-8"; // a short date and time without a day-period mark
    }

    RunResult list(const std::vector<std::string>& flags) const {
        std::vector<std::string> arguments = {"list"};
        arguments.insert(arguments.end(), flags.begin(), flags.end());
        auto result = sandbox.run(arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        return result;
    }

    Sandbox sandbox;
};

TEST_F(List, SectionFlagsAndTheBlankLineBetween) {
    struct Case {
        std::vector<std::string> flags;
        std::string empty, filled;
    };
    const std::string aliases = "Aliases (1):\n  Arc → Browser\n";
    const std::string icons = "Cached Icons (1):\n  Arc [app missing] [icon file missing]\n"
                              "    Path:   /nowhere/Arc.app\n    Cached: 03.01.24, 18:40\n";
    const std::vector<Case> cases = {
        {{}, "No aliases configured.\n\nNo cached icons.\n", aliases + "\n" + icons},
        {{"--aliases"}, "No aliases configured.\n", aliases},
        {{"--icons"}, "No cached icons.\n", icons},
        {{"--aliases", "--icons"}, "No aliases configured.\nNo cached icons.\n", aliases + icons},
        {{"--icons", "--aliases"}, "No aliases configured.\nNo cached icons.\n", aliases + icons},
    };
    for (const auto& c : cases) EXPECT_EQ(list(c.flags).out, c.empty);
    writeAliases(sandbox, {{"Arc", "Browser"}});
    writeIconCache(sandbox, {{.appPath = "/nowhere/Arc.app", .appName = "Arc", .iconFileName = "A.png"}});
    for (const auto& c : cases) EXPECT_EQ(list(c.flags).out, c.filled);
}

TEST_F(List, PlainNameOrderAndTheMissingMarks) {
    writeAliases(sandbox, {{"notion", "Notes"}, {"Arc", "Browser"}, {"Zed", "Editor"}, {"Émail", "Post"}});
    std::string zed = sandbox.addApp({.name = "Zed"});
    std::string mail = sandbox.addApp({.name = "Mail"});
    std::vector<FixtureCacheEntry> entries = {
        {.appPath = zed, .appName = "Zed", .iconFileName = "zed.png"},
        {.appPath = sandbox.dir() + "/gone/arc.app", .appName = "arc", .iconFileName = "arc.png"},
        // Only the light slot is looked at: the dark image is there, the light one is not.
        {.appPath = mail, .appName = "Mail", .iconFileName = "mail.png", .darkIconFileName = "mail-dark.png"},
        {.appPath = sandbox.dir() + "/gone/Gone.app", .appName = "Gone", .iconFileName = "gone.png",
         .timestamp = 0.5},
    };
    writeIconCache(sandbox, entries);
    sandbox.writeFile(cachedImage(sandbox, "zed.png"), "png");
    sandbox.writeFile(cachedImage(sandbox, "mail-dark.png"), "png");
    sandbox.writeFile(cachedImage(sandbox, "gone.png"), "png");
    EXPECT_EQ(list({}).out, "Aliases (4):\n"
                            "  Arc → Browser\n"
                            "  Zed → Editor\n"
                            "  notion → Notes\n"
                            "  Émail → Post\n"
                            "\n"
                            "Cached Icons (4):\n"
                            "  Gone [app missing]\n"
                            "    Path:   " + sandbox.dir() + "/gone/Gone.app\n"
                            "    Cached: 01.01.01, 00:00\n"
                            "  Mail [icon file missing]\n"
                            "    Path:   " + mail + "\n"
                            "    Cached: 03.01.24, 18:40\n"
                            "  Zed\n"
                            "    Path:   " + zed + "\n"
                            "    Cached: 03.01.24, 18:40\n"
                            "  arc [app missing] [icon file missing]\n"
                            "    Path:   " + sandbox.dir() + "/gone/arc.app\n"
                            "    Cached: 03.01.24, 18:40\n");
}

TEST_F(List, TheDateFollowsTheUsersLocaleAndTimeZone) {
    writeIconCache(sandbox, {{.appPath = "/A.app", .appName = "A", .iconFileName = "a.png"}});
    sandbox.environment["TZ"] = "Asia/Tokyo";
    EXPECT_NE(list({"--icons"}).out.find("    Cached: 04.01.24, 03:40\n"), std::string::npos);
    sandbox.environment["LANG"] = "en_US.UTF-8";
    sandbox.environment["TZ"] = "UTC";
    EXPECT_NE(list({"--icons"}).out.find("    Cached: 1/3/24, 6:40"), std::string::npos);
}

TEST_F(List, EntriesPointingAtMissingOrUnreadableFilesAreMarkedAndListed) {
    std::string present = sandbox.addApp({.name = "Present"});
    std::vector<FixtureCacheEntry> entries = {
        {.appPath = present, .appName = "Dangling", .iconFileName = "dangling.png"},
        {.appPath = present, .appName = "Outside", .iconFileName = "../outside.png"},
        {.appPath = sandbox.dir() + "/link.app", .appName = "Link", .iconFileName = "ok.png"},
        {.appPath = present, .appName = "Unreadable", .iconFileName = "locked.png"},
    };
    // Keys differ from the entries' paths here; the listing goes by the entries.
    Json cache = Json::object();
    for (size_t i = 0; i < entries.size(); ++i) cache["/key" + std::to_string(i)] = entries[i].toJson();
    sandbox.writeFile(iconCacheFile(sandbox), cache.dump());
    platform::createDirectories(cachedImagesFolder(sandbox));
    platform::createSymbolicLink(cachedImage(sandbox, "dangling.png"), sandbox.dir() + "/nothing.png");
    sandbox.writeFile(cachedImage(sandbox, "../outside.png"), "outside the cache folder");
    sandbox.writeFile(cachedImage(sandbox, "ok.png"), "png");
    platform::createSymbolicLink(sandbox.dir() + "/link.app", sandbox.dir() + "/deleted.app");
    sandbox.writeFile(cachedImage(sandbox, "locked.png"), "png");
    ::chmod(cachedImage(sandbox, "locked.png").c_str(), 0);
    auto out = list({"--icons"}).out;
    EXPECT_NE(out.find("\n  Dangling [icon file missing]\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\n  Link [app missing]\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\n  Outside [icon file missing]\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\n  Unreadable\n"), std::string::npos) << out; // it exists; list only looks
    EXPECT_EQ(out.rfind("Cached Icons (4):\n", 0), 0u) << out;
}

TEST_F(List, AnUnreadableCacheFileFallsBackToTheDesktopApplicationsCopy) {
    platform::createDirectories(iconCacheFile(sandbox)); // a folder where the file should be
    writeAppDefaults(sandbox, {{"com.mivora.cachedIcons",
                                iconCacheJson({{.appPath = "/A.app", .appName = "A", .iconFileName = "a.png"}}).dump()},
                               {"AliasName", R"({"A":"Alpha"})"}});
    EXPECT_EQ(list({}).out, "Aliases (1):\n  A → Alpha\n\nCached Icons (1):\n"
                            "  A [app missing] [icon file missing]\n    Path:   /A.app\n"
                            "    Cached: 03.01.24, 18:40\n");
}

TEST_F(List, JsonReply) {
    writeAliases(sandbox, {{"notion", "Notes"}, {"Arc", "Browser"}});
    writeIconCache(sandbox, {{.appPath = "/b/Zed.app", .appName = "Zed", .iconFileName = "z.png"},
                             {.appPath = "/a/Mail.app", .appName = "Mail", .iconFileName = "m.png",
                              .darkIconFileName = "md.png", .timestamp = 726000000.25, .appVersion = "16.0"}});
    Json aliases = Json::array({{{"aliasName", "Browser"}, {"appName", "Arc"}},
                                {{"aliasName", "Notes"}, {"appName", "notion"}}});
    Json icons = Json::array({{{"appName", "Mail"},
                               {"appPath", "/a/Mail.app"},
                               {"appVersion", "16.0"},
                               {"darkIconFileName", "md.png"},
                               {"iconFileName", "m.png"},
                               {"timestamp", 726000000.25}},
                              {{"appName", "Zed"}, {"appPath", "/b/Zed.app"}, {"iconFileName", "z.png"},
                               {"timestamp", 726000000}}});
    struct Case {
        std::vector<std::string> flags;
        Json expected;
    };
    for (const auto& c : std::vector<Case>{
             {{"--json"}, {{"aliases", aliases}, {"cachedIcons", icons}}},
             {{"--json", "--aliases"}, {{"aliases", aliases}, {"cachedIcons", Json::array()}}},
             {{"--icons", "--json"}, {{"aliases", Json::array()}, {"cachedIcons", icons}}},
             {{"--json", "--aliases", "--icons"}, {{"aliases", aliases}, {"cachedIcons", icons}}},
         }) {
        auto result = list(c.flags);
        EXPECT_EQ(Json::parse(result.out), c.expected) << result.out;
    }
    // No dark slot, no key; the pretty form sorts the keys of every entry (and escapes "/").
    auto out = list({"--json", "--icons"}).out;
    EXPECT_NE(out.find("    {\n      \"appName\" : \"Zed\",\n      \"appPath\" : \"\\/b\\/Zed.app\",\n"
                       "      \"iconFileName\" : \"z.png\",\n      \"timestamp\" : 726000000\n    }"),
              std::string::npos)
        << out;
    EXPECT_EQ(list({"--json"}).out.find("null"), std::string::npos);
}

TEST_F(List, NothingStoredIsTwoEmptyArrays) {
    auto result = list({"--json"});
    EXPECT_EQ(result.out, "{\n  \"aliases\" : [],\n  \"cachedIcons\" : []\n}\n");
}

} // namespace
} // namespace mivora::testing
