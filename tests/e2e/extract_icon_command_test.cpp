// `mivora extract-icon` end to end, against our iconutil and sips stand-ins.
#include "core/json.h"
#include "platform/filesystem.h"
#include "platform/image/png.h"
#include "support/icon_fixtures.h"
#include "support/icons_driver.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

class ExtractIconCommand : public ::testing::Test {
protected:
    Sandbox sandbox;
    std::string app = addAppWithIcon(sandbox, "Notion", typicalIcns());
    std::string icns = app + "/Contents/Resources/AppIcon.icns";
};

TEST_F(ExtractIconCommand, WritesARelativeOutputInTheCurrentFolderAndPrintsThreeLines) {
    std::string work = sandbox.homePath("work");
    platform::createDirectories(work);
    auto result = sandbox.run({"extract-icon", "Notion", "--out", "icon.png"}, work);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "✓ Extracted icon for Notion\n"
                          "  Source: " +
                              icns +
                              "\n"
                              "  Output: " +
                              work + "/icon.png (1024x1024)\n");
    EXPECT_EQ(result.err, "");
    image::Bitmap written = readPNGFile(work + "/icon.png");
    EXPECT_EQ(written.width, 1024);
    EXPECT_EQ(written.height, 1024);
}

TEST(ExtractIconMembers, OnlyAWholeLargestMemberIsKeptByteForByte) {
    // The 1024-pixel member beside a sound 512-pixel one: sound; cut inside the
    // chunk after its image data (no IEND); followed by junk; or with its zlib
    // checksum broken.
    const std::string large = solidPNG(1024, 1024, kIconRed);
    const std::string text = pngChunk("tEXt", std::string("Title\0Paint", 11));
    const std::string withText = large.substr(0, large.size() - 12) + text + large.substr(large.size() - 12);
    std::string damaged = large;
    damaged[damaged.size() - 12 - 4 - 1] ^= 0x01; // the zlib checksum (and so the chunk CRC)
    enum class Outcome { kept, reencoded, passedOver };
    struct Case {
        const char* name;
        std::string member;
        Outcome outcome;
    };
    const Case cases[] = {
        {"sound", large, Outcome::kept},
        {"cut inside the chunk after the image data", withText.substr(0, large.size() - 12 + 10),
         Outcome::reencoded},
        {"junk after IEND", large + "junk", Outcome::reencoded},
        {"a broken zlib checksum", damaged, Outcome::passedOver},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sandbox;
        addAppWithIcon(sandbox, "Paint",
                       icnsFile({{"ic09", solidPNG(512, 512, kIconBlue)}, {"ic10", c.member}}));
        const std::string output = sandbox.homePath("paint.png");
        auto result = sandbox.run({"extract-icon", "Paint", "--out", output, "--json"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(core::Json::parse(result.out)["width"], 1024);
        const std::string written = platform::readFile(output, kTestReadLimit).value_or("");
        EXPECT_TRUE(image::isWholePNG(written));
        EXPECT_EQ(written == c.member, c.outcome == Outcome::kept);
        image::Bitmap pixels = readPNGFile(output);
        ASSERT_EQ(pixels.width, 1024);
        EXPECT_EQ(pixelOf(pixels, 512, 512).red,
                  c.outcome == Outcome::passedOver ? kIconBlue.red : kIconRed.red)
            << "scaled up from the 512-pixel member when the large one is passed over";
    }
}

TEST_F(ExtractIconCommand, JSONNamesTheAbsoluteOutputAndReplacesAnExistingFile) {
    std::string work = sandbox.homePath("work");
    platform::createDirectories(work);
    std::string output = work + "/new/folder/icon.png";
    // The first run creates the missing folders; the second replaces the file.
    auto first = sandbox.run({"extract-icon", app, "--out", "new/folder/icon.png", "--size", "64"}, work);
    ASSERT_EQ(first.status, 0) << first.err;
    sandbox.writeFile(output, "old bytes");
    auto result = sandbox.run(
        {"extract-icon", app, "--out", "new/../new/folder/icon.png", "--size", "64", "--json"}, work);
    ASSERT_EQ(result.status, 0) << result.err;
    core::Json json = core::Json::parse(result.out);
    std::vector<std::string> keys;
    for (const auto& item : json.items())
        keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"app", "height", "outputPath", "sourceIcns", "width"}));
    EXPECT_EQ(json["app"]["name"], "Notion");
    EXPECT_EQ(json["app"]["path"], app);
    EXPECT_EQ(json["outputPath"], output);
    EXPECT_EQ(json["sourceIcns"], icns);
    EXPECT_EQ(json["width"], 64);
    EXPECT_EQ(json["height"], 64);
    EXPECT_EQ(readPNGFile(output).width, 64);
}

TEST_F(ExtractIconCommand, ErrorsEndWithTheirMessages) {
    AppBundle plain;
    plain.name = "Plain";
    sandbox.addApp(plain);
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        int status;
        std::string errorStart;
    };
    const std::vector<Case> cases = {
        {"no --out", {"extract-icon", "Notion"}, 64, "Error: Missing expected argument '--out <out>'"},
        {"size not a number", {"extract-icon", "Notion", "--out", "x.png", "--size", "big"}, 64, "Error: "},
        {"unknown app",
         {"extract-icon", "Nowhere", "--out", "x.png"},
         1,
         "Error: No app matching 'Nowhere' found in /Applications.\n"},
        {"missing bundle path",
         {"extract-icon", sandbox.dir() + "/Gone.app", "--out", "x.png"},
         1,
         "Error: App not found: " + sandbox.dir() + "/Gone.app\n"},
        {"no icon file",
         {"extract-icon", "Plain", "--out", "x.png"},
         1,
         "Error: No .icns file found in app bundle\n"},
        {"size 0",
         {"extract-icon", "Notion", "--out", "x.png", "--size", "0"},
         1,
         "Error: Exit code 1: Error: -z 0 0: a size must be above 0\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = sandbox.run(c.arguments);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind(c.errorStart, 0), 0u) << result.err;
    }
    EXPECT_FALSE(platform::fileExists(sandbox.dir() + "/x.png"));
    EXPECT_TRUE(namesStartingWith(sandbox.tmp(), "mivora-extract-").empty());
}

} // namespace
} // namespace mivora::testing
