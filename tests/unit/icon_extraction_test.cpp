#include "icons/icon_extraction.h"
#include "platform/filesystem.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

TEST(IconSizeFromFileName, ReadsTheFirstWidthByHeightAndTheRetinaMarker) {
    struct Case {
        const char* name;
        int64_t expected;
    };
    const Case cases[] = {
        {"icon_16x16@2x.png", 1024},
        {"icon_32x32.png", 1024},
        {"icon_512x512@2x.png", 1048576},
        {"icon_256x256@2x.png", 262144},
        {"@2x_3x4.png", 48},   // the marker counts anywhere in the name
        {"a1x2_16x16.png", 2}, // only the first match
        {"icon.png", 0},
        {"icon_16x.png", 0},
        {"icon_16X16.png", 0}, // the x is lower-case
        {"icon_0016x0016.png", 256},
        {"icon_99999999999999999999x2.png", 0},  // does not parse
        {"icon_4294967296x4294967296.png", 0},   // the area overflows
        {"icon_\xd9\xa3x\xd9\xa3_16x16.png", 0}, // Arabic-Indic digits match but do not parse
    };
    for (const auto& c : cases)
        EXPECT_EQ(icons::iconSizeFromFileName(c.name), c.expected) << c.name;
}

AppBundle namedBundle(const std::string& name) {
    AppBundle app;
    app.name = name;
    return app;
}

class IconFiles : public ::testing::Test {
protected:
    Sandbox sandbox;

    std::string bundle(const std::map<std::string, std::string>& info,
                       const std::vector<std::string>& resources) {
        AppBundle app = namedBundle("Tool");
        app.extraStrings = info;
        std::string path = sandbox.addApp(app);
        for (const auto& name : resources)
            sandbox.writeFile(path + "/Contents/Resources/" + name, "icns");
        return path;
    }
};

TEST_F(IconFiles, FindAppIcnsPrefersTheNamedIconFile) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> info;
        std::vector<std::string> resources;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"name without extension",
         {{"CFBundleIconFile", "AppIcon"}},
         {"AAA.icns", "AppIcon.icns"},
         "AppIcon.icns"},
        {"name with extension",
         {{"CFBundleIconFile", "AppIcon.icns"}},
         {"AAA.icns", "AppIcon.icns"},
         "AppIcon.icns"},
        {"named file missing: first by name",
         {{"CFBundleIconFile", "Gone"}},
         {"b.icns", "a.icns", "c.png"},
         "a.icns"},
        {"capital extension accepted", {}, {"b.icns", "a.ICNS"}, "a.ICNS"},
        {"case-sensitive order", {}, {"b.icns", "B.icns"}, "B.icns"},
        {"suffix test is case-sensitive",
         {{"CFBundleIconFile", "Icon.ICNS"}},
         {"Icon.ICNS", "A.icns"},
         "A.icns"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = bundle(c.info, c.resources);
        EXPECT_EQ(icons::findAppIcns(path), path + "/Contents/Resources/" + c.expected);
        platform::removeItem(path);
    }
}

TEST_F(IconFiles, FindAppIcnsIgnoresANonTextIconEntry) {
    std::string path = bundle({}, {"z.icns"});
    auto info = platform::Plist::dictionary();
    info.set("CFBundleIconFile", platform::Plist::integer(3));
    sandbox.writePlist(path + "/Contents/Info.plist", info);
    EXPECT_EQ(icons::findAppIcns(path), path + "/Contents/Resources/z.icns");
}

TEST_F(IconFiles, FindAppIcnsErrors) {
    auto expectError = [](const std::string& path, const std::string& message) {
        try {
            icons::findAppIcns(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const icons::IconExtractionError& error) {
            EXPECT_EQ(error.what(), message);
            EXPECT_EQ(error.kind(), icons::IconExtractionError::Kind::iconNotFound);
        }
    };
    AppBundle withoutInfo = namedBundle("NoInfo");
    withoutInfo.writeInfoPlist = false;
    std::string noInfo = sandbox.addApp(withoutInfo);
    expectError(noInfo, "Cannot read Info.plist");
    std::string notDictionary = sandbox.addApp(namedBundle("Array"));
    sandbox.writePlist(notDictionary + "/Contents/Info.plist", platform::Plist::array());
    expectError(notDictionary, "Cannot read Info.plist");
    std::string noIcns = bundle({{"CFBundleIconFile", "AppIcon"}}, {"AppIcon.png"});
    expectError(noIcns, "No .icns file found in app bundle");
    platform::removeItem(noIcns + "/Contents/Resources");
    expectError(noIcns, "No .icns file found in app bundle");
}

TEST_F(IconFiles, LargestIconsetPNGSortsByAnnouncedAreaKeepingListingOrderForTies) {
    std::string iconset = sandbox.tmp() + "/icon.iconset";
    auto make = [&](const std::vector<std::string>& names) {
        platform::removeItemQuietly(iconset);
        for (const auto& name : names)
            sandbox.writeFile(iconset + "/" + name, "png");
    };
    // The first of the equal-area files in the folder's own listing order wins.
    auto firstListed = [&](const std::vector<std::string>& among) {
        const auto listing = platform::listDirectory(iconset).value_or(std::vector<std::string>{});
        for (const auto& name : listing) {
            if (std::find(among.begin(), among.end(), name) != among.end()) return iconset + "/" + name;
        }
        return std::string();
    };

    make({"icon_16x16.png", "icon_512x512@2x.png", "icon_512x512.png", "icon_256x256@2x.png"});
    EXPECT_EQ(icons::largestIconsetPNG(iconset), iconset + "/icon_512x512@2x.png");

    make({"icon_512x512.png", "icon_256x256@2x.png", "icon_16x16.png"});
    EXPECT_EQ(icons::largestIconsetPNG(iconset), firstListed({"icon_512x512.png", "icon_256x256@2x.png"}));

    make({"one.png", "two.PNG", "three.png", "notes.txt"});
    EXPECT_EQ(icons::largestIconsetPNG(iconset), firstListed({"one.png", "two.PNG", "three.png"}));

    make({"icon_1024x1024.jpg", "icon_16x16.png"});
    EXPECT_EQ(icons::largestIconsetPNG(iconset), iconset + "/icon_16x16.png");

    make({"readme.txt"});
    EXPECT_EQ(icons::largestIconsetPNG(iconset), std::nullopt);
    EXPECT_EQ(icons::largestIconsetPNG(sandbox.tmp() + "/missing"), std::nullopt);
}

TEST(ExtractedIconJSON, HasItsFiveKeysAndReadsThemBack) {
    icons::ExtractedIcon icon;
    icon.app.name = "Notes";
    icon.app.path = "/Applications/Notes.app";
    icon.app.bundleId = "com.apple.Notes";
    icon.sourceIcns = "/Applications/Notes.app/Contents/Resources/AppIcon.icns";
    icon.outputPath = "/tmp/notes.png";
    icon.width = 1024;
    core::Json json = icon.toJson();
    EXPECT_EQ(json.dump(),
              R"({"app":{"name":"Notes","path":"/Applications/Notes.app","bundleId":"com.apple.Notes"},)"
              R"("sourceIcns":"/Applications/Notes.app/Contents/Resources/AppIcon.icns",)"
              R"("outputPath":"/tmp/notes.png","width":1024,"height":0})");
    EXPECT_EQ(icons::ExtractedIcon::fromJson(json), icon);
    json.erase("height");
    EXPECT_ANY_THROW(icons::ExtractedIcon::fromJson(json));
}

} // namespace
} // namespace mivora::testing
