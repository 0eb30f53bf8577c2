#include <gtest/gtest.h>

#include "core/base64.h"
#include "core/json.h"
#include "icons/appearance.h"
#include "icons/icon_cache.h"
#include "icons/system_app_proxies.h"
#include "platform/file_url.h"
#include "platform/property_list.h"

namespace mivora::icons {
namespace {

using core::Json;
using platform::Plist;

TEST(IconAppearanceValue, ExactRawValuesOnly) {
    using Value = core::ArgumentValue<IconAppearance>;
    EXPECT_EQ(Value::parse("light"), IconAppearance::light);
    EXPECT_EQ(Value::parse("dark"), IconAppearance::dark);
    for (const char* text : {"Dark", "LIGHT", "", " dark", "darkish"})
        EXPECT_EQ(Value::parse(text), std::nullopt) << text;
    EXPECT_EQ(Value::allValues(), (std::vector<std::string>{"light", "dark"}));
    EXPECT_EQ(Value::describe(IconAppearance::dark), "dark");

    Json json = IconAppearance::dark;
    EXPECT_EQ(json, "dark");
    EXPECT_EQ(Json("light").get<IconAppearance>(), IconAppearance::light);
    EXPECT_ANY_THROW(Json("Light").get<IconAppearance>());
}

TEST(IconCacheEntryJson, CompactInFieldOrderWithOptionalsLeftOut) {
    IconCacheEntry full{"/Applications/A.app", "L.png", "D.png", "A", 756000000.25, "12"};
    EXPECT_EQ(core::writeJSON(full.toJson(), core::JSONStyle::compact),
              R"({"appPath":"\/Applications\/A.app","iconFileName":"L.png","darkIconFileName":"D.png",)"
              R"("appName":"A","timestamp":756000000.25,"appVersion":"12"})");
    IconCacheEntry bare{"/A.app", "L.png", std::nullopt, "A", 5, std::nullopt};
    EXPECT_EQ(core::writeJSON(bare.toJson(), core::JSONStyle::compact),
              R"({"appPath":"\/A.app","iconFileName":"L.png","appName":"A","timestamp":5})");
    EXPECT_EQ(IconCacheEntry::fromJson(full.toJson()), full);
    EXPECT_EQ(IconCacheEntry::fromJson(bare.toJson()), bare);
    Json withNulls = bare.toJson();
    withNulls["darkIconFileName"] = nullptr;
    withNulls["appVersion"] = nullptr;
    EXPECT_EQ(IconCacheEntry::fromJson(withNulls), bare);
}

TEST(IconCacheEntryJson, MandatoryKeysAndTypes) {
    Json good = IconCacheEntry{"/A.app", "L.png", "D.png", "A", 5, "1"}.toJson();
    for (const char* key : {"appPath", "iconFileName", "appName", "timestamp"}) {
        Json missing = good;
        missing.erase(key);
        EXPECT_ANY_THROW(IconCacheEntry::fromJson(missing)) << key;
    }
    for (const auto& [key, value] : std::vector<std::pair<std::string, Json>>{
             {"timestamp", "yesterday"}, {"appName", 3}, {"darkIconFileName", 1}, {"appVersion", true}}) {
        Json wrong = good;
        wrong[key] = value;
        EXPECT_ANY_THROW(IconCacheEntry::fromJson(wrong)) << key;
    }
    EXPECT_EQ(decodeIconCache("{\"/A.app\":" + good.dump() + ",\"/B.app\":{}}"), std::nullopt)
        << "one bad entry spoils the whole cache";
    EXPECT_EQ(decodeIconCache("\"text\""), std::nullopt);
    EXPECT_EQ(decodeIconCache("{\"/A.app\":" + good.dump() + "}")->size(), 1u);
}

TEST(SystemProxyRecordJson, DataAsBase64AndRequiredKeys) {
    SystemProxyRecord record{"/System/Applications/Maps.app",
                             "/Users/u/Applications/Mivora System Apps/Maps.app", "Maps", 700000000.5,
                             std::string("bplist00\0\xff", 10)};
    EXPECT_EQ(core::writeJSON(record.toJson(), core::JSONStyle::compact),
              R"({"originalPath":"\/System\/Applications\/Maps.app",)"
              R"("proxyPath":"\/Users\/u\/Applications\/Mivora System Apps\/Maps.app","appName":"Maps",)"
              R"("createdAt":700000000.5,"originalDockEntry":"YnBsaXN0MDAA\/w=="})");
    EXPECT_EQ(SystemProxyRecord::fromJson(record.toJson()), record);
    record.originalDockEntry.reset();
    EXPECT_FALSE(record.toJson().contains("originalDockEntry"));
    EXPECT_EQ(SystemProxyRecord::fromJson(record.toJson()), record);
    Json bad = record.toJson();
    bad["originalDockEntry"] = "not base64!";
    EXPECT_ANY_THROW(SystemProxyRecord::fromJson(bad));
    bad.erase("originalDockEntry");
    bad.erase("createdAt");
    EXPECT_ANY_THROW(SystemProxyRecord::fromJson(bad));
}

TEST(FileURL, PathsAndURLs) {
    EXPECT_EQ(platform::fileURLString("/Applications/Mivora Beta.app", true),
              "file:///Applications/Mivora%20Beta.app/");
    EXPECT_EQ(platform::fileURLString("/a/b.app/", true), "file:///a/b.app/");
    EXPECT_EQ(platform::fileURLString("/x/Ünï #?%.png", false), "file:///x/%C3%9Cn%C3%AF%20%23%3F%25.png");
    struct Case {
        std::string url;
        std::optional<std::string> path;
    } cases[] = {
        {"file:///Applications/Mivora%20Beta.app/", "/Applications/Mivora Beta.app"},
        {"file://localhost/System/Applications/Maps.app/", "/System/Applications/Maps.app"},
        {"FILE:///x", "/x"},
        {"file:///", "/"},
        {"file:///x/%C3%9Cn%C3%AF%20%23%3F%25.png", "/x/Ünï #?%.png"},
        {"file:///a?query#part", "/a"},
        {"https://example.com/a.app", std::nullopt},
        {"/Applications/Maps.app", std::nullopt},
        {"file:///a%2", std::nullopt},
        {"file:///a b", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::filePathOfURL(c.url), c.path) << c.url;
}

Plist tileWithURL(std::optional<Plist> url) {
    auto fileData = Plist::dictionary();
    if (url) fileData.set("_CFURLString", std::move(*url));
    auto tileData = Plist::dictionary();
    tileData.set("file-data", std::move(fileData));
    auto tile = Plist::dictionary();
    tile.set("tile-data", std::move(tileData));
    return tile;
}

TEST(DockTile, FilePath) {
    EXPECT_EQ(dockTileFilePath(tileWithURL(Plist::string("file:///A/Maps.app/")).view()), "/A/Maps.app");
    EXPECT_EQ(dockTileFilePath(tileWithURL(Plist::string("/plain/path")).view()), "/plain/path");
    EXPECT_EQ(dockTileFilePath(tileWithURL(Plist::integer(3)).view()), std::nullopt);
    EXPECT_EQ(dockTileFilePath(tileWithURL(std::nullopt).view()), std::nullopt);
    EXPECT_EQ(dockTileFilePath(Plist::dictionary().view()), std::nullopt);
}

TEST(DockTile, MadeFromABaseTile) {
    auto base = tileWithURL(Plist::string("file:///System/Applications/Maps.app/"));
    auto data = Plist::copyOf(base.view()["tile-data"]);
    data.set("bundle-identifier", Plist::string("com.apple.Maps"));
    data.set("book", Plist::data("bookmark"));
    data.set("file-type", Plist::integer(41));
    base.set("tile-data", std::move(data));
    base.set("GUID", Plist::integer(77));
    base.set("tile-type", Plist::string("something-else"));

    auto tile = makeDockTile("/nowhere/Maps.app", "My Maps", base.view());
    auto made = tile.view()["tile-data"];
    EXPECT_EQ(made["file-data"]["_CFURLString"].string(), "file:///nowhere/Maps.app");
    EXPECT_EQ(made["file-data"]["_CFURLStringType"].integer(), 15);
    EXPECT_EQ(made["file-data"].keys().size(), 2u);
    EXPECT_EQ(made["file-label"].string(), "My Maps");
    EXPECT_FALSE(made["bundle-identifier"]);
    EXPECT_EQ(made["book"].data(), "bookmark");
    EXPECT_EQ(made["file-type"].integer(), 41);
    EXPECT_NEAR(made["file-mod-date"].real().value_or(0), core::secondsSinceReferenceDate(), 60);
    EXPECT_EQ(tile.view()["GUID"].integer(), 77);
    EXPECT_EQ(tile.view()["tile-type"].string(), "file-tile");

    auto fromNothing = makeDockTile("/nowhere/Maps.app", "Maps", Plist::string("not a tile").view());
    EXPECT_EQ(fromNothing.view().keys(), (std::vector<std::string>{"tile-data", "tile-type"}));
}

} // namespace
} // namespace mivora::icons
