// apply-from-catalog end to end: a local catalog, the recording sudo and
// helper, a recording killall for the refresh; the choice of icon, the
// download with its fallback, the slot, the output and the temporary file.
#include "support/catalog_fixture.h"
#include "support/catalog_server.h"
#include "support/icon_cache_fixture.h"
#include "support/icons_driver.h"
#include "support/sandbox.h"

#include <cstdio>
#include <functional>
#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

using Calls = std::vector<std::vector<std::string>>;

// A machine with Notion and Notes installed, set up to apply icons (recording
// sudo, helper and killall), in dark mode, whose catalog is a local server.
struct CatalogMachine {
    CatalogMachine() {
        useCatalog(sandbox, server);
        sandbox.installFakeSudo();
        sandbox.installHelperFiles();
        installRecordingProgram(sandbox, "/usr/bin/killall", "killall.log");
        setDarkAppearance(sandbox, true);
        notion = sandbox.addApp({.name = "Notion", .bundleId = "notion.id"});
        notes = sandbox.addApp({.name = "Notes", .bundleId = "com.apple.Notes.test"});
    }

    // Every search page gives `hits` (one page); the legacy query finds nothing.
    void serveCatalog(const std::vector<CatalogHit>& hits, bool files = true) {
        server.route("POST", "/api/search", ScriptedResponse{200, searchAnswer(server, hits)});
        server.route("GET", "/api/icons", ScriptedResponse{404, R"({"message":"gone"})"});
        if (files) serveIconFiles(server, hits);
    }

    std::vector<std::string> leftovers() const { return namesStartingWith(sandbox.tmp(), "mivora-"); }

    std::vector<std::string> downloads() const {
        std::vector<std::string> paths;
        for (const auto& request : server.requests())
            if (request.path.starts_with("/files/")) paths.push_back(request.path);
        return paths;
    }

    std::string searchedText() const {
        auto search = requestsTo(server, "POST", "/api/search");
        return search.empty() ? "" : core::Json::parse(search.front().body)["query"].get<std::string>();
    }

    // The bytes of the image the cache holds for the app in a slot ("iconFileName", "darkIconFileName").
    std::optional<std::string> cachedBytes(const std::string& appPath, const std::string& slot) const {
        auto text = sandbox.readFile(iconCacheFile(sandbox));
        if (!text) return std::nullopt;
        auto cache = core::Json::parse(*text);
        if (!cache.contains(appPath) || !cache[appPath].contains(slot)) return std::nullopt;
        return sandbox.readFile(cachedImage(sandbox, cache[appPath][slot].get<std::string>()));
    }

    // The cache keeps every icon as a PNG (an ICNS download is converted).
    bool cachedAsPNG(const std::string& appPath, const std::string& slot) const {
        return cachedBytes(appPath, slot).value_or("").starts_with("\x89PNG\r\n");
    }

    CatalogServer server;
    Sandbox sandbox;
    std::string notion, notes;
};

class ApplyFromCatalog : public ::testing::Test, protected CatalogMachine {};

