// `mivora collections create`: the slug and name rules, the folders and the
// manifest it writes, seeding from the Dock, the installed applications or a
// named list, and its text and JSON forms.
#include "platform/filesystem.h"
#include "support/collection_fixture.h"
#include "support/dock_fixture.h"

#include <gtest/gtest.h>
#include <regex>

namespace mivora::testing {
namespace {

class CollectionsCreate : public ::testing::Test {
protected:
    Sandbox sandbox;

    std::string nextStepsText(const std::string& slug) {
        return "Next steps:\n"
               "  mivora extract-icon <App> --out /tmp/<app>-source.png   # source for image-edit\n"
               "  mivora collections add " +
               slug +
               " <App> <styled.png>   # validate + stage\n"
               "  mivora collections status " +
               slug +
               " --json\n"
               "  mivora collections apply " +
               slug +
               " --dock\n"
               "  mivora collections publish " +
               slug + "   # share on catalog.mivora.example\n";
    }

    std::vector<std::string> entryKeys(const std::string& slug) {
        return keysOf(readManifest(sandbox, slug)["icons"]);
    }
};

TEST_F(CollectionsCreate, NameGivesTheSlugAndTheFoldersAndManifestAreWritten) {
    auto result = sandbox.run({"collections", "create", "--name", "Deep Sea"});
    ASSERT_EQ(result.status, 0) << result.err;
    std::string folder = collectionFolder(sandbox, "deep-sea");
    EXPECT_EQ(result.out, "✓ Created collection \"Deep Sea\" (deep-sea)\n"
                          "  Folder: " +
                              folder + "\n\n" + nextStepsText("deep-sea"));
    EXPECT_EQ(result.err, "");
    for (const char* sub : {"icons", "sources", "raw"})
        EXPECT_TRUE(platform::isDirectory(folder + "/" + sub)) << sub;

    std::string bytes = *sandbox.readFile(folder + "/manifest.json");
    core::Json manifest = core::Json::parse(bytes);
    // Pretty-printed with sorted keys; absent optionals are left out.
    EXPECT_EQ(keysOf(manifest), (std::vector<std::string>{"accent", "createdAt", "description", "icons",
                                                          "name", "publish", "schema", "slug"}));
    EXPECT_NE(bytes.find("\n  \"accent\" : \"#8b8b8b\",\n"), std::string::npos) << bytes;
    EXPECT_EQ(manifest["schema"], 1);
    EXPECT_EQ(manifest["slug"], "deep-sea");
    EXPECT_EQ(manifest["name"], "Deep Sea");
    EXPECT_EQ(manifest["description"], "");
    EXPECT_EQ(manifest["icons"], core::Json::object());
    EXPECT_EQ(manifest["publish"], core::Json::object());
    EXPECT_TRUE(std::regex_match(manifest["createdAt"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
        << manifest["createdAt"];
}

TEST_F(CollectionsCreate, SlugGivesTheNameAndJSONIsTheOnlyOutput) {
    auto result = sandbox.run({"collections", "create", "deep-sea", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    core::Json reply = core::Json::parse(result.out);
    std::string folder = collectionFolder(sandbox, "deep-sea");
    nlohmann::json expected =
        nlohmann::json::parse(R"({"success": true, "slug": "deep-sea", "name": "Deep Sea",
        "seededApps": 0, "nextSteps": [
        "mivora extract-icon <App> --out /tmp/<app>-source.png   # source for image-edit",
        "mivora collections add deep-sea <App> <styled.png>   # validate + stage",
        "mivora collections status deep-sea --json",
        "mivora collections apply deep-sea --dock",
        "mivora collections publish deep-sea   # share on catalog.mivora.example"]})");
    expected["directory"] = folder;
    expected["manifest"] = folder + "/manifest.json";
    EXPECT_EQ(nlohmann::json::parse(result.out), expected);
    EXPECT_EQ(keysOf(reply), (std::vector<std::string>{"directory", "manifest", "name", "nextSteps",
                                                       "seededApps", "slug", "success"}));
    EXPECT_EQ(readManifest(sandbox, "deep-sea")["name"], "Deep Sea");
}

TEST_F(CollectionsCreate, RecordsEveryValueAsTyped) {
    sandbox.writeFile(sandbox.homePath("prompt.txt"), "\n  ink wash, soft grain \n\n");
    auto result = sandbox.run({"collections", "create", "ink", "--name", "Ink & Paper", "--description",
                               "Brush strokes", "--accent", "red", "--provider", "agent", "--prompt",
                               "ignored", "--prompt-file", "~/prompt.txt"});
    ASSERT_EQ(result.status, 0) << result.err;
    core::Json manifest = readManifest(sandbox, "ink");
    EXPECT_EQ(manifest["name"], "Ink & Paper");
    EXPECT_EQ(manifest["description"], "Brush strokes");
    EXPECT_EQ(manifest["accent"], "red");
    EXPECT_EQ(manifest["provider"], "agent");
    EXPECT_EQ(manifest["stylePrompt"], "ink wash, soft grain");

    ASSERT_EQ(sandbox.run({"collections", "create", "plain", "--prompt", "bold anime cel-shading"}).status,
              0);
    EXPECT_EQ(readManifest(sandbox, "plain")["stylePrompt"], "bold anime cel-shading");
    sandbox.writeFile(sandbox.homePath("empty.txt"), "");
    ASSERT_EQ(sandbox.run({"collections", "create", "empty", "--prompt-file", sandbox.homePath("empty.txt")})
                  .status,
              0);
    EXPECT_EQ(readManifest(sandbox, "empty")["stylePrompt"], "");
}

TEST_F(CollectionsCreate, SeedsANamedListByLookupOrByItsText) {
    sandbox.addApp({.name = "Notion"});
    sandbox.addApp({.name = "Visual Studio Code"});
    auto result =
        sandbox.run({"collections", "create", "mix", "--apps", " notion , ,\tvisual studio code,Cool App, "});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("\n  Seeded 3 pending app(s).\n\nNext steps:\n"), std::string::npos)
        << result.out;
    core::Json icons = readManifest(sandbox, "mix")["icons"];
    EXPECT_EQ(keysOf(icons), (std::vector<std::string>{"cool-app", "notion", "visual-studio-code"}));
    EXPECT_EQ(icons["notion"]["appName"], "Notion"); // the application's own name
    EXPECT_EQ(icons["visual-studio-code"]["appName"], "Visual Studio Code");
    EXPECT_EQ(icons["cool-app"]["appName"], "Cool App"); // not installed: its text
    for (const auto& [key, entry] : icons.items()) {
        EXPECT_EQ(keysOf(entry),
                  (std::vector<std::string>{"appName", "attempts", "dark", "status", "updatedAt"}));
        EXPECT_EQ(entry["status"], "pending");
        EXPECT_EQ(entry["attempts"], 0);
        EXPECT_EQ(entry["dark"], false);
    }
}

TEST_F(CollectionsCreate, NamesThatGiveOneSlugLeaveTheLaterEntry) {
    auto result = sandbox.run({"collections", "create", "dup", "--apps", "Cool App,cool-app", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(core::Json::parse(result.out)["seededApps"], 1);
    core::Json icons = readManifest(sandbox, "dup")["icons"];
    EXPECT_EQ(keysOf(icons), (std::vector<std::string>{"cool-app"}));
    EXPECT_EQ(icons["cool-app"]["appName"], "cool-app");
}

TEST_F(CollectionsCreate, DockWinsOverAllAppsWhichWinsOverTheList) {
    std::string notion = sandbox.addApp({.name = "Notion"});
    sandbox.addApp({.name = "Safari"});
    writeDock(sandbox, {dockTile("file://" + notion + "/", "Notion", "")});
    ASSERT_EQ(
        sandbox.run({"collections", "create", "dock", "--dock", "--all-apps", "--apps", "Xcode"}).status, 0);
    EXPECT_EQ(entryKeys("dock"), (std::vector<std::string>{"notion"}));
    ASSERT_EQ(sandbox.run({"collections", "create", "all", "--all-apps", "--apps", "Xcode"}).status, 0);
    EXPECT_EQ(entryKeys("all"), (std::vector<std::string>{"notion", "safari"}));
}

TEST_F(CollectionsCreate, ErrorsEndWithTheirMessages) {
    writeCollection(sandbox, "taken", manifestDocument("taken", "Taken"));
    const std::string taken = *sandbox.readFile(collectionFolder(sandbox, "taken") + "/manifest.json");
    expectRefusals(
        sandbox,
        {
            {"neither slug nor name",
             {"collections", "create", "--dock"},
             64,
             "Error: Provide a slug argument or --name.\nUsage: mivora collections create"},
            {"capitals are not lowered",
             {"collections", "create", "Deep"},
             1,
             "Error: Invalid collection slug 'Deep'. Use lowercase letters, digits, and dashes (max 64 "
             "chars).\n"},
            {"a name without letters",
             {"collections", "create", "--name=---"},
             1,
             "Error: Invalid collection slug ''. Use lowercase letters, digits, and dashes (max 64 "
             "chars).\n"},
            {"a path is no slug",
             {"collections", "create", "../escape"},
             1,
             "Error: Invalid collection slug '../escape'."},
            {"existing collection",
             {"collections", "create", "taken", "--apps", "Notion"},
             1,
             "Error: A local collection named 'taken' already exists.\n"},
            {"missing prompt file",
             {"collections", "create", "p", "--prompt-file", "/nowhere/prompt.txt"},
             1,
             "Error: Cannot read /nowhere/prompt.txt: No such file or directory\n"},
        });
    EXPECT_EQ(*sandbox.readFile(collectionFolder(sandbox, "taken") + "/manifest.json"), taken);
    auto names = platform::listDirectory(collectionsRoot(sandbox));
    EXPECT_EQ(names, std::vector<std::string>{"taken"});
}

} // namespace
} // namespace mivora::testing
