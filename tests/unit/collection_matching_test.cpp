// Pairing collection icons with applications by slug, in candidate-list order.
#include "collections/collection_matching.h"
#include "collections/local_collection_store.h"

#include <gtest/gtest.h>

namespace mivora::collections {
namespace {

using catalog::IconCollectionIcon;
using apps::InstalledApp;

InstalledApp app(const std::string& name, const std::string& path) {
    return {name, path, std::nullopt, std::nullopt};
}
IconCollectionIcon icon(const std::string& slug) {
    return {slug, "Name of " + slug, "https://cdn.example/" + slug};
}

TEST(CollectionMatching, ApplicationNamesSlugWithoutALengthLimit) {
    struct Case {
        std::string text;
        std::string slug;
    } cases[] = {
        {"Visual Studio Code", "visual-studio-code"},
        {"Café", "café"},
        {"Xcode-beta", "xcode-beta"},
        {"Foo  (Beta)!", "foo-beta"},
        {"  Notion — Beta!", "notion-beta"},
        {"1Password 7", "1password-7"},
        {"---", ""},
        {"\u24B6pp", "pp"}, // a circled letter is a symbol, not a letter
        {std::string(70, 'a') + " b", std::string(70, 'a') + "-b"}, // no length limit
    };
    for (const auto& c : cases)
        EXPECT_EQ(slugifyWithoutLimit(c.text), c.slug) << c.text;
    // The long name is still matched whole.
    EXPECT_TRUE(
        findInstalledAppBySlug(std::string(70, 'a') + "-b", {app(std::string(70, 'a') + " b", "/A.app")}));
}

TEST(CollectionMatching, FirstApplicationByNameOrBundleFileNameWins) {
    const std::vector<InstalledApp> apps = {
        app("Code", "/Applications/Visual Studio Code.app"), // a Dock label that differs from the file name
        app("Foo Bar", "/Applications/Foo Bar.app"),
        app("foo-bar", "/Users/me/Applications/foo-bar.app"),
        app("Other", "/Applications/Notion.app"), // matches "notion" by file name only
        app("Notion", "/Users/me/Applications/Notion.app"),
    };
    struct Case {
        std::string slug;
        std::optional<size_t> app;
    } cases[] = {
        {"code", 0},    {"visual-studio-code", 0}, {"foo-bar", 1},
        {"notion", 3},  // an earlier file-name match beats a later name match
        {"Notion", {}}, // the collection's slug is compared as given
        {"other", 3},   {"missing", {}},           {"", {}},
    };
    for (const auto& c : cases) {
        auto found = findInstalledAppBySlug(c.slug, apps);
        if (c.app) {
            ASSERT_TRUE(found) << c.slug;
            EXPECT_EQ(*found, apps[*c.app]) << c.slug;
        } else {
            EXPECT_FALSE(found) << c.slug;
        }
    }
}

TEST(CollectionMatching, PairsKeepTheIconsOrderAndMayShareAnApplication) {
    const std::vector<InstalledApp> apps = {app("Code", "/Applications/Visual Studio Code.app"),
                                            app("Notes", "/Applications/Notes.app")};
    auto matches = matchCollectionIconsToApps(
        {icon("visual-studio-code"), icon("unknown"), icon("notes"), icon("code")}, apps);
    ASSERT_EQ(matches.size(), 3u);
    EXPECT_EQ(matches[0], (CollectionMatch{icon("visual-studio-code"), apps[0]}));
    EXPECT_EQ(matches[1], (CollectionMatch{icon("notes"), apps[1]}));
    EXPECT_EQ(matches[2], (CollectionMatch{icon("code"), apps[0]}));

    EXPECT_EQ(matches[0].toJson().dump(),
              R"({"icon":{"appSlug":"visual-studio-code","appName":"Name of visual-studio-code",)"
              R"("iconUrl":"https://cdn.example/visual-studio-code"},)"
              R"("app":{"name":"Code","path":"/Applications/Visual Studio Code.app"}})");

    EXPECT_TRUE(matchCollectionIconsToApps({}, apps).empty());
    EXPECT_TRUE(matchCollectionIconsToApps({icon("notes")}, {}).empty());
}

} // namespace
} // namespace mivora::collections
