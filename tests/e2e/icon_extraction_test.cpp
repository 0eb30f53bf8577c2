// Icon extraction end to end: extractAppIcon (through the icon probe) running
// iconutil and sips (our stand-ins, recorded) inside a sandbox.
#include "core/json.h"
#include "platform/filesystem.h"
#include "support/icon_fixtures.h"
#include "support/icons_driver.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

bool isUUID(const std::string& text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-'
                 : !std::isxdigit(static_cast<unsigned char>(text[i])) || std::islower(text[i])) {
            return false;
        }
    }
    return true;
}

class Extraction : public ::testing::Test {
protected:
    Sandbox sandbox;

    void SetUp() override {
        appendStandinsToPath(sandbox);
        installRecordingStandin(sandbox, "iconutil");
        installRecordingStandin(sandbox, "sips");
    }

    std::vector<std::string> leftoverTemporaryFolders() const {
        return namesStartingWith(sandbox.tmp(), "mivora-extract-");
    }

    RunResult extract(const std::string& appPath, const std::string& output, const std::string& size) {
        std::string name = platform::deletingPathExtension(platform::lastPathComponent(appPath));
        return runIconsDriver(sandbox, {"extract-icon", name, appPath, output, size});
    }
};

TEST_F(Extraction, WritesTheLargestMemberAtTheRequestedSizeWithTheExactCommandLines) {
    std::string app = addAppWithIcon(sandbox, "Paint", typicalIcns());
    std::string output = sandbox.homePath("out/nested/paint.png"); // the folders do not exist yet
    auto result = extract(app, output, "256");
    ASSERT_EQ(result.status, 0) << result.err;

    core::Json json = core::Json::parse(result.out);
    EXPECT_EQ(json["app"]["name"], "Paint");
    EXPECT_EQ(json["app"]["path"], app);
    EXPECT_EQ(json["sourceIcns"], app + "/Contents/Resources/AppIcon.icns");
    EXPECT_EQ(json["outputPath"], output);
    EXPECT_EQ(json["width"], 256);
    EXPECT_EQ(json["height"], 256);

    image::Bitmap written = readPNGFile(output);
    EXPECT_EQ(written.width, 256);
    EXPECT_EQ(written.height, 256);
    if (written.width == 256) {
        RGBA centre = pixelOf(written, 128, 128);
        EXPECT_EQ(centre.red, kIconRed.red) << "drawn from the 1024-pixel member";
        EXPECT_EQ(centre.blue, kIconRed.blue);
    }
    EXPECT_TRUE(leftoverTemporaryFolders().empty());

    auto iconutil = sandbox.loggedCalls("iconutil.log");
    ASSERT_EQ(iconutil.size(), 1u);
    ASSERT_EQ(iconutil[0].size(), 5u);
    EXPECT_EQ(std::vector<std::string>(iconutil[0].begin(), iconutil[0].begin() + 3),
              (std::vector<std::string>{"-c", "iconset", app + "/Contents/Resources/AppIcon.icns"}));
    EXPECT_EQ(iconutil[0][3], "-o");
    const std::string iconset = iconutil[0][4];
    const std::string prefix = sandbox.tmp() + "/mivora-extract-";
    ASSERT_EQ(iconset.rfind(prefix, 0), 0u) << iconset;
    ASSERT_GT(iconset.size(), prefix.size() + 36);
    EXPECT_TRUE(isUUID(iconset.substr(prefix.size(), 36))) << iconset;
    EXPECT_EQ(iconset.substr(prefix.size() + 36), "/icon.iconset");

    auto sips = sandbox.loggedCalls("sips.log");
    ASSERT_EQ(sips.size(), 2u);
    // sips writes a temporary file beside the output, which then becomes the output.
    ASSERT_EQ(sips[0].size(), 9u);
    EXPECT_EQ(std::vector<std::string>(sips[0].begin(), sips[0].begin() + 8),
              (std::vector<std::string>{"-s", "format", "png", "-z", "256", "256",
                                        iconset + "/icon_512x512@2x.png", "--out"}));
    EXPECT_TRUE(isTemporaryFileOf(sips[0][8], output)) << sips[0][8];
    EXPECT_FALSE(platform::fileExists(sips[0][8]));
    EXPECT_EQ(sips[1], (std::vector<std::string>{"-g", "pixelWidth", "-g", "pixelHeight", output}));
}