TEST_F(ApplyFromCatalog, AppliesTheBestWholeNameMatchAndRefreshes) {
    serveCatalog({{"Notion Yellow", 900}, {"Notion", 10}, {"Notionary", 5000}, {"Chrome", 1}});
    auto result = sandbox.run({"apply-from-catalog", "Notion"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "✓ Applied dark icon to Notion\n"
                          "  App:  " +
                              notion +
                              "\n"
                              "  Icon: " +
                              server.url("/files/Notion.icns") + "\n");
    EXPECT_EQ(searchedText(), "Notion");
    EXPECT_EQ(downloads(), (std::vector<std::string>{"/files/Notion.icns"}));

    auto helper = sandbox.loggedCalls("helper.log");
    ASSERT_EQ(helper.size(), 1u);
    ASSERT_EQ(helper[0].size(), 3u);
    EXPECT_EQ(helper[0][0], sandbox.rootPath("/usr/local/lib/mivora/fileicon"));
    EXPECT_EQ(helper[0][1], notion);
    EXPECT_TRUE(helper[0][2].starts_with(sandbox.tmp() + "/mivora-") && helper[0][2].ends_with(".icns"))
        << helper[0][2];
    EXPECT_TRUE(cachedAsPNG(notion, "darkIconFileName"));

    EXPECT_EQ(sandbox.loggedCalls("killall.log"), (Calls{{"Dock"}}));
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(ApplyFromCatalog, JSONReplyWithAStyleChoice) {
    serveCatalog({{"Notion", 10}, {"Notion Purple", 30}, {"Notion Yellow", 20}});
    auto result = sandbox.run({"apply-from-catalog", "Notion", "--style", "yellow", "--json", "--no-refresh",
                               "--appearance", "dark"});
    ASSERT_EQ(result.status, 0) << result.err;
    auto reply = core::Json::parse(result.out);
    auto expected = core::Json::parse(R"({"success":true,"appearance":"dark","appliedToBundle":true,
        "message":"Applied \"Notion Yellow\" to Notion [dark]"})");
    for (const auto& [key, value] : expected.items())
        EXPECT_EQ(reply[key], value) << key;
    EXPECT_EQ(reply["app"]["name"], "Notion");
    EXPECT_EQ(reply["app"]["path"], notion);
    EXPECT_EQ(reply["app"]["bundleId"], "notion.id");
    // Ranked: Notion (exact), then the prefix matches by downloads; the chosen one keeps its position.
    EXPECT_EQ(nlohmann::json::parse(reply["catalogIcon"].dump()),
              nlohmann::json::parse(R"({"id":2,"appName":"Notion Yellow","downloads":20,"icnsUrl":")" +
                                    server.url("/files/Notion-Yellow.icns") + R"(","lowResPngUrl":")" +
                                    server.url("/files/Notion-Yellow.png") + "\"}"));
    EXPECT_EQ(reply.size(), 6u);
    EXPECT_EQ(result.out.rfind("{\n  \"app\" : {\n", 0), 0u) << result.out;
    EXPECT_EQ(searchedText(), "Notion"); // the style is not part of the search text
    EXPECT_TRUE(cachedAsPNG(notion, "darkIconFileName"));
    EXPECT_EQ(sandbox.loggedCalls("killall.log"), Calls{});
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(ApplyFromCatalog, ADarkIconWhileLightShowsIsOnlyCachedAndNotRefreshed) {
    setDarkAppearance(sandbox, false);
    serveCatalog({{"Notion", 10}});
    auto result = sandbox.run({"apply-from-catalog", "Notion", "--appearance", "dark", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    auto reply = core::Json::parse(result.out);
    EXPECT_EQ(reply["appliedToBundle"], false);
    EXPECT_EQ(reply["message"], "Applied \"Notion\" to Notion [dark]");
    EXPECT_EQ(sandbox.loggedCalls("helper.log"), Calls{});
    EXPECT_EQ(sandbox.loggedCalls("killall.log"), Calls{});
    EXPECT_TRUE(cachedAsPNG(notion, "darkIconFileName"));
    EXPECT_EQ(leftovers(), std::vector<std::string>{});

    // Without --appearance the slot is the one the system shows.
    auto plain = sandbox.run({"apply-from-catalog", "Notion", "--no-refresh"});
    EXPECT_EQ(plain.out.rfind("✓ Applied light icon to Notion\n", 0), 0u) << plain.out;
    EXPECT_TRUE(cachedAsPNG(notion, "iconFileName"));
}

TEST_F(ApplyFromCatalog, PickTakesTheRankedIndexWhateverItsName) {
    // Only substring matches: nothing is named Notion, but the results can be picked.
    serveCatalog({{"Notionary", 50}, {"Notionesque", 70}});
    struct Case {
        std::vector<std::string> flags;
        std::string applied;
    } cases[] = {
        {{"--pick", "0"}, "Notionesque"},
        {{"--pick", "1", "--style", "no such style"}, "Notionary"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"apply-from-catalog", "Notion", "--json", "--no-refresh"};
        arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
        auto result = sandbox.run(arguments);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(core::Json::parse(result.out)["catalogIcon"]["appName"], c.applied);
    }
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(ApplyFromCatalog, PickOutOfRangeIsAUsageError) {
    std::vector<CatalogHit> many;
    for (int i = 0; i < 60; ++i)
        many.push_back({"Notion " + std::to_string(i), i});
    serveCatalog(many);
    struct Case {
        std::string pick;
        std::string message;
    } cases[] = {
        {"-1", "Error: Index -1 out of range (0..<50)\n"},
        {"50", "Error: Index 50 out of range (0..<50)\n"}, // the search keeps 50 results
        {"999", "Error: Index 999 out of range (0..<50)\n"},
    };
    for (const auto& c : cases) {
        auto result = sandbox.run({"apply-from-catalog", "Notion", "--pick", c.pick});
        EXPECT_EQ(result.status, 64) << c.pick;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind(c.message + "Usage: mivora apply-from-catalog <app>", 0), 0u)
            << result.err;
    }
    EXPECT_EQ(downloads(), std::vector<std::string>{});
    EXPECT_EQ(sandbox.loggedCalls("helper.log"), Calls{});

    auto last = sandbox.run({"apply-from-catalog", "Notion", "--pick", "49", "--json", "--no-refresh"});
    ASSERT_EQ(last.status, 0) << last.err;
    // Ranked by downloads: index 49 is the eleventh least downloaded.
    EXPECT_EQ(core::Json::parse(last.out)["catalogIcon"]["appName"], "Notion 10");
}

TEST_F(ApplyFromCatalog, NoConfidentMatchMessages) {
    struct Case {
        std::string label;
        std::vector<CatalogHit> hits;
        std::vector<std::string> arguments;
        std::string err;
    } cases[] = {
        {"only substring matches",
         {{"Notesy", 5}, {"Notesify", 9}},
         {"apply-from-catalog", "Notes"},
         "Error: No catalog icon is named \"Notes\". Run `mivora search-icons \"Notes\"` and pass --pick "
         "<index>, "
         "or use --query to search differently.\n"},
        {"no style match",
         {{"Notes Blue", 5}, {"Notesy Yellow", 9}},
         {"apply-from-catalog", "Notes", "--style", "yellow"},
         "Error: No \"Notes\" icon in the catalog matches the style \"yellow\". Run `mivora search-icons "
         "\"Notes\"` to "
         "see what's available.\n"},
    };
    for (const auto& c : cases) {
        CatalogMachine machine;
        machine.serveCatalog(c.hits);
        auto result = machine.sandbox.run(c.arguments);
        EXPECT_EQ(result.status, 1) << c.label;
        EXPECT_EQ(result.out, "") << c.label;
        EXPECT_EQ(result.err, c.err) << c.label;
        EXPECT_EQ(machine.downloads(), std::vector<std::string>{}) << c.label;
        EXPECT_EQ(machine.leftovers(), std::vector<std::string>{}) << c.label;
    }
}

TEST_F(ApplyFromCatalog, QueryOverrideSkipsTheNameFilter) {
    serveCatalog({{"Notes Blue", 5}, {"Notesy Yellow", 9}, {"Notesy Green", 1}});
    auto result = sandbox.run({"apply-from-catalog", "Notes", "--query", "notes yellow", "--style", "yellow",
                               "--json", "--no-refresh"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(searchedText(), "notes yellow");
    auto reply = core::Json::parse(result.out);
    EXPECT_EQ(reply["catalogIcon"]["appName"], "Notesy Yellow");
    EXPECT_EQ(reply["app"]["path"], notes);

    // An empty style chooses the first candidate.
    auto empty = sandbox.run({"apply-from-catalog", "Notes", "--style", "", "--json", "--no-refresh"});
    ASSERT_EQ(empty.status, 0) << empty.err;
    EXPECT_EQ(core::Json::parse(empty.out)["catalogIcon"]["appName"], "Notes Blue");
}

TEST_F(ApplyFromCatalog, DownloadFallsBackToThePNG) {
    serveCatalog({{"Notion", 10}}, false);
    server.route("GET", iconFilePath("Notion", ".png"),
                 ScriptedResponse{200, catalogPNGBytes(), "image/png"});
    auto result = sandbox.run({"apply-from-catalog", "Notion", "--no-refresh"});
    ASSERT_EQ(result.status, 0) << result.err;
    // The line names the ICNS address even when the PNG was the file applied.
    EXPECT_NE(result.out.find("  Icon: " + server.url("/files/Notion.icns") + "\n"), std::string::npos);
    EXPECT_EQ(downloads(), (std::vector<std::string>{"/files/Notion.icns", "/files/Notion.png"}));
    auto helper = sandbox.loggedCalls("helper.log");
    ASSERT_EQ(helper.size(), 1u);
    EXPECT_TRUE(helper[0].back().ends_with(".png")) << helper[0].back();
    EXPECT_EQ(cachedBytes(notion, "darkIconFileName"), catalogPNGBytes());
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(ApplyFromCatalog, FailuresLeaveNoTemporaryFile) {
    struct Case {
        std::string label;
        bool files;
        std::function<void(const Sandbox&)> arrange;
        std::string err;
    } cases[] = {
        {"both downloads fail", false, [](const Sandbox&) {}, "Error: Failed to download icon: HTTP 404\n"},
        {"helper fails", true, [](const Sandbox& s) { s.writeFile(s.bin() + "/helper.status", "3"); },
         "Error: Exit code 3: helper failed\n"},
        {"helper missing", true,
         [](const Sandbox& s) { std::remove(s.rootPath("/usr/local/lib/mivora/helper.sh").c_str()); },
         "Error: Helper files not found. Run Mivora once to complete setup.\n"},
    };
    for (const auto& c : cases) {
        CatalogMachine machine;
        machine.serveCatalog({{"Notion", 1}}, c.files);
        c.arrange(machine.sandbox);
        auto result = machine.sandbox.run({"apply-from-catalog", "Notion"});
        EXPECT_EQ(result.status, 1) << c.label;
        EXPECT_EQ(result.out, "") << c.label;
        EXPECT_EQ(result.err, c.err) << c.label;
        EXPECT_EQ(machine.leftovers(), std::vector<std::string>{}) << c.label;
        EXPECT_EQ(machine.sandbox.loggedCalls("killall.log"), Calls{}) << c.label;
    }
}

TEST_F(ApplyFromCatalog, LookupSearchAndUsageErrors) {
    serveCatalog({});
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string errStart;
    } cases[] = {
        {{"apply-from-catalog", "Nothing"}, 1, "Error: No app matching 'Nothing' found in /Applications.\n"},
        {{"apply-from-catalog", "/nowhere/Notion.app"}, 1, "Error: App not found: /nowhere/Notion.app\n"},
        {{"apply-from-catalog", "Notion"}, 1, "Error: No icons found for this search.\n"},
        {{"apply-from-catalog", "Notion", "--appearance", "dusk"}, 64, "Error: "},
        {{"apply-from-catalog", "Notion", "--pick", "first"}, 64, "Error: "},
    };
    for (const auto& c : cases) {
        auto result = sandbox.run(c.arguments);
        EXPECT_EQ(result.status, c.status) << c.arguments[1];
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind(c.errStart, 0), 0u) << result.err;
        if (c.status == 64)
            EXPECT_NE(result.err.find("Usage: mivora apply-from-catalog"), std::string::npos);
        else
            EXPECT_EQ(result.err, c.errStart);
    }
    // Only the one real search (and its fallback) reached the catalog.
    EXPECT_EQ(requestsTo(server, "POST", "/api/search").size(), 1u);
    EXPECT_EQ(requestsTo(server, "GET", "/api/icons").size(), 1u);

    server.route("POST", "/api/search", ScriptedResponse{503, R"({"statusMessage":"Down for maintenance"})"});
    auto result = sandbox.run({"apply-from-catalog", "Notion"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: API error (HTTP 503): Down for maintenance\n");
}

TEST(ApplyFromCatalogHelp, ShowsTheExamplesAndEveryOption) {
    Sandbox sandbox;
    auto result = sandbox.run({"help", "apply-from-catalog"});
    EXPECT_EQ(result.status, 0);
    for (const char* part :
         {"OVERVIEW: Apply an icon from the Mivora catalog to an app\n",
          "Examples:\n"
          "  mivora apply-from-catalog Notion --style yellow\n"
          "  mivora apply-from-catalog Notion --style \"ukraine\"\n"
          "  mivora apply-from-catalog /Applications/Notion.app --style purple --json\n"
          "  mivora apply-from-catalog Safari --pick 2\n",
          "USAGE: mivora apply-from-catalog <app> [--style <style>] [--pick <pick>]",
          "--pick <pick>           Pick result by index from `mivora search-icons",
          "--appearance <appearance>", "--quit                  Quit the app before applying"})
        EXPECT_NE(result.out.find(part), std::string::npos) << part << "\n" << result.out;
}

} // namespace
} // namespace mivora::testing
