// search-icons against a local catalog: the paged search with its request
// bodies and headers, the legacy fallback, the ranking as printed, and errors.
#include "support/catalog_fixture.h"
#include "support/catalog_server.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

class SearchIcons : public ::testing::Test {
protected:
    void SetUp() override { useCatalog(sandbox, server); }

    // Every search page answered by `pages` (index = page - 1); missing pages are empty.
    void servePages(const std::vector<std::string>& pages) {
        server.route("POST", "/api/search", [pages](const LoggedRequest& request) {
            int page = requestedPage(request);
            if (page < 1 || page > static_cast<int>(pages.size()))
                return ScriptedResponse{200, R"({"hits":[]})"};
            return ScriptedResponse{200, pages[static_cast<size_t>(page - 1)]};
        });
    }

    std::vector<int> pagesRequested() const {
        std::vector<int> pages;
        for (const auto& request : requestsTo(server, "POST", "/api/search"))
            pages.push_back(requestedPage(request));
        return pages;
    }

    CatalogServer server;
    Sandbox sandbox;
};

TEST_F(SearchIcons, PrintsRankedResultsAsNumberedLines) {
    servePages({searchAnswer(
        server, {{"Notion Dark", 500}, {"Chrome", 9}, {"Notion", 10}, {"Notionish", std::nullopt}})});
    auto result = sandbox.run({"search-icons", "notion"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "Catalog results for \"notion\" (3):\n"
                          "  [0] Notion (10 downloads)\n"
                          "       icns: " +
                              server.url("/files/Notion.icns") +
                              "\n"
                              "  [1] Notion Dark (500 downloads)\n"
                              "       icns: " +
                              server.url("/files/Notion-Dark.icns") +
                              "\n"
                              "  [2] Notionish (0 downloads)\n"
                              "       icns: " +
                              server.url("/files/Notionish.icns") + "\n");

    // The one request: a POST to <base>/search with the JSON headers and the page body.
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/api/search");
    EXPECT_EQ(requests[0].headers["Content-Type"], "application/json");
    EXPECT_EQ(requests[0].headers["Accept"], "application/json");
    EXPECT_EQ(requests[0].headers.count("Authorization"), 0u);
    // Key order carries no meaning.
    EXPECT_EQ(
        nlohmann::json::parse(requests[0].body),
        nlohmann::json::parse(R"({"query":"notion","searchOptions":{"hitsPerPage":50,"page":1,"filters":[],)"
                              R"("sort":["timeStamp:desc","category:asc"]}})"));
}

TEST_F(SearchIcons, JSONReplyHonoursTheLimitAndNumbersFromZero) {
    std::vector<CatalogHit> icons;
    for (int i = 0; i < 30; ++i)
        icons.push_back({"Notion " + std::to_string(i), 100 - i});
    servePages({searchAnswer(server, icons)});

    auto result = sandbox.run({"search-icons", "notion", "--limit", "3", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    auto reply = core::Json::parse(result.out);
    EXPECT_EQ(reply["query"], "notion");
    EXPECT_EQ(reply["count"], 3);
    ASSERT_EQ(reply["icons"].size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const auto& icon = reply["icons"][static_cast<size_t>(i)];
        EXPECT_EQ(icon["id"], i);
        EXPECT_EQ(icon["appName"], "Notion " + std::to_string(i));
        EXPECT_EQ(icon["downloads"], 100 - i);
        EXPECT_EQ(icon["lowResPngUrl"], server.url(iconFilePath("Notion " + std::to_string(i), ".png")));
    }
    // Pretty, sorted keys.
    EXPECT_EQ(result.out.rfind(
                  "{\n  \"count\" : 3,\n  \"icons\" : [\n    {\n      \"appName\" : \"Notion 0\",\n", 0),
              0u)
        << result.out;

    // Without --limit at most 20 are listed.
    auto plain = sandbox.run({"search-icons", "notion"});
    EXPECT_EQ(plain.out.rfind("Catalog results for \"notion\" (20):\n", 0), 0u) << plain.out;
    EXPECT_NE(plain.out.find("  [19] Notion 19 (81 downloads)\n"), std::string::npos);
    EXPECT_EQ(plain.out.find("[20]"), std::string::npos);
}

TEST_F(SearchIcons, FollowsThePageCountOfPageOneUpToTen) {
    struct Case {
        std::string label;
        std::optional<core::Json> totalPages;
        int pagesServed; // pages 1..n hold icons, later ones are empty
        std::vector<int> requested;
    } cases[] = {
        {"25 pages", 25, 25, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {"no count", std::nullopt, 5, {1}},
        {"zero", 0, 5, {1}},
        {"negative", -4, 5, {1}},
        {"count as text", "3", 5, {1}},
        {"one", 1, 5, {1}},
        {"page 3 of 5 empty", 5, 2, {1, 2, 3}},
    };
    for (const auto& c : cases) {
        CatalogServer own;
        Sandbox run;
        useCatalog(run, own);
        own.route("POST", "/api/search", [&own, c](const LoggedRequest& request) {
            int page = requestedPage(request);
            if (page > c.pagesServed) return ScriptedResponse{200, R"({"hits":[],"totalPages":1})"};
            // Later pages claim a different total; only page 1's counts.
            auto total = page == 1 ? c.totalPages : std::optional<core::Json>(99);
            return ScriptedResponse{200,
                                    searchAnswer(own, {{"Notion p" + std::to_string(page), page}}, total)};
        });
        auto result = run.run({"search-icons", "notion", "--json"});
        ASSERT_EQ(result.status, 0) << c.label << ": " << result.err;
        std::vector<int> pages;
        for (const auto& request : requestsTo(own, "POST", "/api/search"))
            pages.push_back(requestedPage(request));
        EXPECT_EQ(pages, c.requested) << c.label;
        auto reply = core::Json::parse(result.out);
        EXPECT_EQ(reply["count"], static_cast<int>(std::min<size_t>(c.requested.size(), c.pagesServed)))
            << c.label;
        // Ranked across pages: the most downloaded (the latest page) first.
        EXPECT_EQ(reply["icons"][0]["appName"],
                  "Notion p" + std::to_string(std::min<size_t>(c.requested.size(), c.pagesServed)))
            << c.label;
    }
}

TEST_F(SearchIcons, AnErrorOnAnyPageFailsTheSearch) {
    server.route("POST", "/api/search", [this](const LoggedRequest& request) {
        if (requestedPage(request) == 2)
            return ScriptedResponse{500, R"({"statusMessage":"Index unavailable"})"};
        return ScriptedResponse{200, searchAnswer(server, {{"Notion", 1}}, 3)};
    });
    auto result = sandbox.run({"search-icons", "notion"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: API error (HTTP 500): Index unavailable\n");
    EXPECT_EQ(pagesRequested(), (std::vector<int>{1, 2}));
}

TEST_F(SearchIcons, StatusesOtherThan200AreErrors) {
    struct Case {
        ScriptedResponse response;
        std::string err;
    } cases[] = {
        {{201, searchAnswer(server, {{"Notion", 1}})}, "Error: API error (HTTP 201): HTTP 201\n"},
        {{429, R"({"message":"Slow down","error":"x"})"}, "Error: API error (HTTP 429): Slow down\n"},
        {{502, "<html>bad gateway</html>", "text/html"}, "Error: API error (HTTP 502): HTTP 502\n"},
    };
    for (const auto& c : cases) {
        server.route("POST", "/api/search", c.response);
        auto result = sandbox.run({"search-icons", "notion", "--json"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, c.err);
    }
}

TEST_F(SearchIcons, FallsBackToTheLegacyQueryWhenNothingRanks) {
    servePages({searchAnswer(server, {{"Chrome", 5}, {"Firefox", 9}})});
    server.route("GET", "/api/icons", [this](const LoggedRequest&) {
        return ScriptedResponse{
            200,
            R"({"data":[{"name":"AT&T Plus+","icnsUrl":")" + server.url("/l.icns") +
                R"(","lowResPngUrl":"p","downloads":4},{"name":"Other","icnsUrl":"i","lowResPngUrl":"p"}]})"};
    });
    auto result = sandbox.run({"search-icons", "AT&T Plus+", "--liquid-glass"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Catalog results for \"AT&T Plus+\" (1):\n"
                          "  [0] AT&T Plus+ (4 downloads)\n"
                          "       icns: " +
                              server.url("/l.icns") + "\n");
    auto search = requestsTo(server, "POST", "/api/search");
    ASSERT_EQ(search.size(), 1u);
    EXPECT_EQ(core::Json::parse(search[0].body)["searchOptions"]["filters"],
              core::Json::parse(R"(["isLiquidGlass = true"])"));
    auto legacy = requestsTo(server, "GET", "/api/icons");
    ASSERT_EQ(legacy.size(), 1u);
    // The query is one value: its "&" and "+" are escaped so that they reach the service.
    EXPECT_EQ(legacy[0].query, "q=AT%26T%20Plus%2B&limit=50");
    EXPECT_EQ(legacy[0].headers["Accept"], "application/json");
    EXPECT_EQ(legacy[0].headers.count("Content-Type"), 0u);
    EXPECT_EQ(legacy[0].body, "");
}

TEST_F(SearchIcons, NoResultsIsAnErrorEvenWithJSON) {
    struct Case {
        std::string label;
        ScriptedResponse legacy;
        std::vector<std::string> arguments;
        std::string err;
    } cases[] = {
        {"fallback 404",
         {404, R"({"message":"gone"})"},
         {"search-icons", "notion"},
         "Error: No icons found for this search.\n"},
        {"fallback empty",
         {200, R"({"icons":[]})"},
         {"search-icons", "notion", "--json"},
         "Error: No icons found for this search.\n"},
        {"fallback error",
         {503, R"({"error":"maintenance"})"},
         {"search-icons", "notion"},
         "Error: API error (HTTP 503): maintenance\n"},
    };
    for (const auto& c : cases) {
        servePages({R"({"hits":[{"appName":"Chrome","icnsUrl":"i","lowResPngUrl":"p"}]})"});
        server.route("GET", "/api/icons", c.legacy);
        auto result = sandbox.run(c.arguments);
        EXPECT_EQ(result.status, 1) << c.label;
        EXPECT_EQ(result.out, "") << c.label;
        EXPECT_EQ(result.err, c.err) << c.label;
    }

    // --limit 0 ends the same way although icons matched, and asks no fallback.
    CatalogServer own;
    Sandbox run;
    useCatalog(run, own);
    own.route("POST", "/api/search", ScriptedResponse{200, searchAnswer(own, {{"Notion", 1}})});
    auto result = run.run({"search-icons", "notion", "--limit", "0"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: No icons found for this search.\n");
    EXPECT_TRUE(requestsTo(own, "GET", "/api/icons").empty());
}

TEST_F(SearchIcons, AliasedNamesAreSearchedUnderTheCatalogsName) {
    servePages({searchAnswer(server, {{"Discord", 7}, {"Discord PTB Canary", 3}})});
    auto result = sandbox.run({"search-icons", "Discord PTB", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    auto reply = core::Json::parse(result.out);
    EXPECT_EQ(reply["query"], "Discord PTB");
    // Ranked against "Discord": the exact name first.
    EXPECT_EQ(reply["icons"][0]["appName"], "Discord");
    EXPECT_EQ(core::Json::parse(requestsTo(server, "POST", "/api/search")[0].body)["query"], "Discord");

    auto text = sandbox.run({"search-icons", "Discord PTB"});
    EXPECT_EQ(text.out.rfind("Catalog results for \"Discord PTB\" (2):\n", 0), 0u) << text.out;
    sandbox.run({"search-icons", "discord ptb"});
    EXPECT_EQ(core::Json::parse(requestsTo(server, "POST", "/api/search").back().body)["query"],
              "discord ptb");
}

TEST_F(SearchIcons, BaseAddressSlashesAreTrimmedBeforeTheEndpoint) {
    servePages({searchAnswer(server, {{"Notion", 1}})});
    sandbox.environment["MIVORA_API_BASE_URL"] = "  " + server.url("/api//") + "\n";
    auto result = sandbox.run({"search-icons", "notion"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(server.requests().at(0).path, "/api/search");
}

TEST_F(SearchIcons, UsageAndTransportErrors) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string errStart;
    } cases[] = {
        {{"search-icons", "notion", "--limit", "many"}, 64, "Error: "},
        {{"search-icons"}, 64, "Error: Missing expected argument '<query>'"},
        {{"search-icons", "notion", "--limit", "-2"}, 64, "Error: The limit must be zero or more, not -2.\n"},
    };
    for (const auto& c : cases) {
        auto result = sandbox.run(c.arguments);
        EXPECT_EQ(result.status, c.status) << c.arguments.back();
        EXPECT_EQ(result.err.rfind(c.errStart, 0), 0u) << result.err;
        EXPECT_NE(result.err.find("Usage: mivora search-icons"), std::string::npos) << result.err;
    }
    EXPECT_TRUE(server.requests().empty());

    // Nothing listens on the port: the transport's own reason.
    int port;
    {
        CatalogServer closed;
        port = closed.port();
    }
    sandbox.environment["MIVORA_API_BASE_URL"] = "http://127.0.0.1:" + std::to_string(port) + "/api";
    auto result = sandbox.run({"search-icons", "notion"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("Error: ", 0), 0u);
    EXPECT_GT(result.err.size(), std::string("Error: \n").size());

    sandbox.environment["MIVORA_API_BASE_URL"] = "not a url";
    result = sandbox.run({"search-icons", "notion"});
    EXPECT_EQ(result.err, "Error: Invalid response from Mivora API.\n");
}

TEST(SearchIconsHelp, ShowsTheDiscussionAndOptions) {
    Sandbox sandbox;
    auto result = sandbox.run({"help", "search-icons"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("OVERVIEW: Search the Mivora icon catalog\n\n"
                              "Search the Mivora icon catalog (self-hosted origin). No API key required.\n\n"
                              "Examples:\n"
                              "  mivora search-icons notion\n"
                              "  mivora search-icons \"notion yellow\" --json\n"
                              "  mivora search-icons safari --liquid-glass\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(
        result.out.find("USAGE: mivora search-icons <query> [--json] [--liquid-glass] [--limit <limit>]"),
        std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("(default: 20)"), std::string::npos);
}

} // namespace
} // namespace mivora::testing
