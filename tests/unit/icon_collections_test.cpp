// Style collections from the catalog: strict decoding of the two answers, the
// slug as one path segment, and the rewrite of legacy icon addresses.
#include "catalog/catalog_api.h"
#include "catalog/catalog_constants.h"
#include "catalog/icon_collections.h"
#include "platform/http.h"
#include "support/catalog_server.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace mivora::catalog {
namespace {

using testing::CatalogServer;
using testing::ScriptedResponse;

// Points the catalog client at a local server for one test.
class ServedCatalog {
public:
    ServedCatalog() { ::setenv("MIVORA_API_BASE_URL", server.url("/api").c_str(), 1); }
    ~ServedCatalog() { ::unsetenv("MIVORA_API_BASE_URL"); }
    CatalogServer server;
};

std::string legacy(const std::string& path) {
    return std::string(kLegacyOriginPrefixes[1]) + path;
}

const std::string kIcon = R"({"appSlug":"notion","appName":"Notion","iconUrl":"https://cdn.example/n.png"})";

std::string summary(const std::string& members) {
    return R"({"slug":"sunlight","name":"Sunlight","description":"Warm","accent":"#ffaa00")" + members + "}";
}

TEST(IconCollections, ListDecodesStrictlyAndIgnoresUnknownKeys) {
    struct Case {
        std::string body;
        bool decodes;
    } cases[] = {
        {R"({"collections":[)" + summary(R"(,"previewIcons":[)" + kIcon + R"(],"count":3,"updatedAt":"x")") +
             "]}",
         true},
        {R"({"collections":[)" + summary(R"(,"previewIcons":[])") + "]}", true},
        {R"({"collections":[],"total":0})", true},
        // A summary without "accent".
        {R"({"collections":[{"slug":"s","name":"n","description":"d","previewIcons":[]}]})", false},
        {R"({"collections":[)" + summary("") + "]}", false}, // no previewIcons
        {R"({"collections":[)" + summary(R"(,"previewIcons":null)") + "]}", false},
        {R"({"collections":[)" + summary(R"(,"previewIcons":[{"appSlug":"a","appName":"A"}])") + "]}", false},
        {R"({"collections":[)" + summary(R"(,"previewIcons":[{"appSlug":"a","appName":"A","iconUrl":7}])") +
             "]}",
         false},
        {R"({"collections":[)" + summary(R"(,"previewIcons":["x"])") + "]}", false},
        {R"({"collections":[{"slug":null,"name":"n","description":"d","accent":"a","previewIcons":[]}]})",
         false},
        {R"({"collections":{}})", false},
        {R"({"items":[]})", false},
        {R"([])", false},
        {"<html>ok</html>", false},
        {"", false},
    };
    for (const auto& c : cases) {
        ServedCatalog catalog;
        catalog.server.route("GET", "/api/collections", ScriptedResponse{200, c.body});
        try {
            auto collections = listCollections();
            EXPECT_TRUE(c.decodes) << c.body;
        } catch (const CatalogAPIError& error) {
            EXPECT_FALSE(c.decodes) << c.body;
            EXPECT_EQ(error.kind(), CatalogAPIError::Kind::invalidResponse);
            EXPECT_EQ(std::string(error.what()), "Invalid response from Mivora API.");
        }
    }
}

TEST(IconCollections, ListKeepsTheServicesOrderAndRewritesLegacyPreviewAddresses) {
    ServedCatalog catalog;
    catalog.server.route("GET", "/api/collections",
                         ScriptedResponse{200, R"({"collections":[
            {"slug":"paper","name":"Paper","description":"","accent":"#fff","extra":1,"previewIcons":[
                {"appSlug":"notes","appName":"Notes","iconUrl":")" +
                                                   legacy("/icons/notes.png") + R"("},
                {"appSlug":"mail","appName":"Mail","iconUrl":"https://cdn.example/mail.png"}]},
            {"slug":"anime","name":"Anime","description":"Bold","accent":"#f00","previewIcons":[]}]})"});
    auto collections = listCollections();
    ASSERT_EQ(collections.size(), 2u);
    EXPECT_EQ(collections[0].slug, "paper");
    EXPECT_EQ(collections[1].slug, "anime");
    EXPECT_EQ(collections[0].previewIcons[0].iconUrl, catalog.server.url("/icons/notes.png"));
    EXPECT_EQ(collections[0].previewIcons[1].iconUrl, "https://cdn.example/mail.png");
    // Unknown keys are not carried into the record's JSON form.
    EXPECT_FALSE(collections[0].toJson().contains("extra"));
    auto request = catalog.server.requests().at(0);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.headers["Accept"], "application/json");
}

