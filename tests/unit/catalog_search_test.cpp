// The pure pieces of the catalog search: the match tiers, the ranking order,
// the tolerant parser of the service's answers, the two selection routines
// and the forms of a request.
#include "catalog/catalog_api.h"
#include "catalog/catalog_constants.h"
#include "catalog/catalog_search.h"
#include "platform/http.h"

#include <gtest/gtest.h>

namespace mivora::catalog {
namespace {

using Tier = CatalogAPI::MatchTier;

std::vector<CatalogIcon> named(const std::vector<std::pair<std::string, int64_t>>& items) {
    std::vector<CatalogIcon> icons;
    for (const auto& [name, downloads] : items)
        icons.push_back({static_cast<int64_t>(icons.size()), name, "https://x/" + name + ".icns",
                         "https://x/" + name + ".png", downloads});
    return icons;
}

std::vector<std::string> names(const std::vector<CatalogIcon>& icons) {
    std::vector<std::string> result;
    for (const auto& icon : icons)
        result.push_back(icon.appName);
    return result;
}

TEST(CatalogSearch, MatchTierTable) {
    struct Case {
        std::string candidate;
        std::string query;
        Tier tier;
    } cases[] = {
        {"Safari", "safari", Tier::exact},
        {"safari!", "  SAFARI ", Tier::exact},
        {"Visual Studio Code", "visual-studio code", Tier::exact},
        {"Safari Dark", "safari", Tier::prefix},
        {"Visual Studio Code Blue", "Visual Studio", Tier::prefix},
        {"Dark Safari", "safari", Tier::words},
        {"Code Studio Visual", "visual studio", Tier::words},
        {"Safaris", "safari", Tier::substring},
        {"Notes Pro", "tes pro", Tier::substring},
        {"Sticky Notes", "notes pro", Tier::none},
        {"Chrome", "safari", Tier::none},
        {"Safari", "", Tier::none},
        {"Safari", "-- !", Tier::none},
        {"", "safari", Tier::none},
        {"Ärzte App", "ärzte", Tier::prefix},
        {"ÄRZTE", "ärzte", Tier::exact},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CatalogAPI::matchTier(c.candidate, c.query), c.tier) << c.candidate << " / " << c.query;

    EXPECT_EQ(matchTierFromRawValue(0), Tier::none);
    EXPECT_EQ(matchTierFromRawValue(4), Tier::exact);
    EXPECT_EQ(matchTierFromRawValue(5), std::nullopt);
    EXPECT_EQ(matchTierFromRawValue(-1), std::nullopt);
}

TEST(CatalogSearch, RankingOrdersByTierThenDownloadsThenName) {
    auto icons = named(
        {{"Safari", 10}, {"Safari Dark", 500}, {"Dark Safari", 900}, {"Safaris", 2000}, {"Chrome", 9000}});
    EXPECT_EQ(names(CatalogAPI::rankMatches(icons, "safari")),
              (std::vector<std::string>{"Safari", "Safari Dark", "Dark Safari", "Safaris"}));

    // Same tier: more downloads first, then code-point order (upper case before lower).
    auto ties = named({{"notion b", 5}, {"Notion Z", 5}, {"Notion A", 7}, {"notion a", 5}});
    EXPECT_EQ(names(CatalogAPI::rankMatches(ties, "notion")),
              (std::vector<std::string>{"Notion A", "Notion Z", "notion a", "notion b"}));

    // Equal in every key: the order of arrival stays.
    auto twins = named({{"Notion", 3}, {"Notion", 3}, {"Notion", 3}});
    auto ranked = CatalogAPI::rankMatches(twins, "Notion");
    ASSERT_EQ(ranked.size(), 3u);
    EXPECT_EQ(ranked[0].icnsUrl, twins[0].icnsUrl);
    EXPECT_EQ(ranked[0].id, 0);
    EXPECT_EQ(ranked[1].id, 1);
    EXPECT_EQ(ranked[2].id, 2);

    EXPECT_TRUE(CatalogAPI::rankMatches(icons, "").empty());
}

TEST(CatalogSearch, IconsMatchingAppKeepsWholeWordMatchesInOrder) {
    auto icons =
        named({{"Sticky Notes Pro", 1}, {"Notesy", 9}, {"Notes", 2}, {"Notion", 5}, {"Notes Dark", 3}});
    EXPECT_EQ(names(CatalogAPI::iconsMatchingApp(icons, "Notes")),
              (std::vector<std::string>{"Sticky Notes Pro", "Notes", "Notes Dark"}));
    EXPECT_TRUE(CatalogAPI::iconsMatchingApp(icons, "...").empty());
    EXPECT_TRUE(CatalogAPI::iconsMatchingApp({}, "Notes").empty());
}

TEST(CatalogSearch, PickIconByStyleWords) {
    auto icons = named({{"Notion", 0}, {"Notion Blue Dark", 0}, {"Notion Darkblue", 0}});
    struct Case {
        std::optional<std::string> style;
        std::optional<std::string> picked;
    } cases[] = {
        {std::nullopt, "Notion"},
        {"", "Notion"},
        {"!!", "Notion"},                  // no style words at all
        {"dark blue", "Notion Blue Dark"}, // every style word is a name word
        {"DARK", "Notion Blue Dark"},
        {"darkblue", "Notion Darkblue"},
        {"lue", "Notion Blue Dark"}, // only the substring pass finds it
        {"arkblu", "Notion Darkblue"},
        {"yellow", std::nullopt},
        {"dark yellow", std::nullopt},
    };
    for (const auto& c : cases) {
        auto picked = CatalogAPI::pickIcon(icons, c.style);
        EXPECT_EQ(picked ? std::optional(picked->appName) : std::nullopt, c.picked)
            << c.style.value_or("(none)");
    }
    EXPECT_EQ(CatalogAPI::pickIcon({}, std::nullopt), std::nullopt);
    EXPECT_EQ(CatalogAPI::pickIcon({}, "dark"), std::nullopt);
}

TEST(CatalogSearch, ParserToleratesOddAnswerShapes) {
    const std::string one = R"({"appName":"A","icnsUrl":"i","lowResPngUrl":"p"})";
    const std::string two = R"({"appName":"B","icnsUrl":"i","lowResPngUrl":"p"})";
    struct Case {
        std::string label;
        std::string body;
        std::vector<std::string> names;
    } cases[] = {
        {"not JSON", "<html>", {}},
        {"top-level array", "[" + one + "]", {}},
        {"no list", R"({"total":3})", {}},
        {"hits before data", R"({"data":[)" + two + R"(],"hits":[)" + one + "]}", {"A"}},
        {"hits a string", R"({"hits":"x","data":[)" + two + "]}", {"B"}},
        {"hits holds a non-object", R"({"hits":[)" + one + R"(,3],"icons":[)" + two + "]}", {"B"}},
        {"empty hits wins", R"({"hits":[],"data":[)" + two + "]}", {}},
        {"icons last", R"({"data":{},"icons":[)" + one + "]}", {"A"}},
        {"elements",
         R"({"hits":[
            {"appName":"NoPng","icnsUrl":"i"},
            {"appName":"","name":"EmptyAppName","icnsUrl":"i","lowResPngUrl":"p"},
            {"appName":7,"name":"FromName","icnsUrl":"i","lowResPngUrl":"p"},
            {"icnsUrl":"i","lowResPngUrl":"p"},
            {"appName":"NumericUrl","icnsUrl":1,"lowResPngUrl":"p"},
            {"name":"Kept","icnsUrl":"i","lowResPngUrl":"p","extra":{"deep":[1,2]}}
         ]})",
         {"FromName", "Kept"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(names(CatalogAPI::parseIconsResponse(c.body)), c.names) << c.label;
}

TEST(CatalogSearch, ParsedIconsAreNumberedAndTheirAddressesRewritten) {
    ::unsetenv("MIVORA_API_BASE_URL");
    ::unsetenv("VANTORQUELL_API_BASE_URL");
    std::string legacy = kLegacyOriginPrefixes[0];
    std::string body = R"({"hits":[
        {"appName":"Skipped","icnsUrl":"i"},
        {"appName":"A","icnsUrl":")" +
                       legacy + R"(/icons/a.icns","lowResPngUrl":"https://cdn.example/a.png","downloads":12},
        {"appName":"B","icnsUrl":"i","lowResPngUrl":"p","downloads":"40"},
        {"appName":"C","icnsUrl":"i","lowResPngUrl":"p","downloads":3.0},
        {"appName":"D","icnsUrl":"i","lowResPngUrl":"p","downloads":true},
        {"appName":"E","icnsUrl":"i","lowResPngUrl":"p","downloads":18446744073709551615}
    ]})";
    auto icons = CatalogAPI::parseIconsResponse(body);
    ASSERT_EQ(icons.size(), 5u);
    for (size_t i = 0; i < icons.size(); ++i)
        EXPECT_EQ(icons[i].id, static_cast<int64_t>(i));
    EXPECT_EQ(icons[0].icnsUrl, "https://catalog.mivora.example/icons/a.icns");
    EXPECT_EQ(icons[0].lowResPngUrl, "https://cdn.example/a.png");
    std::vector<int64_t> downloads;
    for (const auto& icon : icons)
        downloads.push_back(icon.downloads);
    EXPECT_EQ(downloads, (std::vector<int64_t>{12, 0, 3, 0, 0}));

    int64_t next = 7;
    EXPECT_EQ(CatalogAPI::parseIcon(core::Json::parse(R"({"name":"X","icnsUrl":"i"})"), next), std::nullopt);
    EXPECT_EQ(next, 7);
    auto icon =
        CatalogAPI::parseIcon(core::Json::parse(R"({"name":"X","icnsUrl":"i","lowResPngUrl":"p"})"), next);
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->id, 7);
    EXPECT_EQ(next, 8);
}

