#include "icons/icon_extraction.h"
#include "platform/filesystem.h"
#include "support/sandbox.h"

#include <charconv>
#include <gtest/gtest.h>
#include <random>
#include <unicode/regex.h>

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
        {"icon_1\xd9\xa3x2_4x4.png", 0},         // nor do runs that mix them with ASCII digits
        {"icon_16x\xef\xbc\x95.png", 0},         // a fullwidth digit after the x
        {"icon_\xe2\x85\xa0x2_4x4.png", 16},     // a Roman numeral is no decimal digit
        {"icon_16x_4x4.png", 16},                // a run not followed by x and a digit is passed over
        {"icon_\xff"
         "16x16.png",
         256}, // a stray byte is no digit
        {"icon_16xx16_3x3.png", 9},
    };
    for (const auto& c : cases)
        EXPECT_EQ(icons::iconSizeFromFileName(c.name), c.expected) << c.name;
}

// The meaning of the platform's regular expression, which the matcher stands in for.
int64_t sizeByRegularExpression(const std::string& name) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(name); // the matcher keeps a reference
    icu::RegexMatcher matcher(icu::UnicodeString("(\\d+)x(\\d+)"), text, 0, status);
    if (U_FAILURE(status) || !matcher.find(status)) return 0;
    std::string widthText, heightText;
    matcher.group(1, status).toUTF8String(widthText);
    matcher.group(2, status).toUTF8String(heightText);
    int64_t width = 0, height = 0;
    auto parse = [](const std::string& digits, int64_t& value) {
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return error == std::errc() && end == digits.data() + digits.size();
    };
    if (!parse(widthText, width) || !parse(heightText, height)) return 0;
    const int64_t scale = name.find("@2x") != std::string::npos ? 2 : 1;
    int64_t area = 0;
    if (__builtin_mul_overflow(width * scale, height * scale, &area)) return 0;
    return area;
}

TEST(IconSizeFromFileName, AgreesWithTheRegularExpressionOnAnyName) {
    // Names made of digits of several scripts, the x in both cases, other
    // characters and stray bytes, in every order.
    const std::string pieces[] = {
        "1",    "0",    "7",       "x", "X", "_", "@2x", "\xd9\xa3", "\xef\xbc\x95", "\xe2\x85\xa0",
        "\xff", "\xc3", "\xc3\xa9"};
    std::mt19937 random(5);
    for (int i = 0; i < 20000; ++i) {
        std::string name;
        for (size_t length = random() % 9; length > 0; --length)
            name += pieces[random() % std::size(pieces)];
        ASSERT_EQ(icons::iconSizeFromFileName(name), sizeByRegularExpression(name)) << name;
    }
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
