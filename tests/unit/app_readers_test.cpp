// The readers of the desktop application's preferences, of Info.plist and of
// the Dock's tiles: malformed input reads as empty, never as a failure.
#include "apps/app_discovery.h"
#include "apps/app_preferences.h"
#include "apps/installed_app.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace mivora::apps {
namespace {

using platform::Plist;

const std::vector<std::string> kMalformedPlists = {
    "",
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist "
    "version=\"1.0\">\n<dict>\n\t<key>CFBundleIdentifier</key>\n\t<str",
    "<plist><dict><key>CFBundleIdentifier</key><string>a</string><widget/></dict></plist>",
    std::string("bplist00\x00\x01\x02\x03\xff\xff\xff\xff", 16),
    "{\"CFBundleIdentifier\": \"com.example.json\"}",
    "\x89PNG\r\n\x1a\n not a plist",
};

TEST(PreferenceReaders, MalformedFilesReadAsEmpty) {
    testing::Sandbox sandbox;
    std::string path = sandbox.tmp() + "/prefs.plist";
    EXPECT_TRUE(readPreferenceFile(path).view().keys().empty()) << "missing file";
    std::vector<std::string> bad = kMalformedPlists;
    bad.push_back(Plist::array().toXML());
    bad.push_back(Plist::string("text at the top").toBinary());
    for (const auto& bytes : bad) {
        sandbox.writeFile(path, bytes);
        auto defaults = readPreferenceFile(path);
        EXPECT_TRUE(defaults.view().isDictionary());
        EXPECT_TRUE(defaults.view().keys().empty()) << bytes;
    }
}

TEST(PreferenceReaders, AliasesNeedDataHoldingAnObjectOfTexts) {
    auto defaultsWith = [](Plist value) {
        auto defaults = Plist::dictionary();
        defaults.set("AliasName", std::move(value));
        return defaults;
    };
    struct Case {
        std::string title;
        Plist defaults;
        Aliases expected;
    };
    std::vector<Case> cases;
    cases.push_back({"object of texts",
                     defaultsWith(Plist::data(R"({"Safari": "Browser", "Café": "Coffee"})")),
                     Aliases{{"Safari", "Browser"}, {"Café", "Coffee"}}});
    cases.push_back({"empty object", defaultsWith(Plist::data("{}")), {}});
    cases.push_back({"JSON stored as text", defaultsWith(Plist::string(R"({"Safari": "Browser"})")), {}});
    cases.push_back({"one value a number spoils all",
                     defaultsWith(Plist::data(R"({"Safari": "Browser", "Notes": 3})")),
                     {}});
    cases.push_back({"array", defaultsWith(Plist::data(R"(["Safari"])")), {}});
    cases.push_back({"not JSON", defaultsWith(Plist::data("Safari=Browser")), {}});
    cases.push_back({"truncated JSON", defaultsWith(Plist::data(R"({"Safari": "Bro)")), {}});
    cases.push_back({"invalid UTF-8", defaultsWith(Plist::data("{\"Safari\": \"\xff\"}")), {}});
    cases.push_back({"no key", Plist::dictionary(), {}});
    for (const auto& c : cases)
        EXPECT_EQ(aliasesFromDefaults(c.defaults.view()), c.expected) << c.title;
}

TEST(PreferenceReaders, AliasesFromBinaryPreferenceFile) {
    testing::Sandbox sandbox;
    auto defaults = Plist::dictionary();
    defaults.set("AliasName", Plist::data(R"({"Visual Studio Code": "Code"})"));
    defaults.set("com.mivora.cachedIcons", Plist::data("{}"));
    std::string path = sandbox.tmp() + "/prefs.plist";
    sandbox.writePlist(path, defaults, /*binary=*/true);
    EXPECT_EQ(aliasesFromDefaults(readPreferenceFile(path).view()),
              (Aliases{{"Visual Studio Code", "Code"}}));
}

TEST(InfoReaders, MalformedInfoPlistHasNoIdentifier) {
    testing::Sandbox sandbox;
    std::string bundle = sandbox.addApp({.name = "App", .bundleId = "com.example.app"});
    EXPECT_EQ(readBundleIdentifier(bundle), "com.example.app");
    for (const auto& bytes : kMalformedPlists) {
        sandbox.writeFile(bundle + "/Contents/Info.plist", bytes);
        EXPECT_EQ(readBundleIdentifier(bundle), std::nullopt) << bytes;
        EXPECT_EQ(readInfoStrings(bundle), std::nullopt) << bytes;
    }
    // An identifier that is not text.
    auto info = Plist::dictionary();
    info.set("CFBundleIdentifier", Plist::integer(42));
    sandbox.writePlist(bundle + "/Contents/Info.plist", info, /*binary=*/true);
    EXPECT_EQ(readBundleIdentifier(bundle), std::nullopt);
    // A bundle that is a plain file, and one that is missing.
    sandbox.writeFile(sandbox.tmp() + "/File.app", "file");
    EXPECT_EQ(readBundleIdentifier(sandbox.tmp() + "/File.app"), std::nullopt);
    EXPECT_EQ(readBundleIdentifier(sandbox.tmp() + "/Missing.app"), std::nullopt);
}

TEST(DockReader, SkipsTilesOfTheWrongShape) {
    auto tiles = Plist::array();
    auto add = [&](Plist element) { tiles.append(std::move(element)); };
    auto tileWith = [](Plist tileData) {
        auto tile = Plist::dictionary();
        tile.set("tile-data", std::move(tileData));
        return tile;
    };
    auto fileData = [](Plist url) {
        auto data = Plist::dictionary();
        data.set("_CFURLString", std::move(url));
        return data;
    };
    add(Plist::string("not a dictionary"));
    add(tileWith(Plist::string("tile-data that is text")));
    auto noFileData = Plist::dictionary();
    noFileData.set("file-label", Plist::string("No file data"));
    add(tileWith(std::move(noFileData)));
    auto fileDataText = Plist::dictionary();
    fileDataText.set("file-data", Plist::string("file:///Applications/Text.app"));
    add(tileWith(std::move(fileDataText)));
    auto urlNumber = Plist::dictionary();
    urlNumber.set("file-data", fileData(Plist::integer(7)));
    add(tileWith(std::move(urlNumber)));
    auto good = Plist::dictionary();
    good.set("file-data", fileData(Plist::string("file:///Applications/Good%20App.app/")));
    good.set("file-label", Plist::integer(3)); // not text: the file name is used
    good.set("bundle-identifier", Plist::string("com.example.good"));
    add(tileWith(std::move(good)));

    auto dock = Plist::dictionary();
    dock.set("persistent-apps", std::move(tiles));
    auto apps = dockAppsFromPreferences(dock.view());
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps[0],
              (InstalledApp{"Good App", "/Applications/Good App.app", "com.example.good", std::nullopt}));

    EXPECT_TRUE(dockAppsFromPreferences(Plist::dictionary().view()).empty());
    EXPECT_TRUE(dockAppsFromPreferences(Plist::array().view()).empty());
}

// The listing writes each application straight into its reply; every other reply
// holds the same object through its JSON tree. The two must give the same bytes.
TEST(InstalledAppJSON, TheStreamedObjectIsTheTreeObject) {
    const InstalledApp apps[] = {
        {.name = "Plain", .path = "/Applications/Plain.app"},
        {.name = "Full",
         .path = "/A/Full.app",
         .bundleId = "com.example.full",
         .dockIconControlledByApp = true},
        {.name = "Quote \"\\ /\t\x01",
         .path = "/Applications/Caf\u00e9.app",
         .dockIconControlledByApp = false},
        {.name = "", .path = "", .bundleId = ""},
    };
    for (const auto& app : apps) {
        core::PrettyJSONWriter out;
        app.write(out);
        EXPECT_EQ(out.text(), core::writeJSON(app.toJson(), core::JSONStyle::pretty)) << app.name;
    }
}

} // namespace
} // namespace mivora::apps