TEST(CatalogSearch, RequestForms) {
    EXPECT_EQ(searchPageRequestBody("notion yellow", false, 1),
              R"({"query":"notion yellow","searchOptions":{"hitsPerPage":50,"page":1,"filters":[],)"
              R"("sort":["timeStamp:desc","category:asc"]}})");
    EXPECT_EQ(
        searchPageRequestBody("Safari", true, 10),
        R"({"query":"Safari","searchOptions":{"hitsPerPage":50,"page":10,"filters":["isLiquidGlass = true"],)"
        R"("sort":["timeStamp:desc","category:asc"]}})");

    EXPECT_EQ(catalogSearchText("Discord PTB"), "Discord");
    EXPECT_EQ(catalogSearchText("PyCharm Professional Edition"), "PyCharm");
    EXPECT_EQ(catalogSearchText("discord ptb"), "discord ptb");
    EXPECT_EQ(catalogSearchText("Discord PTB "), "Discord PTB ");

    EXPECT_EQ(platform::percentEncoded("a b/c?d=é&+~", platform::kURLQueryAllowedPunctuation),
              "a%20b/c?d=%C3%A9&+~");
    EXPECT_EQ(platform::percentEncoded(std::string("x\0y#%", 5), "#"), "x%00y#%25");
}

} // namespace
} // namespace mivora::catalog
