// `mivora collections publish` and `unpublish` against a local catalog
// service: the exact requests with their bearer token, the token file, resuming
// a publish, a remote copy that has gone, per-icon failures and the error texts.
#include "platform/filesystem.h"
#include "support/catalog_server.h"
#include "support/collection_fixture.h"
#include "support/icns_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace mivora::testing {
namespace {

const std::string kRateLimited = " (rate limited — wait a bit and re-run; publish resumes where it left off)";
const std::string kDefaultNote = "Live at its direct link; appears in public listings after review.";

class CollectionsPublish : public ::testing::Test {
protected:
    Sandbox sandbox;
    CatalogServer server;
    std::string folder = collectionFolder(sandbox, "naruto");
    std::string tokenFile = folder + "/publish-token";

    void SetUp() override {
        sandbox.environment["MIVORA_API_BASE_URL"] = server.url("/api");
        writeCollection(
            sandbox, "naruto",
            manifestDocument("naruto", "Naruto",
                             {{.key = "xcode", .appName = "Xcode", .status = "done"},
                              {.key = "notion", .appName = "Notion", .status = "done", .dark = true},
                              {.key = "safari", .appName = "Safari", .status = "done"},
                              {.key = "zoom", .appName = "Zoom", .status = "pending"},
                              {.key = "arc", .appName = "Arc", .status = "rejected"}}));
        for (const char* key : {"xcode", "notion", "safari"})
            sandbox.writeFile(folder + "/icons/" + key + ".png", iconBytes(key));
        sandbox.writeFile(folder + "/icons/notion@dark.png", "dark bytes");
    }

    static std::string iconBytes(const std::string& key) { return "png bytes of " + key; }

    void routeCreate(const std::string& assignedSlug, const std::string& token) {
        server.route("POST", "/api/collections",
                     ScriptedResponse{201, R"({"slug": ")" + assignedSlug +
                                               R"(", "name": "Naruto", "publishToken": ")" + token +
                                               R"(", "extra": 1})"});
    }
    void routeUploads(const std::string& remote, int status = 200, const std::string& failing = "",
                      const std::string& failure = "") {
        for (const char* key : {"xcode", "notion", "safari"}) {
            std::string k = key;
            ScriptedResponse ok{status, R"({"ok": true, "slug": ")" + remote + R"(", "appSlug": ")" + k +
                                            R"(", "iconUrl": "https://x/)" + k + R"(.png"})"};
            if (k == failing) ok = ScriptedResponse{429, failure};
            server.route("PUT", "/api/collections/" + remote + "/icons/" + k, ok);
        }
    }
    void routeFinalize(const std::string& remote, const std::string& extra = "") {
        server.route("POST", "/api/collections/" + remote + "/finalize",
                     ScriptedResponse{200, R"({"ok": true, "slug": ")" + remote +
                                               R"(", "iconCount": 3, "listed": false, "shareUrl": )"
                                               R"("https://legacy-origin-store.catalog.mivora.example/c/)" +
                                               remote + "\"" + extra + "}"});
    }
    void publishedAs(const std::string& remote, const std::optional<std::string>& token) {
        core::Json manifest = readManifest(sandbox, "naruto");
        manifest["publish"] = {{"remoteSlug", remote}, {"publishedAt", "2026-03-02T10:00:00Z"}};
        writeCollection(sandbox, "naruto", manifest);
        if (token) sandbox.writeFile(tokenFile, *token);
    }

    std::vector<std::string> requestLines() {
        std::vector<std::string> lines;
        for (const auto& request : server.requests())
            lines.push_back(request.method + " " + request.path);
        return lines;
    }
};

