// `mivora collections mark` and `mivora collections status`: recording why an
// icon is not done, and reporting a collection's progress against the
// installed or Dock applications.
#include "platform/filesystem.h"
#include "support/collection_fixture.h"
#include "support/dock_fixture.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

class CollectionsMark : public ::testing::Test {
protected:
    Sandbox sandbox;

    void SetUp() override {
        sandbox.addApp({.name = "Notion"});
        sandbox.addApp({.name = "Visual Studio Code"});
        writeCollection(
            sandbox, "naruto",
            manifestDocument(
                "naruto", "Naruto",
                {{.key = "notion", .appName = "Notion", .status = "done", .attempts = 3, .dark = true},
                 {.key = "code", .appName = "Code", .reason = "old reason"}}));
    }

    core::Json entry(const std::string& key) { return readManifest(sandbox, "naruto")["icons"][key]; }
};

TEST_F(CollectionsMark, SetsStatusAndReasonAndKeepsTheRest) {
    auto result = sandbox.run(
        {"collections", "mark", "naruto", "Notion", "--status", "rejected", "--reason", "logo mutated"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "✓ Notion: rejected — logo mutated\n");
    core::Json notion = entry("notion");
    EXPECT_EQ(notion["status"], "rejected");
    EXPECT_EQ(notion["reason"], "logo mutated");
    EXPECT_EQ(notion["attempts"], 3);
    EXPECT_EQ(notion["dark"], true);
    EXPECT_NE(notion["updatedAt"], "2026-03-01T09:15:00Z");

    // Without --reason the earlier reason goes.
    auto pending = sandbox.run({"collections", "mark", "naruto", "notion", "--status", "pending", "--json"});
    ASSERT_EQ(pending.status, 0) << pending.err;
    core::Json reply = core::Json::parse(pending.out);
    EXPECT_EQ(keysOf(reply), (std::vector<std::string>{"appName", "appSlug", "dark", "status"}));
    EXPECT_EQ(reply["appSlug"], "notion");
    EXPECT_EQ(reply["appName"], "Notion");
    EXPECT_EQ(reply["status"], "pending");
    EXPECT_EQ(reply["dark"], true);
    EXPECT_FALSE(entry("notion").contains("reason"));
    auto text = sandbox.run({"collections", "mark", "naruto", "Notion", "--status", "skipped"});
    EXPECT_EQ(text.out, "✓ Notion: skipped\n");
}

TEST_F(CollectionsMark, KeysByTheAppsSlugThenByTheArgumentThenMakesANewEntry) {
    // "code" finds Visual Studio Code, which has no entry; the argument itself is a key.
    auto byKey = sandbox.run({"collections", "mark", "naruto", "code", "--status", "skipped", "--json"});
    ASSERT_EQ(byKey.status, 0) << byKey.err;
    EXPECT_EQ(core::Json::parse(byKey.out)["appSlug"], "code");
    EXPECT_EQ(entry("code")["status"], "skipped");
    EXPECT_EQ(entry("code")["appName"], "Code");
    EXPECT_FALSE(readManifest(sandbox, "naruto")["icons"].contains("visual-studio-code"));

    auto fresh =
        sandbox.run({"collections", "mark", "naruto", "Cool App", "--status", "rejected", "--reason", "x"});
    ASSERT_EQ(fresh.status, 0) << fresh.err;
    EXPECT_EQ(fresh.out, "✓ Cool App: rejected — x\n");
    core::Json made = entry("cool-app");
    EXPECT_EQ(made["appName"], "Cool App");
    EXPECT_EQ(made["attempts"], 0);
    EXPECT_EQ(made["dark"], false);

    auto installed = sandbox.run({"collections", "mark", "naruto", "visual", "--status", "pending"});
    ASSERT_EQ(installed.status, 0) << installed.err;
    EXPECT_EQ(entry("visual-studio-code")["appName"], "Visual Studio Code");
}

TEST_F(CollectionsMark, RefusesDoneAndUnknownStatusesBeforeLookingAtTheCollection) {
    const std::string before = *sandbox.readFile(collectionFolder(sandbox, "naruto") + "/manifest.json");
    const std::string statusMessage = "Error: --status must be pending, rejected, or skipped (use `add` to "
                                      "mark done).\nUsage: mivora collections mark";
    expectRefusals(
        sandbox,
        {
            {"done", {"collections", "mark", "naruto", "Notion", "--status", "done"}, 64, statusMessage},
            {"capitalised",
             {"collections", "mark", "naruto", "Notion", "--status", "Rejected"},
             64,
             statusMessage},
            {"done, no collection",
             {"collections", "mark", "nowhere", "Notion", "--status", "done"},
             64,
             statusMessage},
            {"no status",
             {"collections", "mark", "naruto", "Notion"},
             64,
             "Error: Missing expected argument '--status <status>'"},
            {"no collection",
             {"collections", "mark", "nowhere", "Notion", "--status", "skipped"},
             1,
             "Error: No local collection named 'nowhere'. Run `mivora collections create` first.\n"},
        });
    EXPECT_EQ(*sandbox.readFile(collectionFolder(sandbox, "naruto") + "/manifest.json"), before);
}

TEST(CollectionsMarkManifest, AManifestThatDoesNotDecodeIsAnError) {
    Sandbox sandbox;
    core::Json broken =
        manifestDocument("naruto", "Naruto", {{.key = "a", .appName = "A", .status = "finished"}});
    writeCollection(sandbox, "naruto", broken);
    auto result = sandbox.run({"collections", "mark", "naruto", "A", "--status", "pending"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: Unknown status \"finished\" at icons.a.status (expected pending, done, "
                          "rejected or skipped)\n");
    auto status = sandbox.run({"collections", "status", "naruto"});
    EXPECT_EQ(status.status, 1);
    EXPECT_EQ(status.err, result.err);
}

class CollectionsStatus : public ::testing::Test {
protected:
    Sandbox sandbox;
};

TEST_F(CollectionsStatus, ReportsEntriesInNameOrderAndTheAppsWithoutAnEntry) {
    for (const char* name : {"zoom", "Xcode", "Arc", "Visual Studio Code", "beta"})
        sandbox.addApp({.name = name});
    core::Json manifest = manifestDocument(
        "naruto", "Naruto",
        {{.key = "beta", .appName = "beta", .status = "done", .dark = true},
         {.key = "alpha-2", .appName = "Alpha", .status = "rejected", .reason = "logo mutated"},
         {.key = "alpha", .appName = "alpha"},
         {.key = "visual-studio-code", .appName = "VS Code", .status = "skipped"},
         {.key = "xcode-old", .appName = "Xcode", .status = "skipped", .reason = "no extractable icon"}});
    manifest["publish"] = {{"remoteSlug", "naruto-2"}, {"publishedAt", "2026-03-02T10:00:00Z"}};
    writeCollection(sandbox, "naruto", manifest);

    auto result = sandbox.run({"collections", "status", "naruto"});
    ASSERT_EQ(result.status, 0) << result.err;
    // Alpha and alpha compare equal without regard to case, so either may come first.
    const std::string head = "Naruto (naruto) — local collection\n"
                             "  1 done · 1 pending · 1 rejected · 2 skipped\n"
                             "  Published as: naruto-2\n";
    const std::string tail = "  ✓ beta (+dark)\n"
                             "  ⊘ VS Code\n"
                             "  ⊘ Xcode — no extractable icon\n"
                             "  Installed apps without an entry (3): Arc, Xcode, zoom\n";
    const std::string alphaFirst = "  ✗ Alpha — logo mutated\n  … alpha\n";
    const std::string lowerFirst = "  … alpha\n  ✗ Alpha — logo mutated\n";
    EXPECT_TRUE(result.out == head + alphaFirst + tail || result.out == head + lowerFirst + tail)
        << result.out;

    auto json = sandbox.run({"collections", "status", "naruto", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    core::Json reply = core::Json::parse(json.out);
    EXPECT_EQ(keysOf(reply),
              (std::vector<std::string>{"directory", "done", "icons", "installedAppsWithoutEntry", "kind",
                                        "name", "pending", "published", "rejected", "remoteSlug", "skipped",
                                        "slug", "total"}));
    EXPECT_EQ(reply["directory"], collectionFolder(sandbox, "naruto"));
    EXPECT_EQ(reply["kind"], "local");
    EXPECT_EQ(reply["total"], 5);
    EXPECT_EQ(reply["skipped"], 2);
    EXPECT_EQ(reply["published"], true);
    EXPECT_EQ(reply["remoteSlug"], "naruto-2");
    EXPECT_EQ(reply["installedAppsWithoutEntry"], core::Json::parse(R"(["Arc", "Xcode", "zoom"])"));
    EXPECT_EQ(reply["icons"][2], core::Json::parse(R"({"appName": "beta", "appSlug": "beta", "dark": true,
        "status": "done"})"));
    EXPECT_EQ(reply["icons"][4]["reason"], "no extractable icon");
    EXPECT_FALSE(reply["icons"][3].contains("reason"));
}

TEST_F(CollectionsStatus, AnEmptyCollectionListsEveryAppAndCutsTheListAtTwelve) {
    for (int i = 1; i <= 13; ++i)
        sandbox.addApp({.name = "App" + std::string(i < 10 ? "0" : "") + std::to_string(i)});
    writeCollection(sandbox, "empty", manifestDocument("empty", "Empty"));
    auto result = sandbox.run({"collections", "status", "empty"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Empty (empty) — local collection\n"
                          "  0 done · 0 pending · 0 rejected · 0 skipped\n"
                          "  Installed apps without an entry (13): App01, App02, App03, App04, App05, App06, "
                          "App07, App08, App09, App10, App11, App12, …\n");
    platform::removeItem(sandbox.rootPath("/Applications/App13.app"));
    auto twelve = sandbox.run({"collections", "status", "empty"});
    EXPECT_EQ(twelve.out.substr(twelve.out.find("(12)")), "(12): App01, App02, App03, App04, App05, App06, "
                                                          "App07, App08, App09, App10, App11, App12\n");
    auto json = sandbox.run({"collections", "status", "empty", "--json"});
    core::Json reply = core::Json::parse(json.out);
    EXPECT_EQ(reply["published"], false);
    EXPECT_FALSE(reply.contains("remoteSlug"));
    EXPECT_EQ(reply["icons"], core::Json::array());
    EXPECT_EQ(reply["installedAppsWithoutEntry"].size(), 12u);
}

TEST_F(CollectionsStatus, DockComparisonAndNoAppsAtAll) {
    std::string notion = sandbox.addApp({.name = "Notion"});
    std::string safari = sandbox.addApp({.name = "Safari"});
    writeCollection(sandbox, "naruto",
                    manifestDocument("naruto", "Naruto", {{.key = "safari", .appName = "Safari"}}));
    auto noDock = sandbox.run({"collections", "status", "naruto", "--dock"});
    ASSERT_EQ(noDock.status, 0) << noDock.err;
    EXPECT_EQ(noDock.out, "Naruto (naruto) — local collection\n"
                          "  0 done · 1 pending · 0 rejected · 0 skipped\n"
                          "  … Safari\n");
    writeDock(sandbox, {dockTile("file://" + notion + "/", "Notion", ""),
                        dockTile("file://" + safari + "/", "Safari", "")});
    auto dock = sandbox.run({"collections", "status", "naruto", "--dock"});
    EXPECT_EQ(dock.out.substr(dock.out.rfind("  Dock")), "  Dock apps without an entry (1): Notion\n");
    auto json = sandbox.run({"collections", "status", "naruto", "--dock", "--json"});
    EXPECT_EQ(core::Json::parse(json.out)["installedAppsWithoutEntry"], core::Json::parse(R"(["Notion"])"));
}

// A name that slugs to nothing makes an entry with an empty key: it names no
// staged icon, but it is an entry like any other, in the list and every count.
TEST_F(CollectionsStatus, AnEntryWithAnEmptyKeyIsCountedAndListed) {
    sandbox.addApp({.name = "Notion"});
    sandbox.addApp({.name = "+++"}); // slugs to the empty key, which has an entry
    auto created = sandbox.run({"collections", "create", "sea", "--apps=---,Notion", "--json"});
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_EQ(core::Json::parse(created.out)["seededApps"], 2);

    auto status = sandbox.run({"collections", "status", "sea", "--json"});
    ASSERT_EQ(status.status, 0) << status.err;
    core::Json reply = core::Json::parse(status.out);
    EXPECT_EQ(reply["total"], 2);
    EXPECT_EQ(reply["pending"], 2);
    EXPECT_EQ(reply["icons"], core::Json::parse(R"([
        {"appName": "---", "appSlug": "", "dark": false, "status": "pending"},
        {"appName": "Notion", "appSlug": "notion", "dark": false, "status": "pending"}])"));
    EXPECT_EQ(reply["installedAppsWithoutEntry"], core::Json::array());

    auto marked =
        sandbox.run({"collections", "mark", "sea", "!!!", "--status", "rejected", "--reason", "no name"});
    ASSERT_EQ(marked.status, 0) << marked.err;
    auto text = sandbox.run({"collections", "status", "sea"});
    EXPECT_EQ(text.out, "Sea (sea) — local collection\n"
                        "  0 done · 1 pending · 1 rejected · 0 skipped\n"
                        "  ✗ --- — no name\n"
                        "  … Notion\n");
}

TEST_F(CollectionsStatus, AMissingCollectionIsAnError) {
    auto result = sandbox.run({"collections", "status", "nowhere", "--json"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "Error: No local collection named 'nowhere'. Run `mivora collections create` first.\n");
}

} // namespace
} // namespace mivora::testing
