// A request that may change something (POST, PUT, DELETE) reaches the service
// at most once per call, even when a kept-alive connection closes after it has
// arrived, without an answer: the failure reaches the caller in the platform's
// words instead of a second sending.
#include "core/json.h"
#include "support/collection_fixture.h"
#include "support/keep_alive_server.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

using Close = KeptAnswer::Close;

const std::string kLost = "The network connection was lost.";

struct Step {
    std::string method, path;
    Close close = Close::never;
};

TEST(RequestsSentOnce, EachChangingRequestArrivesOnceWhenItsConnectionCloses) {
    struct Case {
        std::string title;
        bool published; // a remote slug and token on file, which the service no longer holds
        std::vector<std::string> arguments;
        Step closing;
        int status;
        std::string errorLine; // "" for none
        std::string outputPart;
    };
    const std::string create = "/api/collections", upload = "/api/collections/naruto-2/icons/notion",
                      finalize = "/api/collections/naruto-2/finalize", remote = "/api/collections/naruto-old";
    const std::vector<std::string> publish = {"collections", "publish", "naruto"};
    const std::vector<Case> cases = {
        {"create after the status answer",
         true,
         publish,
         {"POST", create, Close::always},
         1,
         "Error: " + kLost + "\n",
         "Remote collection missing"},
        {"an upload",
         false,
         publish,
         {"PUT", upload, Close::always},
         0,
         "",
         "Published 0 icon(s); 1 failed:\n  ✗ notion: " + kLost + "\n"},
        {"finalize",
         false,
         publish,
         {"POST", finalize, Close::always},
         1,
         "Error: " + kLost + "\n",
         "  ↑ notion (1/1)\n"},
        {"finalize, closed only where its connection was used before",
         false,
         publish,
         {"POST", finalize, Close::onReusedConnection},
         0,
         "",
         "✓ Published 1 icon(s) as \"naruto-2\"\n"},
        {"delete",
         true,
         {"collections", "unpublish", "naruto"},
         {"DELETE", remote, Close::always},
         1,
         "Error: " + kLost + "\n",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        Sandbox sandbox;
        KeepAliveServer server;
        sandbox.environment["MIVORA_API_BASE_URL"] = server.url("/api");
        core::Json manifest =
            manifestDocument("naruto", "Naruto", {{.key = "notion", .appName = "Notion", .status = "done"}});
        if (c.published) manifest["publish"] = {{"remoteSlug", "naruto-old"}};
        writeCollection(sandbox, "naruto", manifest);
        sandbox.writeFile(collectionFolder(sandbox, "naruto") + "/icons/notion.png", "png bytes");
        if (c.published)
            sandbox.writeFile(collectionFolder(sandbox, "naruto") + "/publish-token", "old-token");
        auto routes = firstPublishRoutes("naruto-2", "notion", "new-token");
        routes.push_back({"GET", remote, ScriptedResponse{404, R"({"error":"gone"})"}});
        routes.push_back({"DELETE", remote, ScriptedResponse{200, "{}"}});
        for (auto& route : routes) {
            const bool closing = route.method == c.closing.method && route.path == c.closing.path;
            server.route(route.method, route.path,
                         KeptAnswer{std::move(route.response), closing ? c.closing.close : Close::never});
        }

        auto result = sandbox.run(c.arguments);
        EXPECT_EQ(result.status, c.status) << result.out << result.err;
        EXPECT_EQ(result.err, c.errorLine);
        EXPECT_NE(result.out.find(c.outputPart), std::string::npos) << result.out;
        for (const auto& request : server.requests()) {
            if (request.method == "GET") continue;
            EXPECT_EQ(server.arrivals(request.method, request.path), 1u)
                << request.method << " " << request.path;
        }
        EXPECT_EQ(server.arrivals(c.closing.method, c.closing.path), 1u);
    }
}

// Every page of a search is a POST, and goes out once like any other.
TEST(RequestsSentOnce, ASearchPageArrivesOnceWhenItsConnectionCloses) {
    Sandbox sandbox;
    KeepAliveServer server;
    sandbox.environment["MIVORA_API_BASE_URL"] = server.url("/api");
    const std::string firstPage = core::Json{
        {"hits", {{{"appName", "Notion"}, {"icnsUrl", server.url("/files/notion.icns")}}}},
        {"totalPages", 2}}.dump();
    server.route("POST", "/api/search", [&](const ArrivedRequest& request) {
        const bool first = core::Json::parse(request.body)["searchOptions"]["page"] == 1;
        return first ? KeptAnswer{ScriptedResponse{200, firstPage}} : KeptAnswer{{}, Close::always};
    });
    auto result = sandbox.run({"search-icons", "notion"});
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_EQ(result.err, "Error: " + kLost + "\n");
    EXPECT_EQ(server.arrivals("POST", "/api/search"), 2u) << "page 1, and page 2 once";
}

} // namespace
} // namespace mivora::testing
