// Dock-icon composition end to end (through the icon probe): the optional
// script run through a recording fake uv, the normalising fallback, and the
// clean-up of composition folders.
#include "platform/filesystem.h"
#include "support/icon_commands_fixture.h"
#include "support/icon_fixtures.h"
#include "support/icons_driver.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mivora::testing {
namespace {

class Composition : public ::testing::Test {
protected:
    Sandbox sandbox;
    std::string script =
        sandbox.homePath("Library/Application Support/com.quartelmisko.Mivora/compose/compose_dock_icon.py");
    std::string icon = sandbox.homePath("Pictures/styled icon.png");
    std::string app;

    void SetUp() override {
        appendStandinsToPath(sandbox);
        app = addAppWithIcon(sandbox, "Paint", typicalIcns());
        // White background, red artwork: normalisation clears the white.
        image::Bitmap styled = solidBitmap(512, 512, {255, 255, 255, 255});
        fillRect(styled, 128, 128, 256, 256, kIconRed);
        sandbox.writeFile(icon, pngBytes(styled));
        // uv: logs its arguments, keeps a copy of --source, then acts as bin/uv.mode says.
        sandbox.writeScript(sandbox.bin() + "/uv",
                            "log=\"" + sandbox.tmp() +
                                "/uv.log\"\n"
                                "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$log\"; done\n"
                                "printf '%s\\n' -- >> \"$log\"\n"
                                "pwd > \"" +
                                sandbox.tmp() +
                                "/uv.pwd\"\n"
                                "cp \"$9\" \"" +
                                sandbox.dir() +
                                "/seen-source.png\" 2>/dev/null\n"
                                "mode=$(cat \"" +
                                sandbox.bin() +
                                "/uv.mode\" 2>/dev/null)\n"
                                "case \"$mode\" in\n"
                                "  fail) echo 'compose failed' >&2; exit 3 ;;\n"
                                "  silent) exit 0 ;;\n"
                                "  *) cp \"$7\" \"${11}\" ;;\n"
                                "esac\n");
    }

    void installScript() { sandbox.writeFile(script, "# composition script\n"); }
    void linkScriptTo(const std::string& target) {
        platform::removeItemQuietly(script);
        platform::createSymbolicLink(script, target);
    }
    void uvMode(const std::string& mode) { sandbox.writeFile(sandbox.bin() + "/uv.mode", mode); }
    std::vector<std::string> composeFolders() const {
        return namesStartingWith(sandbox.tmp(), "mivora-compose-");
    }

    RunResult compose(const std::string& appPath) {
        std::string name = platform::deletingPathExtension(platform::lastPathComponent(appPath));
        return runIconsDriver(sandbox, {"compose-dock-icon", icon, name, appPath});
    }

    std::string bundleWithoutInfo() {
        AppBundle bare;
        bare.name = "Bare";
        bare.writeInfoPlist = false;
        return sandbox.addApp(bare);
    }
};

TEST_F(Composition, WithoutTheScriptTheIconPassesThroughAndNoFolderIsMade) {
    auto result = compose(app);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, icon + "\n");
    EXPECT_TRUE(composeFolders().empty());
    EXPECT_TRUE(sandbox.loggedCalls("uv.log").empty());
}

TEST_F(Composition, RunsTheScriptWithTheAppIconAsSource) {
    installScript();
    auto result = compose(app);
    ASSERT_EQ(result.status, 0) << result.err;
    auto folders = composeFolders();
    ASSERT_EQ(folders.size(), 1u);
    const std::string folder = sandbox.tmp() + "/" + folders[0];
    EXPECT_EQ(result.out, folder + "/dock-ready.png\n");
    auto calls = sandbox.loggedCalls("uv.log");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], (std::vector<std::string>{"run", "--with", "pillow", "python", script, "--styled",
                                                  icon, "--source", folder + "/source-1024.png", "--out",
                                                  folder + "/dock-ready.png"}));
    image::Bitmap source = readPNGFile(sandbox.dir() + "/seen-source.png");
    EXPECT_EQ(source.width, 1024);
    EXPECT_EQ(source.height, 1024);
}

TEST_F(Composition, AScriptThatWritesNothingLeavesTheIconAsGiven) {
    installScript();
    uvMode("silent");
    auto result = compose(app);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, icon + "\n");
    EXPECT_EQ(composeFolders().size(), 1u) << "the folder stays for the engine to remove";
}

TEST_F(Composition, AFailingScriptEndsTheCallWithTheShellError) {
    installScript();
    uvMode("fail");
    auto result = compose(app);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: Exit code 3: compose failed\n");
}

TEST_F(Composition, WhenExtractionFailsTheIconIsNormalisedInstead) {
    installScript();
    auto result = compose(bundleWithoutInfo());
    ASSERT_EQ(result.status, 0) << result.err;
    auto folders = composeFolders();
    ASSERT_EQ(folders.size(), 1u);
    const std::string output = sandbox.tmp() + "/" + folders[0] + "/dock-ready.png";
    EXPECT_EQ(result.out, output + "\n");
    EXPECT_TRUE(sandbox.loggedCalls("uv.log").empty());
    image::Bitmap ready = readPNGFile(output);
    ASSERT_EQ(ready.width, 1024);
    ASSERT_EQ(ready.height, 1024);
    EXPECT_EQ(pixelOf(ready, 10, 10).alpha, 0) << "white background removed";
    EXPECT_EQ(pixelOf(ready, 512, 512).red, kIconRed.red);
    EXPECT_EQ(pixelOf(ready, 512, 512).alpha, 255);
}

TEST_F(Composition, WhenNeitherExtractionNorLoadingWorksTheIconIsUsedAsGiven) {
    installScript();
    sandbox.writeFile(icon, "not an image");
    auto result = compose(bundleWithoutInfo());
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, icon + "\n");
}

