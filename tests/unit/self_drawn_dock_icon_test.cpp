#include <gtest/gtest.h>
#include <sys/stat.h>

#include "apps/self_drawn_dock_icon.h"
#include "platform/filesystem.h"
#include "support/sandbox.h"

namespace mivora::apps {
namespace {

using testing::AppBundle;

const std::string kMarkedExecutable =
    "\xCF\xFA\xED\xFE code ... " + std::string(kSelfDrawnIconMarker) + " ... data";

struct Expected {
    std::string displayName;
    std::optional<std::string> hint;
};

TEST(SelfDrawnDockIcon, Table) {
    const std::string plugIn = "NSDockTilePlugIn";
    struct Case {
        std::string title;
        AppBundle bundle;
        std::optional<std::string> callerName;
        std::optional<Expected> expected;
    };
    const std::vector<Case> cases = {
        {"marker without a Dock-tile plug-in",
         {.name = "Plain", .executable = "Plain", .executableBytes = kMarkedExecutable},
         "Plain",
         std::nullopt},
        {"empty plug-in text",
         {.name = "Empty",
          .executable = "Empty",
          .executableBytes = kMarkedExecutable,
          .extraStrings = {{plugIn, ""}}},
         "Empty",
         std::nullopt},
        {"plug-in and marker",
         {.name = "Drawn",
          .executable = "Drawn",
          .executableBytes = kMarkedExecutable,
          .extraStrings = {{plugIn, "Tile.docktileplugin"}}},
         "Drawn",
         Expected{"Drawn", std::nullopt}},
        {"plug-in without marker",
         {.name = "Quiet",
          .executable = "Quiet",
          .executableBytes = "no such words here",
          .extraStrings = {{plugIn, "Tile.docktileplugin"}}},
         "Quiet",
         std::nullopt},
        {"hint table wins whatever the executable holds",
         {.name = "Arc",
          .bundleId = "company.thebrowser.Browser",
          .executable = "Arc",
          .executableBytes = "nothing",
          .extraStrings = {{plugIn, "Tile.docktileplugin"}}},
         "Arc",
         Expected{"Arc", "Arc > Settings > Icon"}},
        {"hint table without an executable at all",
         {.name = "Warp",
          .bundleId = "dev.warp.Warp-Preview",
          .extraStrings = {{plugIn, "Tile.docktileplugin"}}},
         "Warp",
         Expected{"Warp", "Warp > Settings > Appearance > App Icon"}},
        {"hint table still needs the plug-in",
         {.name = "Arc",
          .bundleId = "company.thebrowser.Browser",
          .executable = "Arc",
          .executableBytes = kMarkedExecutable},
         "Arc",
         std::nullopt},
        {"display name from CFBundleDisplayName",
         {.name = "Named",
          .executable = "Named",
          .executableBytes = kMarkedExecutable,
          .extraStrings = {{plugIn, "T"}, {"CFBundleDisplayName", "Shown"}, {"CFBundleName", "Short"}}},
         std::nullopt,
         Expected{"Shown", std::nullopt}},
        {"then CFBundleName",
         {.name = "Named",
          .executable = "Named",
          .executableBytes = kMarkedExecutable,
          .extraStrings = {{plugIn, "T"}, {"CFBundleName", "Short"}}},
         std::nullopt,
         Expected{"Short", std::nullopt}},
        {"then the file name",
         {.name = "File Name",
          .executable = "x",
          .executableBytes = kMarkedExecutable,
          .extraStrings = {{plugIn, "T"}}},
         std::nullopt,
         Expected{"File Name", std::nullopt}},
        {"no CFBundleExecutable", {.name = "NoExe", .extraStrings = {{plugIn, "T"}}}, "NoExe", std::nullopt},
        {"no Info.plist",
         {.name = "Bare",
          .executable = "Bare",
          .executableBytes = kMarkedExecutable,
          .writeInfoPlist = false},
         "Bare",
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        testing::Sandbox sandbox;
        std::string path = sandbox.addApp(c.bundle);
        auto result = detectSelfDrawnDockIcon(path, c.callerName);
        ASSERT_EQ(result.has_value(), c.expected.has_value());
        if (result) {
            EXPECT_EQ(result->displayName, c.expected->displayName);
            EXPECT_EQ(result->hint, c.expected->hint);
        }
    }
}

TEST(SelfDrawnDockIcon, UnreadableBundlesGiveNothing) {
    testing::Sandbox sandbox;
    AppBundle drawn{.name = "Drawn",
                    .executable = "Drawn",
                    .executableBytes = kMarkedExecutable,
                    .extraStrings = {{"NSDockTilePlugIn", "T"}}};
    std::string path = sandbox.addApp(drawn);
    ASSERT_TRUE(detectSelfDrawnDockIcon(path, "Drawn"));
    std::string executable = path + "/Contents/MacOS/Drawn";

    // The executable replaced by a folder, by a FIFO, by a dangling link, or gone.
    platform::removeItem(executable);
    platform::createDirectories(executable);
    EXPECT_FALSE(detectSelfDrawnDockIcon(path, "Drawn"));
    platform::removeItem(executable);
    ASSERT_EQ(::mkfifo(executable.c_str(), 0755), 0);
    EXPECT_FALSE(detectSelfDrawnDockIcon(path, "Drawn"));
    platform::removeItem(executable);
    platform::createSymbolicLink(executable, path + "/Contents/MacOS/elsewhere");
    EXPECT_FALSE(detectSelfDrawnDockIcon(path, "Drawn"));
    platform::removeItem(executable);
    EXPECT_FALSE(detectSelfDrawnDockIcon(path, "Drawn"));

    // A bundle that is a plain file, and Info.plists that do not parse.
    std::string file = sandbox.rootPath("/Applications/File.app");
    sandbox.writeFile(file, "not a bundle");
    EXPECT_FALSE(detectSelfDrawnDockIcon(file, std::nullopt));
    for (const std::string& garbage :
         {std::string("<?xml version=\"1.0\"?><plist><dict><key>NSDockTilePlugIn</key><str"),
          std::string("bplist00\0\0\0", 11), std::string()}) {
        sandbox.writeFile(path + "/Contents/Info.plist", garbage);
        EXPECT_FALSE(detectSelfDrawnDockIcon(path, "Drawn"));
    }
}

} // namespace
} // namespace mivora::apps
