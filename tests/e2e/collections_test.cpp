// The collections group against a local catalog service: list, show and apply
// of remote collections in text and JSON, the batch's counts and its one
// refresh, and the errors.
#include "platform/file_url.h"
#include "platform/filesystem.h"
#include "support/catalog_server.h"
#include "support/collection_fixture.h"
#include "support/dock_fixture.h"
#include "support/icons_driver.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace mivora::testing {
namespace {

using nlohmann::json;
using Calls = std::vector<std::vector<std::string>>;

json icon(const std::string& slug, const std::string& name, const std::string& url) {
    return {{"appSlug", slug}, {"appName", name}, {"iconUrl", url}};
}

class Collections : public ::testing::Test {
protected:
    void SetUp() override { sandbox.environment["MIVORA_API_BASE_URL"] = server.url("/api"); }

    // An icon file the catalog serves, and its address.
    std::string servedIcon(const std::string& file) {
        server.route("GET", "/icons/" + file, ScriptedResponse{200, "PNG " + file, "image/png"});
        return server.url("/icons/" + file);
    }

    // Serves /api/collections/sunlight with these icons, the first one previewed.
    json serveSunlight(const json& icons) {
        json detail = {{"slug", "sunlight"},
                       {"name", "Sunlight"},
                       {"description", "Warm tones"},
                       {"accent", "#ffaa00"},
                       {"previewIcons", json::array({icons.at(0)})},
                       {"icons", icons},
                       {"downloads", 12}};
        server.route("GET", "/api/collections/sunlight", ScriptedResponse{200, detail.dump()});
        detail.erase("downloads");
        return detail;
    }

    // Notes and Mail in /Applications, Visual Studio Code in ~/Applications.
    void addApps() {
        notes = sandbox.addApp({.name = "Notes"});
        mail = sandbox.addApp({.name = "Mail"});
        code = sandbox.addApp({.name = "Visual Studio Code", .folder = sandbox.homePath("Applications")});
    }

    // notes, visual-studio-code, mail (whose file the catalog does not have) and safari (not installed).
    json fourIcons() {
        return json::array({icon("notes", "Notes", servedIcon("notes.png")),
                            icon("visual-studio-code", "VS Code", servedIcon("code")),
                            icon("mail", "Mail", server.url("/icons/gone.png")),
                            icon("safari", "Safari", servedIcon("safari.png"))});
    }

    void installEngine() {
        sandbox.installFakeSudo();
        sandbox.installHelperFiles();
        installRecordingProgram(sandbox, "/usr/bin/killall", "killall.log");
    }

    std::vector<std::string> requestedPaths() const {
        std::vector<std::string> paths;
        for (const auto& request : server.requests())
            paths.push_back(request.path);
        return paths;
    }

