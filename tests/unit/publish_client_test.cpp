// The publish client's pieces that the commands cannot show alone: the share
// address rewrite, the response check's texts and the three answers of the
// status call.
#include "collections/publish_client.h"
#include "support/base_address.h"
#include "support/catalog_server.h"

#include <gtest/gtest.h>

namespace mivora::collections {
namespace {

using testing::BaseAddress;
using testing::CatalogServer;
using testing::ScriptedResponse;

TEST(PublishClient, PublicURLMovesOnlyTheLegacyOriginOntoTheSite) {
    {
        BaseAddress builtIn(nullptr, nullptr);
        EXPECT_EQ(CollectionPublishClient::publicURL(
                      "https://legacy-origin-store.catalog.mivora.example/c/naruto?x=1"),
                  "https://catalog.mivora.example/c/naruto?x=1");
        EXPECT_EQ(CollectionPublishClient::publicURL("https://legacy-origin-store.catalog.mivora.example"),
                  "https://catalog.mivora.example");
        for (const char* unchanged :
             {"https://elsewhere.example/c/naruto", "https://legacy-assets1.catalog.mivora.example/c/naruto",
              "http://legacy-origin-store.catalog.mivora.example/c/naruto", ""})
            EXPECT_EQ(CollectionPublishClient::publicURL(unchanged), unchanged);
    }
    BaseAddress override(" https://staging.example/v2/api/ ", nullptr);
    EXPECT_EQ(CollectionPublishClient::publicURL("https://legacy-origin-store.catalog.mivora.example/c/n"),
              "https://staging.example/v2/c/n");
}

TEST(PublishClient, ResponseCheckTexts) {
    struct Case {
        platform::HttpResponse response;
        std::string action;
        std::optional<std::string> error; // nothing: passes
    };
    const std::string limited = " (rate limited — wait a bit and re-run; publish resumes where it left off)";
    const std::vector<Case> cases = {
        {{true, 200, ""}, "finalize collection", std::nullopt},
        {{true, 204, "not json"}, "finalize collection", std::nullopt},
        {{true, 429, R"({"error": "slow down"})"},
         "upload notion",
         "Could not upload notion: HTTP 429: slow down" + limited},
        {{true, 500, "<html>"}, "finalize collection", "Could not finalize collection: HTTP 500"},
        {{true, 500, R"({"error": 42, "message": "m"})"},
         "create collection",
         "Could not create collection: HTTP 500"},
        {{true, 409, R"(["error"])"}, "create collection", "Could not create collection: HTTP 409"},
        {{true, 302, R"({"error": ""})"},
         "delete published collection",
         "Could not delete published collection: HTTP 302: "},
        {{false, 0, ""}, "upload xcode", "No HTTP response while trying to upload xcode."},
    };
    for (const auto& c : cases) {
        std::optional<std::string> error;
        try {
            CollectionPublishClient::checkResponse(c.response, c.action);
        } catch (const LocalCollectionError& thrown) {
            EXPECT_EQ(thrown.kind(), LocalCollectionError::Kind::publishFailed);
            error = thrown.what();
        }
        EXPECT_EQ(error, c.error) << c.response.status << " " << c.response.body;
    }
}

TEST(PublishClient, RemoteStatusIsTrueFalseOrUnknown) {
    CatalogServer server;
    server.route("GET", "/api/collections/here", ScriptedResponse{200, "{}"});
    server.route("GET", "/api/collections/gone", ScriptedResponse{404, "{}"});
    server.route("GET", "/api/collections/broken", ScriptedResponse{500, "{}"});
    BaseAddress local(server.url("/api/").c_str(), nullptr);
    EXPECT_EQ(CollectionPublishClient::remoteStatus("here"), true);
    EXPECT_EQ(CollectionPublishClient::remoteStatus("gone"), false);
    EXPECT_EQ(CollectionPublishClient::remoteStatus("broken"), std::nullopt);
    // A slug is always one encoded path segment, so it never spoils the address.
    EXPECT_EQ(CollectionPublishClient::remoteStatus("a slug/.."), false);
    ASSERT_EQ(server.requests().size(), 4u);
    EXPECT_EQ(server.requests()[3].target, "/api/collections/a%20slug%2F..");
    {
        BaseAddress broken("no scheme here", nullptr);
        EXPECT_EQ(CollectionPublishClient::remoteStatus("here"), std::nullopt); // not a URL: nothing is sent
    }
    EXPECT_EQ(server.requests().size(), 4u);

    // Nobody listens on the port of a stopped server.
    std::string unreachable;
    {
        CatalogServer stopped;
        unreachable = stopped.url("/api");
    }
    BaseAddress nowhere(unreachable.c_str(), nullptr);
    EXPECT_EQ(CollectionPublishClient::remoteStatus("here"), std::nullopt);
}

} // namespace
} // namespace mivora::collections