TEST_F(Extraction, ScalesASmallOldStyleIconUpAndReplacesAnExistingFile) {
    std::string icns = icnsFile({{"is32", runLengthChannels(16, {10, 200, 10})}});
    std::string app = addAppWithIcon(sandbox, "Old", icns);
    std::string output = sandbox.homePath("old.png");
    sandbox.writeFile(output, "previous contents");
    auto result = extract(app, output, "64");
    ASSERT_EQ(result.status, 0) << result.err;
    image::Bitmap written = readPNGFile(output);
    EXPECT_EQ(written.width, 64);
    EXPECT_EQ(written.height, 64);
}

TEST_F(Extraction, QuotesPathsWithBlanksAndSingleQuotes) {
    std::string folder = sandbox.rootPath("/Applications/Bob's Apps");
    std::string app = addAppWithIcon(sandbox, "Bob's Tool", typicalIcns(), folder);
    std::string output = sandbox.homePath("it's here/icon $HOME.png");
    auto result = extract(app, output, "32");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readPNGFile(output).width, 32);
    EXPECT_EQ(sandbox.loggedCalls("iconutil.log")[0][2], app + "/Contents/Resources/AppIcon.icns");
}

TEST_F(Extraction, SizesThatSipsDoesNotReportAreZero) {
    // A sips that converts but answers the size query without a pixelWidth line.
    sandbox.writeScript(sandbox.bin() + "/sips",
                        "if [ \"$1\" = -g ]; then echo \"$5\"; echo '  pixelHeight: 77'; exit 0; fi\n"
                        "exec \"" +
                            standinsDirectory() + "/sips\" \"$@\"\n");
    std::string app = addAppWithIcon(sandbox, "Paint", typicalIcns());
    auto result = extract(app, sandbox.homePath("p.png"), "16");
    ASSERT_EQ(result.status, 0) << result.err;
    core::Json json = core::Json::parse(result.out);
    EXPECT_EQ(json["width"], 0);
    EXPECT_EQ(json["height"], 77);
}

TEST_F(Extraction, ConvertsTheIcnsItselfWhenTheIconsetHoldsNoPNG) {
    sandbox.writeScript(sandbox.bin() + "/iconutil", "mkdir -p \"$5\"\n");
    std::string app = addAppWithIcon(sandbox, "Paint", typicalIcns());
    std::string output = sandbox.homePath("p.png");
    auto result = extract(app, output, "48");
    ASSERT_EQ(result.status, 0) << result.err;
    auto sips = sandbox.loggedCalls("sips.log");
    ASSERT_FALSE(sips.empty());
    EXPECT_EQ(sips[0][6], app + "/Contents/Resources/AppIcon.icns");
    EXPECT_EQ(readPNGFile(output).width, 48);
}

TEST_F(Extraction, FailuresReportTheirCauseAndRemoveTheTemporaryFolder) {
    std::string good = addAppWithIcon(sandbox, "Good", typicalIcns());
    std::string lying =
        addAppWithIcon(sandbox, "Lying", "icns" + bigEndian32(64) + "ic10" + bigEndian32(4096));
    struct Case {
        const char* name;
        std::string app;
        std::string size;
        std::string errorStart;
    };
    const Case cases[] = {
        {"size 0", good, "0", "Error: Exit code 1: Error: -z 0 0: a size must be above 0"},
        {"negative size", good, "-4", "Error: Exit code 1: Error: -z -4 -4: a size must be above 0"},
        {"ICNS whose member length lies", lying, "64", "Error: Exit code 1: iconutil: " + lying},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = extract(c.app, sandbox.homePath("x/out.png"), c.size);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err.rfind(c.errorStart, 0), 0u) << result.err;
        EXPECT_TRUE(leftoverTemporaryFolders().empty());
    }
}

TEST_F(Extraction, MissingInfoPlistOrIconCreatesNothing) {
    AppBundle bare;
    bare.name = "Bare";
    bare.writeInfoPlist = false;
    std::string noInfo = sandbox.addApp(bare);
    AppBundle plain;
    plain.name = "Plain";
    std::string noIcon = sandbox.addApp(plain);
    for (const auto& [app, message] : {std::pair{noInfo, "Error: Cannot read Info.plist\n"},
                                       std::pair{noIcon, "Error: No .icns file found in app bundle\n"}}) {
        auto result = extract(app, sandbox.homePath("new/out.png"), "64");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, message);
    }
    EXPECT_FALSE(platform::fileExists(sandbox.homePath("new")));
    EXPECT_TRUE(leftoverTemporaryFolders().empty());
    EXPECT_TRUE(sandbox.loggedCalls("iconutil.log").empty());
}

} // namespace
} // namespace mivora::testing
