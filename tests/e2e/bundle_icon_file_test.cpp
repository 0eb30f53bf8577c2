// One rule for a bundle's icon file, the same for extract-icon, escape-jail and
// collections add: the file is used when where it resolves to lies inside the
// bundle's resolved folder. A link within the bundle is fine; a link out, a
// Contents that is a link out, or a fallback .icns that is a link out is "not found".
#include "platform/filesystem.h"
#include "support/collection_fixture.h"
#include "support/icon_fixtures.h"
#include "support/sandbox.h"

#include <functional>
#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

using Calls = std::vector<std::vector<std::string>>;

struct Built {
    std::string bundle;
    std::string used; // the icon file the rule lets through (its resolved path), or ""
};

struct Case {
    std::string name;
    std::function<Built(const Sandbox&, const std::string& outside)> build;
    std::string namedIcon; // CFBundleIconFile as escape-jail names it
    bool escapeJailUsesIt; // escape-jail takes the named file only, never a fallback
};

std::string bundleNaming(const Sandbox& sandbox, const std::string& name, const std::string& iconFile,
                         const std::string& folder = "") {
    return sandbox.addApp({.name = name, .folder = folder, .extraStrings = {{"CFBundleIconFile", iconFile}}});
}

std::vector<Case> cases() {
    return {
        {"a link to another icon of the bundle",
         [](const Sandbox& s, const std::string&) {
             std::string bundle = bundleNaming(s, "Inside", "AppIcon");
             s.writeFile(bundle + "/Contents/Resources/Other.icns", typicalIcns());
             platform::createSymbolicLink(bundle + "/Contents/Resources/AppIcon.icns", "Other.icns");
             return Built{bundle, bundle + "/Contents/Resources/Other.icns"};
         },
         "AppIcon.icns", true},
        {"a link to a file outside the bundle",
         [](const Sandbox& s, const std::string& outside) {
             std::string bundle = bundleNaming(s, "LinkOut", "AppIcon");
             platform::createSymbolicLink(bundle + "/Contents/Resources/AppIcon.icns", outside);
             return Built{bundle, ""};
         },
         "AppIcon.icns", false},
        {"Contents a link to a folder outside the bundle",
         [](const Sandbox& s, const std::string&) {
             std::string elsewhere = bundleNaming(s, "ContentsOut", "AppIcon", s.dir() + "/elsewhere");
             s.writeFile(elsewhere + "/Contents/Resources/AppIcon.icns", typicalIcns());
             std::string bundle = s.rootPath("/Applications/ContentsOut.app");
             platform::createDirectories(bundle);
             platform::createSymbolicLink(bundle + "/Contents", elsewhere + "/Contents");
             return Built{bundle, ""};
         },
         "AppIcon.icns", false},
        {"the fallback .icns a link outside the bundle",
         [](const Sandbox& s, const std::string& outside) {
             std::string bundle = bundleNaming(s, "FallbackOut", "Missing");
             platform::createSymbolicLink(bundle + "/Contents/Resources/A.icns", outside);
             return Built{bundle, ""};
         },
         "Missing.icns", false},
        {"the fallback passes over a link out to the bundle's own file",
         [](const Sandbox& s, const std::string& outside) {
             std::string bundle = bundleNaming(s, "FallbackNext", "Missing");
             platform::createSymbolicLink(bundle + "/Contents/Resources/A.icns", outside);
             s.writeFile(bundle + "/Contents/Resources/B.icns", typicalIcns());
             return Built{bundle, bundle + "/Contents/Resources/B.icns"};
         },
         "Missing.icns", false},
    };
}

class BundleIconFile : public ::testing::Test {
protected:
    void SetUp() override {
        sandbox.installFakeSudo();
        sandbox.installHelperFiles();
        installRecordingStandin(sandbox, "iconutil");
        sandbox.writeFile(outside, typicalIcns());
    }

    // Runs `check` for every case, each in a bundle of its own, with fresh logs.
    void forEachCase(const std::function<void(const Case&, const Built&)>& check) {
        for (const auto& c : cases()) {
            SCOPED_TRACE(c.name);
            Built built = c.build(sandbox, outside);
            platform::removeItemQuietly(sandbox.tmp() + "/iconutil.log");
            platform::removeItemQuietly(sandbox.tmp() + "/helper.log");
            check(c, built);
        }
    }

    Sandbox sandbox;
    std::string outside = sandbox.dir() + "/outside/secret.icns"; // someone else's file
};

TEST_F(BundleIconFile, ExtractIconUsesOnlyAFileOfTheBundle) {
    forEachCase([&](const Case&, const Built& built) {
        const auto& [bundle, used] = built;
        auto result = sandbox.run({"extract-icon", bundle, "--out", sandbox.homePath("out.png"), "--json"});
        auto iconutil = sandbox.loggedCalls("iconutil.log");
        if (used.empty()) {
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.err, "Error: No .icns file found in app bundle\n");
            EXPECT_TRUE(iconutil.empty());
        } else {
            ASSERT_EQ(result.status, 0) << result.err;
            EXPECT_EQ(core::Json::parse(result.out)["sourceIcns"], used);
            ASSERT_EQ(iconutil.size(), 1u);
            EXPECT_EQ(iconutil[0].at(2), used);
        }
    });
}

TEST_F(BundleIconFile, EscapeJailHandsTheHelperOnlyAFileOfTheBundle) {
    forEachCase([&](const Case& c, const Built& built) {
        const auto& [bundle, used] = built;
        auto result = sandbox.run({"escape-jail", bundle});
        if (c.escapeJailUsesIt) {
            ASSERT_EQ(result.status, 0) << result.err;
            EXPECT_EQ(sandbox.loggedCalls("helper.log"),
                      (Calls{{sandbox.rootPath("/usr/local/lib/mivora/fileicon"), bundle, used}}));
        } else {
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.err,
                      "Error: Icon file not found: " + bundle + "/Contents/Resources/" + c.namedIcon + "\n");
            EXPECT_TRUE(sandbox.loggedCalls("helper.log").empty());
        }
    });
}

TEST_F(BundleIconFile, CollectionsAddTakesItsReferenceOnlyFromAFileOfTheBundle) {
    ASSERT_EQ(sandbox.run({"collections", "create", "naruto"}).status, 0);
    std::string art = sandbox.homePath("art.png");
    sandbox.writeFile(art, pngBytes(squareOnWhite(256)));
    forEachCase([&](const Case&, const Built& built) {
        const auto& [bundle, used] = built;
        auto result = sandbox.run({"collections", "add", "naruto", bundle, art});
        ASSERT_EQ(result.status, 0) << result.err;
        auto iconutil = sandbox.loggedCalls("iconutil.log");
        if (used.empty()) {
            EXPECT_TRUE(iconutil.empty()) << "no reference read";
        } else {
            ASSERT_EQ(iconutil.size(), 1u);
            EXPECT_EQ(iconutil[0].at(2), used);
        }
    });
}

} // namespace
} // namespace mivora::testing