TEST(IconCollections, DetailRewritesEveryIconAndRequiresItsIconList) {
    ServedCatalog catalog;
    std::string head =
        R"("slug":"sunlight","name":"Sunlight","description":"Warm","accent":"#fa0","previewIcons":[
        {"appSlug":"notes","appName":"Notes","iconUrl":")" +
        legacy("/p/notes.png") + R"("}])";
    catalog.server.route("GET", "/api/collections/sunlight", ScriptedResponse{200, "{" + head + R"(,"icons":[
        {"appSlug":"notes","appName":"Notes","iconUrl":")" + legacy("/i/notes.png") + R"("},
        {"appSlug":"visual-studio-code","appName":"VS Code","iconUrl":"https://cdn.example/code.png"}]})"});
    catalog.server.route("GET", "/api/collections/empty",
                         ScriptedResponse{200, "{" + head + R"(,"icons":[]})"});
    catalog.server.route("GET", "/api/collections/noicons", ScriptedResponse{200, "{" + head + "}"});

    IconCollectionDetail detail = getCollection("sunlight");
    EXPECT_EQ(detail.name, "Sunlight");
    EXPECT_EQ(detail.previewIcons.at(0).iconUrl, catalog.server.url("/p/notes.png"));
    ASSERT_EQ(detail.icons.size(), 2u);
    EXPECT_EQ(detail.icons[0].iconUrl, catalog.server.url("/i/notes.png"));
    EXPECT_EQ(detail.icons[1].iconUrl, "https://cdn.example/code.png");
    EXPECT_EQ(detail.icons[1].id(), "visual-studio-code|https://cdn.example/code.png");
    EXPECT_EQ(detail.summary().previewIcons, detail.previewIcons);

    EXPECT_TRUE(getCollection("empty").icons.empty());
    try {
        getCollection("noicons");
        ADD_FAILURE() << "a detail without icons decoded";
    } catch (const CatalogAPIError& error) {
        EXPECT_EQ(error.kind(), CatalogAPIError::Kind::invalidResponse);
    }
}

TEST(IconCollections, SlugIsRequestedAsOnePathSegment) {
    struct Case {
        std::string slug;
        std::string segment;
    } cases[] = {
        {"a b/c", "a%20b%2Fc"},
        {"sunlight", "sunlight"},
        {"café", "caf%C3%A9"},
        {"50%?#", "50%25%3F%23"},
        {"a-b_c.d~e:f@g", "a-b_c.d~e:f@g"},
        {"a;b", "a%3Bb"},
        {"..", "%2E%2E"},
        {".", "%2E"},
        {"...", "..."},
        {"../x", "..%2Fx"},
        {std::string("a\0b", 3), "a%00b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::percentEncodedPathSegment(c.slug), c.segment) << c.slug;

    ServedCatalog catalog;
    catalog.server.route("GET", "/api/collections/a b/c",
                         ScriptedResponse{404, R"({"statusMessage":"Not Found"})"});
    try {
        getCollection("a b/c");
        ADD_FAILURE() << "a 404 was taken for a collection";
    } catch (const CatalogAPIError& error) {
        EXPECT_EQ(error.kind(), CatalogAPIError::Kind::httpError);
        EXPECT_EQ(std::string(error.what()), "API error (HTTP 404): Not Found");
    }
    EXPECT_EQ(catalog.server.requests().at(0).target, "/api/collections/a%20b%2Fc");
}

} // namespace
} // namespace mivora::catalog