TEST_F(Composition, DockReadyIconNeedsAWritableFolder) {
    auto missing = runIconsDriver(sandbox, {"make-dock-ready-icon", icon, sandbox.tmp() + "/no/such/folder"});
    EXPECT_EQ(missing.out, "none\n");
    platform::createDirectories(sandbox.tmp() + "/ready");
    auto made = runIconsDriver(sandbox, {"make-dock-ready-icon", icon, sandbox.tmp() + "/ready"});
    EXPECT_EQ(made.out, sandbox.tmp() + "/ready/dock-ready.png\n");
    EXPECT_EQ(namesStartingWith(sandbox.tmp() + "/ready", "").size(), 1u)
        << "no temporary file left beside it";
}

TEST_F(Composition, RemovesOnlyCompositionFoldersOfTheTemporaryFolder) {
    struct Case {
        const char* name;
        std::string file;
        std::string folderToCheck;
        bool removed;
    };
    const std::vector<Case> cases = {
        {"composition folder", sandbox.tmp() + "/mivora-compose-ABC/dock-ready.png",
         sandbox.tmp() + "/mivora-compose-ABC", true},
        {"reached through '..'", sandbox.tmp() + "/x/../mivora-compose-DEF/dock-ready.png",
         sandbox.tmp() + "/mivora-compose-DEF", true},
        {"the user's own file", icon, sandbox.homePath("Pictures"), false},
        {"same name outside the temporary folder", sandbox.homePath("mivora-compose-GHI/dock-ready.png"),
         sandbox.homePath("mivora-compose-GHI"), false},
        {"another folder of the temporary folder", sandbox.tmp() + "/other/dock-ready.png",
         sandbox.tmp() + "/other", false},
        {"nested deeper", sandbox.tmp() + "/a/mivora-compose-JKL/dock-ready.png",
         sandbox.tmp() + "/a/mivora-compose-JKL", false},
    };
    for (const auto& c : cases) {
        if (c.file != icon) sandbox.writeFile(platform::standardizePath(c.file), "png");
        platform::createDirectories(sandbox.tmp() + "/x");
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = runIconsDriver(sandbox, {"remove-compose-folder", c.file});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(platform::fileExists(c.folderToCheck), !c.removed);
    }
    EXPECT_TRUE(platform::fileExists(icon));
}

// The script runs with the user's rights, so through set-icon it runs only when
// it (and where a link leads) and its folder are the user's and no one else may
// write them; then uv starts in the script's own folder, not the caller's.
TEST_F(Composition, TheScriptRunsOnlyWhenItIsTheUsersAloneAndInItsOwnFolder) {
    prepareIconCommands(sandbox, /*dark=*/true);
    const std::string compose = platform::parentPath(script);
    const std::string scripts = sandbox.homePath("scripts"); // where a link may lead
    const std::string elsewhere = scripts + "/compose.py";
    constexpr uid_t other = 65534;
    struct Case {
        std::string name;
        std::function<void()> arrange;
        std::string runsIn; // the folder uv starts in, or "" when the script must not run
    };
    const std::vector<Case> cases = {
        {"the user's own script", [] {}, compose},
        {"a script of another user", [&] { ASSERT_EQ(::chown(script.c_str(), other, other), 0); }, ""},
        {"a script the group may write", [&] { ASSERT_EQ(::chmod(script.c_str(), 0664), 0); }, ""},
        {"a script anyone may write", [&] { ASSERT_EQ(::chmod(script.c_str(), 0646), 0); }, ""},
        {"a folder of another user", [&] { ASSERT_EQ(::chown(compose.c_str(), other, other), 0); }, ""},
        {"a folder anyone may write", [&] { ASSERT_EQ(::chmod(compose.c_str(), 01777), 0); }, ""},
        {"a folder the group may write", [&] { ASSERT_EQ(::chmod(compose.c_str(), 0775), 0); }, ""},
        {"a link to the user's own script", [&] { linkScriptTo(elsewhere); }, scripts},
        {"a link to another user's script",
         [&] {
             linkScriptTo(elsewhere);
             ASSERT_EQ(::chown(elsewhere.c_str(), other, other), 0);
         },
         ""},
        {"a link into a folder anyone may write",
         [&] {
             linkScriptTo(elsewhere);
             ASSERT_EQ(::chmod(scripts.c_str(), 0777), 0);
         },
         ""},
        {"a link to a folder", [&] { linkScriptTo(scripts); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::removeItemQuietly(compose);
        platform::removeItemQuietly(scripts);
        platform::removeItemQuietly(sandbox.tmp() + "/uv.log");
        platform::removeItemQuietly(sandbox.tmp() + "/helper.log");
        installScript();
        sandbox.writeFile(elsewhere, "# composition script\n");
        c.arrange();
        if (::testing::Test::HasFatalFailure()) return;

        auto result = sandbox.run({"set-icon", app, icon, "--no-refresh"}, sandbox.tmp());
        ASSERT_EQ(result.status, 0) << result.err;
        auto helper = sandbox.loggedCalls("helper.log");
        ASSERT_EQ(helper.size(), 1u);
        if (c.runsIn.empty()) {
            EXPECT_TRUE(sandbox.loggedCalls("uv.log").empty());
            EXPECT_EQ(helper[0].at(2), icon) << "applied without composition";
        } else {
            EXPECT_EQ(sandbox.loggedCalls("uv.log").size(), 1u);
            EXPECT_EQ(sandbox.readFile(sandbox.tmp() + "/uv.pwd"), c.runsIn + "\n");
            EXPECT_TRUE(helper[0].at(2).ends_with("/dock-ready.png")) << helper[0].at(2);
        }
    }
}

} // namespace
} // namespace mivora::testing