TEST_F(CollectionsPublish, FirstPublishCreatesUploadsTheLightIconsAndFinalises) {
    routeCreate("naruto", "tok-1");
    routeUploads("naruto");
    routeFinalize("naruto");
    auto result = sandbox.run({"collections", "publish", "naruto"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "✓ Created remote collection \"Naruto\" (naruto)\n"
              "  ↑ notion (1/3)\n"
              "  ↑ safari (2/3)\n"
              "  ↑ xcode (3/3)\n"
              "✓ Published 3 icon(s) as \"naruto\"\n"
              "  Note: 1 dark variant(s) stay local — the public catalog hosts light icons for now.\n"
              "  Share: " +
                  server.url("/c/naruto") + "\n  " + kDefaultNote + "\n");
    EXPECT_EQ(result.err, "");

    auto requests = server.requests();
    EXPECT_EQ(requestLines(),
              (std::vector<std::string>{"POST /api/collections", "PUT /api/collections/naruto/icons/notion",
                                        "PUT /api/collections/naruto/icons/safari",
                                        "PUT /api/collections/naruto/icons/xcode",
                                        "POST /api/collections/naruto/finalize"}));
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(nlohmann::json::parse(requests[0].body),
              nlohmann::json::parse(
                  R"({"name": "Naruto", "description": "", "accent": "#8b8b8b", "slug": "naruto"})"));
    EXPECT_EQ(requests[0].headers["Content-Type"], "application/json");
    EXPECT_FALSE(requests[0].headers.contains("Authorization"));
    for (size_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(requests[i].headers["Authorization"], "Bearer tok-1");
        EXPECT_EQ(requests[i].headers["Content-Type"], "image/png");
    }
    EXPECT_EQ(requests[1].body, iconBytes("notion")); // the light icon, never notion@dark.png
    EXPECT_EQ(requests[3].body, iconBytes("xcode"));
    EXPECT_EQ(requests[4].headers["Authorization"], "Bearer tok-1");
    EXPECT_EQ(requests[4].body, "");
    EXPECT_EQ(requests[4].headers["Content-Length"], "0"); // an empty body, said so
    EXPECT_FALSE(requests[4].headers.contains("Content-Type"));

    EXPECT_EQ(sandbox.readFile(tokenFile), "tok-1");
    struct stat info {};
    ASSERT_EQ(::stat(tokenFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    core::Json publish = readManifest(sandbox, "naruto")["publish"];
    EXPECT_EQ(keysOf(publish), (std::vector<std::string>{"finalizedAt", "publishedAt", "remoteSlug"}));
    EXPECT_EQ(publish["remoteSlug"], "naruto");
    EXPECT_NE(publish["publishedAt"], "2026-03-02T10:00:00Z");
}

TEST_F(CollectionsPublish, ARerunReusesTheRemoteCollectionAndTokenAndPrintsOnlyJSON) {
    publishedAs("naruto", "tok-1\n");
    server.route("GET", "/api/collections/naruto", ScriptedResponse{200, "{}"});
    routeUploads("naruto");
    routeFinalize("naruto", R"(, "note": "Listed after review")");
    auto result = sandbox.run({"collections", "publish", "naruto", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    core::Json reply = core::Json::parse(result.out);
    EXPECT_EQ(keysOf(reply),
              (std::vector<std::string>{"errors", "failed", "listed", "note", "remoteSlug", "shareUrl",
                                        "skippedDarkVariants", "slug", "success", "uploaded"}));
    nlohmann::json expected =
        nlohmann::json::parse(R"({"success": true, "slug": "naruto", "remoteSlug": "naruto",
        "uploaded": 3, "failed": 0, "skippedDarkVariants": 1, "listed": false, "note": "Listed after review",
        "errors": []})");
    expected["shareUrl"] = server.url("/c/naruto");
    EXPECT_EQ(nlohmann::json::parse(result.out), expected);
    EXPECT_EQ(requestLines(), (std::vector<std::string>{"GET /api/collections/naruto",
                                                        "PUT /api/collections/naruto/icons/notion",
                                                        "PUT /api/collections/naruto/icons/safari",
                                                        "PUT /api/collections/naruto/icons/xcode",
                                                        "POST /api/collections/naruto/finalize"}));
    EXPECT_FALSE(server.requests()[0].headers.contains("Authorization"));
    EXPECT_EQ(server.requests()[1].headers["Authorization"], "Bearer tok-1"); // the line break is trimmed
    core::Json publish = readManifest(sandbox, "naruto")["publish"];
    EXPECT_EQ(publish["publishedAt"], "2026-03-02T10:00:00Z"); // kept from the first publish
    EXPECT_TRUE(publish.contains("finalizedAt"));
}

TEST_F(CollectionsPublish, ATakenSlugPublishesUnderTheAssignedOne) {
    routeCreate("naruto-2", "tok-2");
    routeUploads("naruto-2");
    routeFinalize("naruto-2");
    auto result = sandbox.run({"collections", "publish", "naruto"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.substr(0, result.out.find("  ↑")),
              "✓ Created remote collection \"Naruto\" (naruto-2)\n"
              "  (slug was taken — published as naruto-2)\n");
    EXPECT_NE(result.out.find("✓ Published 3 icon(s) as \"naruto-2\"\n"), std::string::npos) << result.out;
    EXPECT_EQ(readManifest(sandbox, "naruto")["publish"]["remoteSlug"], "naruto-2");
    EXPECT_EQ(requestLines().back(), "POST /api/collections/naruto-2/finalize");
}

TEST_F(CollectionsPublish, AVanishedRemoteIsForgottenBeforeAFreshCreate) {
    publishedAs("old", "old-token");
    server.route("GET", "/api/collections/old", ScriptedResponse{404, R"({"error": "gone"})"});
    server.route("POST", "/api/collections", ScriptedResponse{500, "upstream exploded"});
    auto failed = sandbox.run({"collections", "publish", "naruto"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out,
              "Remote collection missing — creating a fresh publish on " + server.url("/api") + "\n");
    EXPECT_EQ(failed.err, "Error: Could not create collection: HTTP 500\n");
    // Forgotten and saved before the create was tried.
    EXPECT_EQ(readManifest(sandbox, "naruto")["publish"], core::Json::object());
    EXPECT_FALSE(platform::fileExists(tokenFile));

    publishedAs("old", "old-token");
    routeCreate("naruto", "new-token");
    routeUploads("naruto");
    routeFinalize("naruto");
    auto result = sandbox.run({"collections", "publish", "naruto"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.substr(0, result.out.find("  ↑")),
              "Remote collection missing — creating a fresh publish on " + server.url("/api") +
                  "\n✓ Created remote collection \"Naruto\" (naruto)\n");
    EXPECT_EQ(sandbox.readFile(tokenFile), "new-token");
    EXPECT_EQ(readManifest(sandbox, "naruto")["publish"]["remoteSlug"], "naruto");
}

TEST_F(CollectionsPublish, AnUnknownRemoteStatusKeepsTheRemoteOnlyWithAToken) {
    publishedAs("naruto", std::nullopt);
    server.route("GET", "/api/collections/naruto", ScriptedResponse{500, "{}"});
    routeCreate("naruto-3", "tok-3");
    routeUploads("naruto-3");
    routeFinalize("naruto-3");
    // No token on file (a blank file is none): a new create, without the "missing" line.
    sandbox.writeFile(tokenFile, " \n\t");
    auto created = sandbox.run({"collections", "publish", "naruto"});
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_EQ(created.out.substr(0, created.out.find('\n')),
              "✓ Created remote collection \"Naruto\" (naruto-3)");
    EXPECT_EQ(requestLines()[0], "GET /api/collections/naruto");
    EXPECT_EQ(requestLines()[1], "POST /api/collections");

    // With a token, an unanswered status call counts as an existing collection.
    publishedAs("naruto", "tok-1");
    server.route("GET", "/api/collections/naruto", ScriptedResponse{503, ""});
    routeUploads("naruto");
    routeFinalize("naruto");
    size_t before = server.requests().size();
    auto reused = sandbox.run({"collections", "publish", "naruto"});
    ASSERT_EQ(reused.status, 0) << reused.err;
    auto lines = requestLines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<long>(before), lines.end()),
              (std::vector<std::string>{
                  "GET /api/collections/naruto", "PUT /api/collections/naruto/icons/notion",
                  "PUT /api/collections/naruto/icons/safari", "PUT /api/collections/naruto/icons/xcode",
                  "POST /api/collections/naruto/finalize"}));
}

TEST_F(CollectionsPublish, FailedUploadsAreCollectedAndFinaliseStillRuns) {
    publishedAs("naruto", "tok-1");
    server.route("GET", "/api/collections/naruto", ScriptedResponse{200, "{}"});
    routeUploads("naruto", 200, "notion", R"({"error": "slow down"})");
    routeFinalize("naruto");
    platform::removeItem(folder + "/icons/xcode.png");
    auto result = sandbox.run({"collections", "publish", "naruto"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "  ↑ safari (1/3)\n"
              "Published 1 icon(s); 2 failed:\n"
              "  ✗ notion: Could not upload notion: HTTP 429: slow down" +
                  kRateLimited +
                  "\n"
                  "  ✗ xcode: staged icon file missing\n"
                  "Re-run `mivora collections publish naruto` to retry the failures.\n"
                  "  Note: 1 dark variant(s) stay local — the public catalog hosts light icons for now.\n"
                  "  Share: " +
                  server.url("/c/naruto") + "\n  " + kDefaultNote + "\n");
    EXPECT_EQ(requestLines().back(), "POST /api/collections/naruto/finalize");

    auto json = sandbox.run({"collections", "publish", "naruto", "--json"});
    core::Json reply = core::Json::parse(json.out);
    EXPECT_EQ(reply["success"], false);
    EXPECT_EQ(reply["uploaded"], 1);
    EXPECT_EQ(reply["failed"], 2);
    EXPECT_EQ(reply["skippedDarkVariants"], 1);
    EXPECT_EQ(reply["errors"], core::Json::parse(R"(["notion: Could not upload notion: HTTP 429: slow down)" +
                                                 kRateLimited + R"(", "xcode: staged icon file missing"])"));
}

TEST_F(CollectionsPublish, AFailedFinaliseEndsTheRunAndARerunResumes) {
    routeCreate("naruto", "tok-1");
    routeUploads("naruto");
    server.route("POST", "/api/collections/naruto/finalize",
                 ScriptedResponse{500, "<html>oops</html>", "text/html"});
    auto failed = sandbox.run({"collections", "publish", "naruto"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "Error: Could not finalize collection: HTTP 500\n");
    EXPECT_NE(failed.out.find("  ↑ xcode (3/3)\n"), std::string::npos);
    core::Json publish = readManifest(sandbox, "naruto")["publish"];
    EXPECT_EQ(publish["remoteSlug"], "naruto");
    EXPECT_FALSE(publish.contains("finalizedAt"));
    EXPECT_EQ(sandbox.readFile(tokenFile), "tok-1");

    server.route("GET", "/api/collections/naruto", ScriptedResponse{200, "{}"});
    routeFinalize("naruto");
    size_t before = server.requests().size();
    auto resumed = sandbox.run({"collections", "publish", "naruto"});
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_EQ(requestLines()[before], "GET /api/collections/naruto");
    EXPECT_EQ(requestLines().size(), before + 5); // status, three uploads, finalise: no second create
    EXPECT_TRUE(readManifest(sandbox, "naruto")["publish"].contains("finalizedAt"));
}

TEST_F(CollectionsPublish, ServiceAndAddressErrorTexts) {
    struct Case {
        const char* name;
        std::string base;
        ScriptedResponse create;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"error string",
         server.url("/api"),
         {403, R"({"error": "forbidden", "message": "m"})"},
         "Could not create collection: HTTP 403: forbidden"},
        {"error number",
         server.url("/api"),
         {500, R"({"error": 42})"},
         "Could not create collection: HTTP 500"},
        {"rate limited",
         server.url("/api"),
         {429, "too many"},
         "Could not create collection: HTTP 429" + kRateLimited},
        {"reply without token",
         server.url("/api"),
         {201, R"({"slug": "naruto", "name": "Naruto"})"},
         "Missing required key at publishToken"},
        {"slashes trimmed",
         "  /" + server.url("/api") + "//\n",
         {400, R"({"error": "bad"})"},
         "Could not create collection: HTTP 400: bad"},
        {"not HTTP", "ftp://127.0.0.1/api", {}, "No HTTP response while trying to create collection."},
        {"not a URL", "no scheme here", {}, "Bad API base URL."},
    };
    for (const auto& c : cases) {
        server.route("POST", "/api/collections", c.create);
        sandbox.environment["MIVORA_API_BASE_URL"] = c.base;
        auto result = sandbox.run({"collections", "publish", "naruto", "--json"});
        EXPECT_EQ(result.status, 1) << c.name;
        EXPECT_EQ(result.out, "") << c.name;
        EXPECT_EQ(result.err, "Error: " + c.error + "\n") << c.name;
    }
    EXPECT_FALSE(platform::fileExists(tokenFile));
}

TEST_F(CollectionsPublish, NothingIsSentWithoutADoneEntryOrACollection) {
    writeCollection(
        sandbox, "draft",
        manifestDocument("draft", "Draft",
                         {{.key = "a", .appName = "A"}, {.key = "b", .appName = "B", .status = "skipped"}}));
    auto nothing = sandbox.run({"collections", "publish", "draft"});
    EXPECT_EQ(nothing.status, 1);
    EXPECT_EQ(nothing.err,
              "Error: Nothing to publish — no staged icons. Run `mivora collections add` first.\n");
    auto missing = sandbox.run({"collections", "publish", "nowhere"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err,
              "Error: No local collection named 'nowhere'. Run `mivora collections create` first.\n");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(CollectionsPublish, UnpublishDeletesWithTheTokenAndForgetsThePublication) {
    publishedAs("naruto-2", "tok-2");
    server.route("DELETE", "/api/collections/naruto-2", ScriptedResponse{200, "not even JSON"});
    auto result = sandbox.run({"collections", "unpublish", "naruto"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "✓ Removed published collection naruto-2. Local files kept at " + folder + "\n");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method + " " + requests[0].path, "DELETE /api/collections/naruto-2");
    EXPECT_EQ(requests[0].headers["Authorization"], "Bearer tok-2");
    EXPECT_EQ(readManifest(sandbox, "naruto")["publish"], core::Json::object());
    EXPECT_EQ(readManifest(sandbox, "naruto")["icons"]["notion"]["status"], "done");
    EXPECT_FALSE(platform::fileExists(tokenFile));
    EXPECT_TRUE(platform::fileExists(folder + "/icons/notion.png"));

    publishedAs("naruto-2", "tok-2");
    auto json = sandbox.run({"collections", "unpublish", "naruto", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(
        nlohmann::json::parse(json.out),
        nlohmann::json::parse(R"({"success": true, "slug": "naruto", "removedRemoteSlug": "naruto-2"})"));
}

TEST_F(CollectionsPublish, UnpublishRefusals) {
    auto never = sandbox.run({"collections", "unpublish", "naruto"});
    EXPECT_EQ(never.status, 1);
    EXPECT_EQ(never.err, "Error: naruto is not published (no remote slug/token on file).\n");
    publishedAs("naruto-2", std::nullopt); // the token file deleted by hand
    auto noToken = sandbox.run({"collections", "unpublish", "naruto"});
    EXPECT_EQ(noToken.err, never.err);
    EXPECT_TRUE(server.requests().empty());

    // The service no longer holds it: nothing changes locally, so the run can be repeated.
    sandbox.writeFile(tokenFile, "tok-2");
    const std::string manifest = *sandbox.readFile(folder + "/manifest.json");
    auto gone = sandbox.run({"collections", "unpublish", "naruto"});
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(gone.err, "Error: Could not delete published collection: HTTP 404\n");
    EXPECT_EQ(*sandbox.readFile(folder + "/manifest.json"), manifest);
    EXPECT_EQ(sandbox.readFile(tokenFile), "tok-2");
}

} // namespace
} // namespace mivora::testing
