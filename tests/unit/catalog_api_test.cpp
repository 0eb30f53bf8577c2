// The catalog client's base address, error bodies, asset rewriting and
// downloads, against a local catalog server.
#include "catalog/catalog_api.h"
#include "catalog/catalog_constants.h"
#include "platform/filesystem.h"
#include "support/base_address.h"
#include "support/catalog_server.h"
#include "support/sandbox.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>

namespace mivora::catalog {
namespace {

using testing::BaseAddress;
using testing::CatalogServer;
using testing::ScriptedResponse;

TEST(CatalogAPI, BaseAddressOverridePrecedenceAndTrimming) {
    EXPECT_EQ(std::string(kDefaultBaseURL).size(), 34u);
    struct Case {
        const char* primary;
        const char* fallback;
        std::string base;
        std::string site;
    } cases[] = {
        {nullptr, nullptr, "https://catalog.mivora.example/api", "https://catalog.mivora.example"},
        {"   ", "https://other.example/api", "https://catalog.mivora.example/api",
         "https://catalog.mivora.example"},
        {nullptr, "https://other.example/api", "https://other.example/api", "https://other.example"},
        {" https://x.example/v2/api/ \n", nullptr, "https://x.example/v2/api", "https://x.example/v2"},
        {"//https://x.example//", nullptr, "https://x.example", "https://x.example"},
        {"https://x.example/root", "https://other.example", "https://x.example/root",
         "https://x.example/root"},
    };
    for (const auto& c : cases) {
        BaseAddress scope(c.primary, c.fallback);
        EXPECT_EQ(CatalogAPI::apiBaseURL(), c.base) << (c.primary ? c.primary : "(unset)");
        EXPECT_EQ(CatalogAPI::siteBaseURL(), c.site);
    }
}

TEST(CatalogAPI, ResolveAssetURLRewritesOnlyLegacyOrigins) {
    EXPECT_EQ(std::string(kLegacyOriginPrefixes[0]).size(), 45u);
    EXPECT_EQ(std::string(kLegacyOriginPrefixes[1]).size(), 50u);
    {
        BaseAddress scope(nullptr, nullptr);
        EXPECT_EQ(CatalogAPI::resolveAssetURL(std::string(kLegacyOriginPrefixes[0]) + "/icons/a.icns"),
                  "https://catalog.mivora.example/icons/a.icns");
        EXPECT_EQ(CatalogAPI::resolveAssetURL(std::string(kLegacyOriginPrefixes[1]) + "/p.png?x=1"),
                  "https://catalog.mivora.example/p.png?x=1");
        EXPECT_EQ(CatalogAPI::resolveAssetURL("https://elsewhere.example/icons/a.icns"),
                  "https://elsewhere.example/icons/a.icns");
        // Case-sensitive prefix test.
        std::string upper = "HTTPS://legacy-assets1.catalog.mivora.example/x";
        EXPECT_EQ(CatalogAPI::resolveAssetURL(upper), upper);
    }
    BaseAddress scope("http://127.0.0.1:9/api/", nullptr);
    EXPECT_EQ(CatalogAPI::resolveAssetURL(std::string(kLegacyOriginPrefixes[0]) + "/icons/a.icns"),
              "http://127.0.0.1:9/icons/a.icns");
}

TEST(CatalogAPI, ErrorMessageTakesTheFirstStringKey) {
    struct Case {
        std::string body;
        std::optional<std::string> message;
    } cases[] = {
        {R"({"statusMessage":"Not Found"})", "Not Found"},
        {R"({"message":42,"error":"bad thing"})", "bad thing"},
        {R"({"message":"","error":"x"})", ""},
        {R"({"message":"m","statusMessage":"s"})", "m"},
        {"<html>502</html>", std::nullopt},
        {R"(["message"])", std::nullopt},
        {R"({"other":"x"})", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CatalogAPI::errorMessage(c.body), c.message) << c.body;
}

TEST(CatalogAPI, GetJSONReportsStatusWithTheServicesWording) {
    CatalogServer server;
    server.route("GET", "/collections/missing", ScriptedResponse{404, R"({"statusMessage":"Not Found"})"});
    server.route("GET", "/collections/broken", ScriptedResponse{502, "upstream down", "text/plain"});
    server.route("GET", "/collections/empty", ScriptedResponse{400, R"({"message":""})"});
    server.route("GET", "/collections", ScriptedResponse{200, R"({"collections":[]})"});
    struct Case {
        std::string path;
        std::string message;
    } cases[] = {
        {"/collections/missing", "API error (HTTP 404): Not Found"},
        {"/collections/broken", "API error (HTTP 502): HTTP 502"},
        {"/collections/empty", "API error (HTTP 400): "},
    };
    for (const auto& c : cases) {
        try {
            CatalogAPI::getJSON(server.url(c.path));
            ADD_FAILURE() << c.path;
        } catch (const CatalogAPIError& error) {
            EXPECT_EQ(error.kind(), CatalogAPIError::Kind::httpError);
            EXPECT_EQ(std::string(error.what()), c.message);
        }
    }
    EXPECT_EQ(CatalogAPI::getJSON(server.url("/collections")), R"({"collections":[]})");
    EXPECT_EQ(server.requests().back().headers["Accept"], "application/json");
}

std::string downloadFailure(const std::string& address, const std::string& extension = "png") {
    try {
        std::string path = CatalogAPI::download(address, extension);
        platform::removeItemQuietly(path);
        return "(downloaded)";
    } catch (const std::exception& error) {
        return error.what();
    }
}

TEST(CatalogAPI, DownloadAcceptsOnlyAnExact200WithABody) {
    CatalogServer server;
    server.route("GET", "/icons/a.png", ScriptedResponse{200, "PNGDATA", "image/png"});
    server.route("GET", "/icons/empty.png", ScriptedResponse{200, "", "image/png"});
    server.route("GET", "/icons/none.png", ScriptedResponse{204, ""});
    server.route("GET", "/icons/cached.png", ScriptedResponse{304, ""});
    server.route("GET", "/icons/created.png", ScriptedResponse{201, "PNGDATA"});
    struct Case {
        std::string address;
        std::string outcome;
    } cases[] = {
        {server.url("/icons/a.png"), "(downloaded)"},
        {server.url("/icons/empty.png"), "Failed to download icon: HTTP 200"},
        {server.url("/icons/none.png"), "Failed to download icon: HTTP 204"},
        {server.url("/icons/cached.png"), "Failed to download icon: HTTP 304"},
        {server.url("/icons/created.png"), "Failed to download icon: HTTP 201"},
        {server.url("/icons/missing.png"), "Failed to download icon: HTTP 404"},
        {"file:///etc/passwd", "Failed to download icon: HTTP 0"},
        {"ftp://127.0.0.1/icon.png", "Failed to download icon: HTTP 0"},
        {"not a url", "Failed to download icon: Invalid URL"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(downloadFailure(c.address), c.outcome) << c.address;
}

TEST(CatalogAPI, DownloadNamesTheFileFromThePathExtension) {
    CatalogServer server;
    for (const char* path : {"/i/a.ICNS", "/i/plain", "/i/q", "/i/b.jpeg"})
        server.route("GET", path, ScriptedResponse{200, "bytes", "application/octet-stream"});
    struct Case {
        std::string address;
        std::string suffix;
    } cases[] = {
        {server.url("/i/a.ICNS"), ".ICNS"},
        {server.url("/i/plain"), ".png"},
        {server.url("/i/q?file=x.icns"), ".png"},
        {server.url("/i/b.jpeg#frag"), ".jpeg"},
    };
    for (const auto& c : cases) {
        std::string path = CatalogAPI::download(c.address, "png");
        EXPECT_TRUE(path.ends_with(c.suffix)) << path;
        EXPECT_TRUE(platform::lastPathComponent(path).starts_with("mivora-")) << path;
        EXPECT_EQ(platform::readFile(path, testing::kTestReadLimit), "bytes");
        platform::removeItemQuietly(path);
    }
    std::string first = CatalogAPI::download(server.url("/i/plain"), "png");
    std::string second = CatalogAPI::download(server.url("/i/plain"), "png");
    EXPECT_NE(first, second);
    platform::removeItemQuietly(first);
    platform::removeItemQuietly(second);
}

TEST(CatalogAPI, DownloadIconFallsBackFromICNSToPNG) {
    CatalogServer server;
    server.route("GET", "/a.png", ScriptedResponse{200, "png", "image/png"});
    CatalogIcon icon{0, "Notes", server.url("/a.icns"), server.url("/a.png"), 0};
    std::string path = CatalogAPI::downloadIcon(icon, true);
    EXPECT_TRUE(path.ends_with(".png"));
    platform::removeItemQuietly(path);
    icon.lowResPngUrl = server.url("/missing.png");
    EXPECT_THROW(CatalogAPI::downloadIcon(icon, true), CatalogAPIError);
    auto paths = server.requests();
    EXPECT_EQ(paths[0].path, "/a.icns");
    EXPECT_EQ(paths[1].path, "/a.png");
}

TEST(CatalogAPI, OversizedOrTruncatedDownloadsFailWithoutAFile) {
    CatalogServer server;
    server.route("GET", "/big.png", ScriptedResponse{200, std::string(50 * 1024 * 1024, 'x'), "image/png"});
    server.route("GET", "/cut.png",
                 ScriptedResponse{.status = 200,
                                  .body = std::string(200000, 'y'),
                                  .contentType = "image/png",
                                  .behaviour = ScriptedResponse::Behaviour::closeMidBody});
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(downloadFailure(server.url("/big.png")),
              "Failed to download icon: The response is larger than 16 MB.");
    EXPECT_EQ(downloadFailure(server.url("/cut.png")), "The network connection was lost.");
    // Nothing listens on port 9 here.
    EXPECT_EQ(downloadFailure("http://127.0.0.1:9/icon.png"), "Could not connect to the server.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

} // namespace
} // namespace mivora::catalog

namespace mivora::catalog {
namespace {

TEST(CatalogAPI, StalledDownloadEndsAfterTheRequestTimeOut) {
    testing::CatalogServer server;
    server.route("GET", "/slow.png",
                 testing::ScriptedResponse{.status = 200,
                                           .body = "x",
                                           .contentType = "image/png",
                                           .behaviour = testing::ScriptedResponse::Behaviour::stall});
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(downloadFailure(server.url("/slow.png")), "The request timed out.");
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GT(elapsed, std::chrono::seconds(14));
    EXPECT_LT(elapsed, std::chrono::seconds(25));
}

} // namespace
} // namespace mivora::catalog