    Sandbox sandbox;
    CatalogServer server;
    std::string notes, mail, code;
};

TEST_F(Collections, GroupHelpListsItsSubcommandsInTheirOrderWithListAsDefault) {
    // The fixed order; subcommands not built yet are simply absent.
    const std::vector<std::string> order = {"list (default)", "show",   "apply",   "create",   "add",
                                            "mark",           "status", "publish", "unpublish"};
    auto result = sandbox.run({"collections", "--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind("OVERVIEW: List, inspect, and apply Mivora style collections\n\n"
                               "Collections are complete matching icon sets from catalog.mivora.example,\n",
                               0),
              0u)
        << result.out;
    auto section = result.out.substr(result.out.find("SUBCOMMANDS:\n"));
    size_t last = 0;
    for (const auto& name : order) {
        auto at = section.find("\n  " + name + " ");
        if (at == std::string::npos) continue;
        EXPECT_GT(at, last) << name;
        last = at;
    }
    EXPECT_NE(section.find("\n  list (default)          List available style collections\n"),
              std::string::npos);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(Collections, ListShowsTheCatalogsCollectionsInItsOrder) {
    json collections = json::array(
        {{{"slug", "sunlight"},
          {"name", "Sunlight"},
          {"description", "Warm tones"},
          {"accent", "#fa0"},
          {"previewIcons", json::array({icon("notes", "Notes", "https://cdn.example/notes.png")})}},
         {{"slug", "paper"},
          {"name", "Paper"},
          {"description", ""},
          {"accent", "#fff"},
          {"previewIcons", json::array()}}});
    server.route("GET", "/api/collections",
                 ScriptedResponse{200, json{{"collections", collections}, {"total", 2}}.dump()});

    const std::string text = "Collections (2):\n"
                             "  sunlight — Sunlight\n"
                             "    Warm tones\n"
                             "  paper — Paper\n"
                             "    \n";
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"collections", "list"}, {"collections"}}) {
        auto result = sandbox.run(arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, text);
    }

    auto listed = sandbox.run({"collections", "list", "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(json::parse(listed.out), (json{{"collections", collections}, {"count", 2}}));
    EXPECT_EQ(sandbox.run({"collections", "--json"}).out, listed.out);
}

TEST_F(Collections, ListFailsWithTheCatalogsErrorWhenNothingIsLocal) {
    server.route("GET", "/api/collections", ScriptedResponse{500, R"({"message":"maintenance"})"});
    server.route("GET", "/api/collections/", ScriptedResponse{200, "{}"});
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"collections"}, {"collections", "list", "--json"}}) {
        auto result = sandbox.run(arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "Error: API error (HTTP 500): maintenance\n");
    }
    server.route("GET", "/api/collections", ScriptedResponse{200, R"({"collections":[{"slug":"x"}]})"});
    auto result = sandbox.run({"collections"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: Invalid response from Mivora API.\n");
}

TEST_F(Collections, ShowPrintsTheIconsOptionallyOnlyThoseOfInstalledOrDockApps) {
    addApps();
    writeDock(sandbox, {dockTile(platform::fileURLString(code, true), "Code", "")});
    json icons = json::array({icon("notes", "Notes", "https://cdn.example/notes.png"),
                              icon("visual-studio-code", "VS Code", "https://cdn.example/code.png"),
                              icon("safari", "Safari", "https://cdn.example/safari.png")});
    json detail = serveSunlight(icons);

    const std::string all = "Sunlight (sunlight)\n"
                            "Warm tones\n"
                            "Icons (3):\n"
                            "  Notes [notes]\n"
                            "    https://cdn.example/notes.png\n"
                            "  VS Code [visual-studio-code]\n"
                            "    https://cdn.example/code.png\n"
                            "  Safari [safari]\n"
                            "    https://cdn.example/safari.png\n";
    struct Case {
        std::vector<std::string> flags;
        std::string out;
    } cases[] = {
        {{}, all},
        {{"--dock"}, all}, // only read together with --installed
        {{"--installed"},
         "Sunlight (sunlight)\nWarm tones\nIcons (2):\n"
         "  Notes [notes]\n    https://cdn.example/notes.png\n"
         "  VS Code [visual-studio-code]\n    https://cdn.example/code.png\n"},
        {{"--installed", "--dock"},
         "Sunlight (sunlight)\nWarm tones\nIcons (1):\n"
         "  VS Code [visual-studio-code]\n    https://cdn.example/code.png\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"collections", "show", "sunlight"};
        arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
        auto result = sandbox.run(arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, c.out) << c.flags.size();
    }

    auto shown = sandbox.run({"collections", "show", "sunlight", "--json"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(json::parse(shown.out), detail);
    auto filtered = sandbox.run({"collections", "show", "sunlight", "--installed", "--dock", "--json"});
    json expected = detail;
    expected["icons"] = json::array({icons.at(1)});
    EXPECT_EQ(json::parse(filtered.out), expected); // previewIcons stay as they are
}

TEST_F(Collections, ShowWithoutAMatchAndWithAnEmptyDescription) {
    server.route("GET", "/api/collections/bare",
                 ScriptedResponse{200, R"({"slug":"bare","name":"Bare","description":"","accent":"",
                     "previewIcons":[{"appSlug":"notes","appName":"Notes","iconUrl":"u"}],
                     "icons":[{"appSlug":"notes","appName":"Notes","iconUrl":"u"}]})"});
    auto result = sandbox.run({"collections", "show", "bare", "--installed"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Bare (bare)\n\nIcons (0):\n");
    auto reply = json::parse(sandbox.run({"collections", "show", "bare", "--installed", "--json"}).out);
    EXPECT_EQ(reply.at("icons"), json::array());
    EXPECT_EQ(reply.at("previewIcons").size(), 1u);
}

TEST_F(Collections, ShowAndApplyEndWithTheCatalogsError) {
    server.route("GET", "/api/collections/nope", ScriptedResponse{404, R"({"statusMessage":"Not Found"})"});
    server.route("GET", "/api/collections/odd", ScriptedResponse{200, R"({"slug":"odd"})"});
    struct Case {
        std::vector<std::string> arguments;
        std::string err;
    } cases[] = {
        {{"collections", "show", "nope"}, "Error: API error (HTTP 404): Not Found\n"},
        {{"collections", "show", "nope", "--json"}, "Error: API error (HTTP 404): Not Found\n"},
        {{"collections", "apply", "nope", "--dry-run"}, "Error: API error (HTTP 404): Not Found\n"},
        {{"collections", "apply", "nope"}, "Error: API error (HTTP 404): Not Found\n"},
        {{"collections", "show", "odd"}, "Error: Invalid response from Mivora API.\n"},
        {{"collections", "apply", "odd", "--json"}, "Error: Invalid response from Mivora API.\n"},
    };
    for (const auto& c : cases) {
        auto result = sandbox.run(c.arguments);
        EXPECT_EQ(result.status, 1) << c.arguments[1];
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, c.err);
    }
}

TEST_F(Collections, ApplyRefusesALimitBelowOneBeforeAnyRequest) {
    for (const char* limit : {"0", "-3"}) {
        auto result = sandbox.run({"collections", "apply", "sunlight", "--limit", limit});
        EXPECT_EQ(result.status, 64) << limit;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("Error: --limit must be greater than zero\n"
                                   "Usage: mivora collections apply <slug>",
                                   0),
                  0u)
            << result.err;
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(Collections, DryRunListsThePairsAfterTheLimitAndChangesNothing) {
    addApps();
    installEngine();
    json icons = fourIcons();
    json detail = serveSunlight(icons);

    auto text = sandbox.run({"collections", "apply", "sunlight", "--dry-run", "--limit", "2"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, "Dry run: 2 installed match(es) for Sunlight [applications]\n"
                        "  Notes ← Notes\n"
                        "    " +
                            notes +
                            "\n"
                            "  Visual Studio Code ← VS Code\n"
                            "    " +
                            code + "\n");

    auto reply = sandbox.run({"collections", "apply", "sunlight", "-d", "--json", "--appearance", "dark"});
    ASSERT_EQ(reply.status, 0) << reply.err;
    json document = json::parse(reply.out);
    json collection = detail;
    collection.erase("icons");
    EXPECT_EQ(document.at("collection"), collection);
    for (auto [key, value] : std::vector<std::pair<std::string, json>>{{"success", true},
                                                                       {"appearance", "dark"},
                                                                       {"source", "applications"},
                                                                       {"dryRun", true},
                                                                       {"matched", 3},
                                                                       {"applied", 0},
                                                                       {"failed", 0},
                                                                       {"skipped", 1},
                                                                       {"results", json::array()}})
        EXPECT_EQ(document.at(key), value) << key;
    const auto& matches = document.at("matches");
    ASSERT_EQ(matches.size(), 3u);
    const std::pair<size_t, std::string> pairs[] = {{0, notes}, {1, code}, {2, mail}};
    for (const auto& [index, path] : pairs) {
        EXPECT_EQ(matches.at(index).at("icon"), icons.at(index));
        EXPECT_EQ(matches.at(index).at("app").at("path"), path);
    }

    // Only the collection was fetched; nothing was downloaded, applied or refreshed.
    EXPECT_EQ(requestedPaths(),
              (std::vector<std::string>{"/api/collections/sunlight", "/api/collections/sunlight"}));
    EXPECT_TRUE(sandbox.loggedCalls("sudo.log").empty());
    EXPECT_TRUE(sandbox.loggedCalls("killall.log").empty());
    EXPECT_FALSE(platform::fileExists(
        sandbox.homePath("Library/Application Support/com.quartelmisko.Mivora/icon-cache.json")));
}

TEST_F(Collections, DryRunFromTheDockMatchesPinnedApplicationsOnly) {
    addApps();
    writeDock(sandbox, {dockTile(platform::fileURLString(code, true), "Code", "")});
    serveSunlight(fourIcons());
    auto result = sandbox.run({"collections", "apply", "sunlight", "--dock", "--dry-run"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Dry run: 1 installed match(es) for Sunlight [dock]\n"
                          "  Code ← VS Code\n"
                          "    " +
                              code + "\n");
    auto reply = json::parse(sandbox.run({"collections", "apply", "sunlight", "--dock", "-d", "--json"}).out);
    EXPECT_EQ(reply.at("source"), "dock");
    EXPECT_EQ(reply.at("appearance"), "light");
    EXPECT_EQ(reply.at("skipped"), 3);
}

TEST_F(Collections, ApplyGoesOnAfterAFailedItemAndRefreshesOnceAtTheEnd) {
    addApps();
    installEngine();
    json icons = fourIcons();
    serveSunlight(icons);

    auto result = sandbox.run({"collections", "apply", "sunlight", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    json reply = json::parse(result.out);
    for (auto [key, value] : std::vector<std::pair<std::string, json>>{{"success", false},
                                                                       {"appearance", "light"},
                                                                       {"dryRun", false},
                                                                       {"matched", 3},
                                                                       {"applied", 2},
                                                                       {"failed", 1},
                                                                       {"skipped", 1}})
        EXPECT_EQ(reply.at(key), value) << key;
    EXPECT_FALSE(reply.contains("matches"));
    const auto& results = reply.at("results");
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].at("icon"), icons[0]);
    EXPECT_EQ(results[0].at("app").at("path"), notes);
    EXPECT_EQ(results[0].at("success"), true);
    EXPECT_EQ(results[0].at("appliedToBundle"), true);
    EXPECT_EQ(results[0].at("message"), "Applied light icon to Notes");
    EXPECT_TRUE(platform::fileExists(results[0].at("cachedFile").get<std::string>()));
    EXPECT_FALSE(results[0].contains("error"));
    EXPECT_EQ(results[1].at("message"), "Applied light icon to Visual Studio Code");
    EXPECT_EQ(results[2].at("app").at("name"), "Mail");
    EXPECT_EQ(results[2].at("success"), false);
    EXPECT_EQ(results[2].at("appliedToBundle"), false);
    EXPECT_EQ(results[2].at("error"), "Failed to download icon: HTTP 404");
    EXPECT_FALSE(results[2].contains("cachedFile"));
    EXPECT_FALSE(results[2].contains("message"));

    // Each downloaded icon went to the helper and is gone afterwards.
    auto helper = sandbox.loggedCalls("helper.log");
    ASSERT_EQ(helper.size(), 2u);
    EXPECT_EQ(helper[0].at(1), notes);
    EXPECT_EQ(helper[1].at(1), code);
    EXPECT_EQ(platform::lastPathComponent(helper[0].at(2)).rfind("mivora-", 0), 0u);
    EXPECT_TRUE(helper[1].at(2).ends_with(".png")) << helper[1].at(2); // no extension in the address
    EXPECT_EQ(namesStartingWith(sandbox.tmp(), "mivora-"), std::vector<std::string>{});
    EXPECT_EQ(sandbox.loggedCalls("killall.log"), (Calls{{"Dock"}}));
}

TEST_F(Collections, ApplySummaryLines) {
    addApps();
    installEngine();
    struct Case {
        std::vector<std::string> slugs; // of the collection's icons, from fourIcons()
        std::vector<std::string> flags;
        std::string out;
    } cases[] = {
        {{"notes", "visual-studio-code"}, {"--no-refresh"}, "✓ Applied 2 Sunlight icon(s).\n"},
        {{"safari"}, {}, "✓ Applied 0 Sunlight icon(s).\n"},
        {{"mail"},
         {},
         "Applied 0 Sunlight icon(s); 1 failed.\n  ✗ Mail: Failed to download icon: HTTP 404\n"},
        {{"notes", "mail", "visual-studio-code"},
         {"--limit", "1", "--no-refresh"},
         "✓ Applied 1 Sunlight icon(s).\n"},
    };
    json all = fourIcons();
    for (const auto& c : cases) {
        json icons = json::array();
        for (const auto& slug : c.slugs)
            for (const auto& item : all)
                if (item.at("appSlug") == slug) icons.push_back(item);
        serveSunlight(icons);
        std::vector<std::string> arguments = {"collections", "apply", "sunlight"};
        arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
        auto result = sandbox.run(arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, c.out);
    }
    // Nothing was applied without --no-refresh, so nothing was refreshed.
    EXPECT_TRUE(sandbox.loggedCalls("killall.log").empty());
    EXPECT_EQ(sandbox.loggedCalls("helper.log").size(), 3u);
}

TEST_F(Collections, ApplyRecordsEngineErrorsPerItemAndNeverReadsLocalFilesForTheCatalog) {
    addApps();
    sandbox.installFakeSudo(); // but no helper files
    installRecordingProgram(sandbox, "/usr/bin/killall", "killall.log");
    sandbox.writeFile(sandbox.dir() + "/private.png", "PRIVATE");
    serveSunlight(
        json::array({icon("notes", "Notes", servedIcon("notes.png")),
                     icon("mail", "Mail", platform::fileURLString(sandbox.dir() + "/private.png", false))}));
    auto result = sandbox.run({"collections", "apply", "sunlight"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Applied 0 Sunlight icon(s); 2 failed.\n"
                          "  ✗ Notes: Helper files not found. Run Mivora once to complete setup.\n"
                          "  ✗ Mail: Failed to download icon: HTTP 0\n");
    EXPECT_EQ(namesStartingWith(sandbox.tmp(), "mivora-"), std::vector<std::string>{});
    EXPECT_TRUE(sandbox.loggedCalls("killall.log").empty());
}

// The user's own collections, written as the local store writes them.
class LocalCollections : public Collections {
protected:
    std::string iconFile(const std::string& slug, const std::string& name) const {
        std::string path = collectionFolder(sandbox, slug) + "/icons/" + name;
        sandbox.writeFile(path, "PNG " + name);
        return path;
    }

    json localIcon(const std::string& slug, const std::string& appSlug, const std::string& appName) const {
        return icon(
            appSlug, appName,
            platform::fileURLString(collectionFolder(sandbox, slug) + "/icons/" + appSlug + ".png", false));
    }

    // alpha: two done icons of three; gamma (folder) holds the collection gamma-2
    // with no done icon and no description; broken and empty are not collections.
    void writeTwoCollections() const {
        writeCollection(sandbox, "alpha",
                        manifestDocument("alpha", "Alpha",
                                         {{.key = "notes", .appName = "Notes", .status = "done"},
                                          {.key = "mail", .appName = "Mail", .status = "pending"},
                                          {.key = "arc", .appName = "Arc", .status = "done"}},
                                         "Hand drawn"));
        writeCollection(sandbox, "gamma",
                        manifestDocument("gamma-2", "Gamma",
                                         {{.key = "notes", .appName = "Notes", .status = "rejected"}}));
        sandbox.writeFile(collectionFolder(sandbox, "broken") + "/manifest.json", "{not json");
        sandbox.writeFile(collectionFolder(sandbox, "empty") + "/readme.txt", "no manifest");
    }

    json remoteList() const {
        return json::array({{{"slug", "sunlight"},
                             {"name", "Sunlight"},
                             {"description", "Warm tones"},
                             {"accent", "#fa0"},
                             {"previewIcons", json::array()}}});
    }
};

TEST_F(LocalCollections, ListShowsLocalCollectionsFirstThenTheCatalogs) {
    writeTwoCollections();
    server.route("GET", "/api/collections",
                 ScriptedResponse{200, json{{"collections", remoteList()}}.dump()});
    auto result = sandbox.run({"collections"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Local collections (2):\n"
                          "  alpha — Alpha\n"
                          "    Hand drawn\n"
                          "  gamma-2 — Gamma\n"
                          "\n"
                          "Collections (1):\n"
                          "  sunlight — Sunlight\n"
                          "    Warm tones\n");

    auto listed = sandbox.run({"collections", "list", "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    json alphaIcons = json::array({localIcon("alpha", "arc", "Arc"), localIcon("alpha", "notes", "Notes")});
    json local = json::array({{{"slug", "alpha"},
                               {"name", "Alpha"},
                               {"description", "Hand drawn"},
                               {"accent", "#8b8b8b"},
                               {"previewIcons", alphaIcons}},
                              {{"slug", "gamma-2"},
                               {"name", "Gamma"},
                               {"description", ""},
                               {"accent", "#8b8b8b"},
                               {"previewIcons", json::array()}}});
    EXPECT_EQ(json::parse(listed.out),
              (json{{"collections", remoteList()}, {"count", 1}, {"localCollections", local}}));
    EXPECT_NE(alphaIcons[0].at("iconUrl").get<std::string>().find("/Application%20Support/"),
              std::string::npos);
    EXPECT_EQ(sandbox.run({"collections", "--json"}).out, listed.out);
}

TEST_F(LocalCollections, LocalCollectionsAreShownTogetherWithTheCatalogsError) {
    writeTwoCollections();
    server.route("GET", "/api/collections", ScriptedResponse{503, R"({"error":"down for maintenance"})"});
    auto result = sandbox.run({"collections", "list"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "Local collections (2):\n"
                          "  alpha — Alpha\n"
                          "    Hand drawn\n"
                          "  gamma-2 — Gamma\n"
                          "\n"
                          "Could not load remote collections: API error (HTTP 503): down for maintenance\n");

    auto listed = sandbox.run({"collections", "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    json reply = json::parse(listed.out);
    EXPECT_EQ(reply.at("collections"), json::array());
    EXPECT_EQ(reply.at("count"), 0);
    EXPECT_EQ(reply.at("localCollections").size(), 2u);
    EXPECT_EQ(reply.at("remoteError"), "API error (HTTP 503): down for maintenance");
}

TEST_F(LocalCollections, ShowPrefersTheLocalCollectionOfASlug) {
    addApps();
    writeCollection(sandbox, "sunlight",
                    manifestDocument("sunlight", "My Sunlight",
                                     {{.key = "notes", .appName = "Notes", .status = "done"},
                                      {.key = "mail", .appName = "Mail", .status = "skipped"},
                                      {.key = "safari", .appName = "Safari", .status = "done"}},
                                     "Mine"));
    serveSunlight(fourIcons());
    json notesIcon = localIcon("sunlight", "notes", "Notes"),
         safariIcon = localIcon("sunlight", "safari", "Safari");

    auto result = sandbox.run({"collections", "show", "sunlight"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "My Sunlight (sunlight)\nMine\nIcons (2):\n"
                          "  Notes [notes]\n    " +
                              notesIcon.at("iconUrl").get<std::string>() +
                              "\n"
                              "  Safari [safari]\n    " +
                              safariIcon.at("iconUrl").get<std::string>() + "\n");
    auto installed = sandbox.run({"collections", "show", "sunlight", "--installed", "--json"});
    ASSERT_EQ(installed.status, 0) << installed.err;
    EXPECT_EQ(json::parse(installed.out), (json{{"slug", "sunlight"},
                                                {"name", "My Sunlight"},
                                                {"description", "Mine"},
                                                {"accent", "#8b8b8b"},
                                                {"previewIcons", json::array({notesIcon, safariIcon})},
                                                {"icons", json::array({notesIcon})}}));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(LocalCollections, TheFirstFourDoneIconsArePreviewed) {
    std::vector<ManifestEntry> entries;
    for (const char* slug : {"f", "b", "e", "a", "d", "c"})
        entries.push_back({.key = slug, .appName = std::string("App ") + slug, .status = "done"});
    entries.push_back({.key = "0", .appName = "Pending", .status = "pending"});
    writeCollection(sandbox, "six", manifestDocument("six", "Six", entries));
    auto shown = sandbox.run({"collections", "show", "six", "--json"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    json reply = json::parse(shown.out);
    std::vector<std::string> order, previews;
    for (const auto& item : reply.at("icons"))
        order.push_back(item.at("appSlug"));
    for (const auto& item : reply.at("previewIcons"))
        previews.push_back(item.at("appSlug"));
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "d", "e", "f"}));
    EXPECT_EQ(previews, (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(reply.at("icons").at(0), localIcon("six", "a", "App a"));
}

TEST_F(LocalCollections, AnUnreadableLocalManifestEndsShowAndApply) {
    serveSunlight(fourIcons());
    sandbox.writeFile(collectionFolder(sandbox, "sunlight") + "/manifest.json",
                      R"({"schema":1,"slug":"sunlight"})");
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"collections", "show", "sunlight"}, {"collections", "apply", "sunlight", "--dry-run"}}) {
        auto result = sandbox.run(arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("Error: Missing required key at ", 0), 0u) << result.err;
    }
    EXPECT_TRUE(server.requests().empty()); // no fall-back to the catalog's collection
}

TEST_F(LocalCollections, ApplyUsesTheStagedFilesAndTheirDarkVariants) {
    addApps();
    installEngine();
    serveSunlight(fourIcons());
    writeCollection(
        sandbox, "sunlight",
        manifestDocument(
            "sunlight", "My Sunlight",
            {{.key = "notes", .appName = "Notes", .status = "done", .dark = true},
             // no dark file staged
             {.key = "visual-studio-code", .appName = "Visual Studio Code", .status = "done", .dark = true},
             {.key = "mail", .appName = "Mail", .status = "pending", .dark = true}}));
    std::string notesLight = iconFile("sunlight", "notes.png");
    std::string notesDark = iconFile("sunlight", "notes@dark.png");
    std::string codeLight = iconFile("sunlight", "visual-studio-code.png");
    iconFile("sunlight", "mail.png");

    auto reply = sandbox.run({"collections", "apply", "sunlight", "--no-refresh", "--json"});
    ASSERT_EQ(reply.status, 0) << reply.err;
    json document = json::parse(reply.out);
    EXPECT_EQ(document.at("collection").at("name"), "My Sunlight");
    EXPECT_EQ(document.at("applied"), 2);
    EXPECT_EQ(document.at("skipped"), 0);
    // The item shows its first apply: the light icon; the dark variant was only cached.
    EXPECT_EQ(document.at("results").at(0).at("message"), "Applied light icon to Notes");
    EXPECT_EQ(document.at("results").at(1).at("message"), "Applied light icon to Visual Studio Code");
    EXPECT_EQ(sandbox.loggedCalls("helper.log"),
              (Calls{{sandbox.rootPath("/usr/local/lib/mivora/fileicon"), notes, notesLight},
                     {sandbox.rootPath("/usr/local/lib/mivora/fileicon"), code, codeLight}}));
    json cache = json::parse(*sandbox.readFile(
        sandbox.homePath("Library/Application Support/com.quartelmisko.Mivora/icon-cache.json")));
    EXPECT_TRUE(cache.at(notes).contains("darkIconFileName"));
    EXPECT_NE(cache.at(notes).at("darkIconFileName"), cache.at(notes).at("iconFileName"));
    EXPECT_FALSE(cache.at(code).contains("darkIconFileName"));
    // The collection's own files stay; nothing was fetched.
    EXPECT_TRUE(platform::fileExists(notesLight) && platform::fileExists(notesDark));
    EXPECT_TRUE(server.requests().empty());

    EXPECT_TRUE(sandbox.loggedCalls("killall.log").empty());

    // A named slot takes the main file only.
    auto dark =
        sandbox.run({"collections", "apply", "sunlight", "--appearance", "dark", "--limit", "1", "--json"});
    ASSERT_EQ(dark.status, 0) << dark.err;
    json darkReply = json::parse(dark.out);
    EXPECT_EQ(darkReply.at("appearance"), "dark");
    EXPECT_EQ(darkReply.at("results").at(0).at("message"),
              "Cached dark icon for Notes; will apply when macOS switches to dark mode (or run again in that "
              "mode)");
    EXPECT_EQ(*sandbox.readFile(darkReply.at("results").at(0).at("cachedFile").get<std::string>()),
              "PNG notes.png");
    EXPECT_EQ(sandbox.loggedCalls("helper.log").size(), 2u);
    // An item that was only cached still counts as applied, so the batch refreshed.
    EXPECT_EQ(sandbox.loggedCalls("killall.log"), (Calls{{"Dock"}}));
}

} // namespace
} // namespace mivora::testing
