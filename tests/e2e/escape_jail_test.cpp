// escape-jail: one bundle or every bundle in /Applications, through a recording
// sudo and helper, with the custom-icon test read from the Finder-info attribute.
#include "platform/filesystem.h"
#include "support/icon_fixtures.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>

namespace mivora::testing {
namespace {

using Calls = std::vector<std::vector<std::string>>;

const std::string kSetupMessage =
    "Error: Helper files not found. Run the Mivora app to complete setup first.\n";

class EscapeJail : public ::testing::Test {
protected:
    void SetUp() override {
        sandbox.installFakeSudo();
        sandbox.installHelperFiles();
    }

    // A bundle whose Info.plist names `iconFile` and, unless told otherwise, holds the matching icns file.
    std::string addBundle(const std::string& name, std::optional<std::string> iconFile = "AppIcon",
                          bool writeIcns = true, const std::string& folder = "") const {
        AppBundle app{.name = name, .folder = folder};
        if (iconFile) app.extraStrings["CFBundleIconFile"] = *iconFile;
        std::string path = sandbox.addApp(app);
        if (iconFile && writeIcns) {
            std::string file = iconFile->ends_with(".icns") ? *iconFile : *iconFile + ".icns";
            sandbox.writeFile(path + "/Contents/Resources/" + file, "icns");
        }
        return path;
    }

    // The two halves of a custom icon: the has-custom-icon Finder flag and the "Icon\r" file.
    static void markCustomIcon(const std::string& bundle, bool flag, bool iconFile) {
        std::string info(32, '\0');
        info[8] = flag ? '\x04' : '\x01'; // another Finder flag alone must not count
        ASSERT_EQ(::setxattr(bundle.c_str(), "user.com.apple.FinderInfo", info.data(), info.size(), 0), 0);
        if (iconFile) platform::writeFileAtomically(bundle + "/Icon\r", "");
    }

    std::vector<std::string> helperCall(const std::string& bundle, const std::string& icns) const {
        return {sandbox.rootPath("/usr/local/lib/mivora/fileicon"), bundle,
                bundle + "/Contents/Resources/" + icns};
    }

    Sandbox sandbox;
};

TEST_F(EscapeJail, MissingHelperFilesStopEverythingFirst) {
    std::string bundle = addBundle("Notes");
    for (auto [helper, fileicon] : {std::pair{false, true}, std::pair{true, false}}) {
        Sandbox bare;
        bare.installFakeSudo();
        bare.installHelperFiles(helper, fileicon);
        for (const auto& arguments : std::vector<std::vector<std::string>>{{"escape-jail"},
                                                                           {"escape-jail", "--dry-run"},
                                                                           {"escape-jail", bundle},
                                                                           {"escape-jail", "/nowhere"}}) {
            auto result = bare.run(arguments);
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, kSetupMessage);
        }
        EXPECT_TRUE(bare.loggedCalls("sudo.log").empty());
    }
}

TEST_F(EscapeJail, SingleBundleOutsideApplications) {
    std::string bundle = addBundle("Foo", "AppIcon", true, sandbox.homePath("Downloads"));
    struct Case {
        std::vector<std::string> flags;
        std::string out;
        bool runsHelper;
    };
    for (const auto& c : std::vector<Case>{{{}, "✓ Escaped squircle jail for Foo\n", true},
                                           {{"-v"}, "  ✓ Foo\n", true},
                                           {{"--dry-run"}, "  → Would escape jail for Foo\n", false},
                                           {{"-d", "--verbose"}, "  → Would escape jail for Foo\n", false}}) {
        platform::removeItemQuietly(sandbox.tmp() + "/sudo.log");
        platform::removeItemQuietly(sandbox.tmp() + "/helper.log");
        std::vector<std::string> arguments = {"escape-jail", "~/Downloads/Foo.app"};
        arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
        auto result = sandbox.run(arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, c.out); // no summary in the single form
        if (c.runsHelper) {
            auto sudo = sandbox.loggedCalls("sudo.log");
            ASSERT_EQ(sudo.size(), 1u);
            EXPECT_EQ(sudo[0].at(0), "-n");
            EXPECT_EQ(sudo[0].at(1), sandbox.rootPath("/usr/local/lib/mivora/helper.sh"));
            EXPECT_EQ(sandbox.loggedCalls("helper.log"), (Calls{helperCall(bundle, "AppIcon.icns")}));
        } else {
            EXPECT_TRUE(sandbox.loggedCalls("sudo.log").empty());
        }
    }
}

TEST_F(EscapeJail, IconFileNameGetsTheExtensionOnlyWhenItLacksIt) {
    struct Case {
        std::string iconFile, icns;
    };
    for (const auto& c : std::vector<Case>{{"AppIcon", "AppIcon.icns"},
                                           {"AppIcon.icns", "AppIcon.icns"},
                                           {"AppIcon.ICNS", "AppIcon.ICNS.icns"}}) {
        Sandbox fresh;
        fresh.installFakeSudo();
        fresh.installHelperFiles();
        std::string bundle =
            fresh.addApp({.name = "Tool", .extraStrings = {{"CFBundleIconFile", c.iconFile}}});
        fresh.writeFile(bundle + "/Contents/Resources/" + c.icns, "icns");
        auto result = fresh.run({"escape-jail", bundle});
        EXPECT_EQ(result.status, 0) << c.iconFile << result.err;
        EXPECT_EQ(fresh.loggedCalls("helper.log").at(0).at(2), bundle + "/Contents/Resources/" + c.icns);
    }
}

TEST_F(EscapeJail, ApostropheAndBlanksReachTheHelperUnchanged) {
    std::string bundle = addBundle("Bob's \"Best\" App", "It's icon");
    auto result = sandbox.run({"escape-jail", bundle, "-v"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "  ✓ Bob's \"Best\" App\n");
    EXPECT_EQ(sandbox.loggedCalls("helper.log"), (Calls{helperCall(bundle, "It's icon.icns")}));
}

TEST_F(EscapeJail, SingleFormFailures) {
    std::string noPlist = sandbox.addApp({.name = "Bare", .writeInfoPlist = false});
    addBundle("NoIcon", std::nullopt);
    std::string noIcns = addBundle("NoIcns", "Missing", false);
    addBundle("Good");
    // Names of the bundle's own that reach out of its Resources: never handed to the helper.
    sandbox.writeFile(sandbox.dir() + "/outside/secret.icns", "someone else's file");
    std::string climbing = addBundle("Climbing", "../../../../../outside/secret", false);
    std::string linked = addBundle("Linked", "AppIcon", false);
    platform::createSymbolicLink(linked + "/Contents/Resources/AppIcon.icns",
                                 sandbox.dir() + "/outside/secret.icns");
    struct Case {
        std::string target, err;
    };
    for (const auto& c : std::vector<Case>{
             {sandbox.dir() + "/Gone.app", "Error: App not found: " + sandbox.dir() + "/Gone.app\n"},
             {noPlist, "Error: Cannot read Info.plist for Bare\n"},
             {sandbox.rootPath("/Applications/NoIcon.app"), "Error: No CFBundleIconFile in NoIcon\n"},
             {noIcns, "Error: Icon file not found: " + noIcns + "/Contents/Resources/Missing.icns\n"},
             {climbing, "Error: Icon file not found: " + climbing +
                            "/Contents/Resources/../../../../../outside/secret.icns\n"},
             {linked, "Error: Icon file not found: " + linked + "/Contents/Resources/AppIcon.icns\n"},
         }) {
        auto result = sandbox.run({"escape-jail", c.target});
        EXPECT_EQ(result.status, 1) << c.target;
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.out, "");
    }
    sandbox.writeFile(sandbox.bin() + "/helper.status", "3");
    auto failed = sandbox.run({"escape-jail", sandbox.rootPath("/Applications/Good.app")});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "Error: Exit code 3: helper failed\n");
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(sandbox.loggedCalls("sudo.log").size(), 1u);
}

TEST_F(EscapeJail, ATargetThatIsNotABundleIsAUsageError) {
    for (const std::string& target : {sandbox.rootPath("/Applications"), sandbox.dir() + "/tmp"}) {
        auto result = sandbox.run({"escape-jail", target});
        EXPECT_EQ(result.status, 64);
        EXPECT_EQ(result.err.rfind(
                      "Error: Target must be an .app bundle: " + target + "\nUsage: mivora escape-jail", 0),
                  0u)
            << result.err;
    }
    EXPECT_TRUE(sandbox.loggedCalls("sudo.log").empty());
}

TEST_F(EscapeJail, ATrailingSlashStillNamesTheBundle) {
    std::string bundle = addBundle("Notes");
    auto result = sandbox.run({"escape-jail", bundle + "/"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "✓ Escaped squircle jail for Notes\n");
    EXPECT_EQ(sandbox.loggedCalls("helper.log"), (Calls{helperCall(bundle, "AppIcon.icns")}));
}

// The batch fixture: every kind of bundle /Applications can hold.
class EscapeJailBatch : public EscapeJail {
protected:
    void SetUp() override {
        EscapeJail::SetUp();
        arc = addBundle("Arc");
        beta = addBundle("Beta");
        markCustomIcon(beta, true, false); // flag without the Icon file: processed
        cal = addBundle("Cal");
        markCustomIcon(cal, false, true); // Icon file without the flag: processed
        addBundle("Dock", std::nullopt);  // icon only in an asset catalog: failed
        missing = addBundle("Missing", "Gone", false);
        std::string zed = addBundle("Zed");
        markCustomIcon(zed, true, true); // a real custom icon: skipped
        // A link to a bundle with a custom icon is tested through the link.
        std::string elsewhere = addBundle("Linked", "AppIcon", true, sandbox.dir() + "/elsewhere");
        markCustomIcon(elsewhere, true, true);
        platform::createSymbolicLink(sandbox.rootPath("/Applications/Linked.app"), elsewhere);
        notes = addBundle("notes"); // lower case sorts after every capital
        sandbox.writeFile(sandbox.rootPath("/Applications/readme.txt"), "not a bundle");
        addBundle("Home", "AppIcon", true, sandbox.homePath("Applications")); // never scanned
    }

    std::string arc, beta, cal, missing, notes;
};

TEST_F(EscapeJailBatch, PrintsOneLinePerSuccessThenTheSummary) {
    auto result = sandbox.run({"escape-jail"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "✓ Escaped squircle jail for Arc\n"
                          "✓ Escaped squircle jail for Beta\n"
                          "✓ Escaped squircle jail for Cal\n"
                          "✓ Escaped squircle jail for notes\n"
                          "\n"
                          "4 escaped, 2 skipped, 2 failed\n");
    EXPECT_EQ(sandbox.loggedCalls("helper.log"),
              (Calls{helperCall(arc, "AppIcon.icns"), helperCall(beta, "AppIcon.icns"),
                     helperCall(cal, "AppIcon.icns"), helperCall(notes, "AppIcon.icns")}));
}

TEST_F(EscapeJailBatch, VerboseListsSkipsAndFailuresInNameOrder) {
    auto result = sandbox.run({"escape-jail", "--verbose"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "  ✓ Arc\n"
                          "  ✓ Beta\n"
                          "  ✓ Cal\n"
                          "  ✗ Dock.app — No CFBundleIconFile in Dock\n"
                          "  ⊘ Linked.app — already has custom icon\n"
                          "  ✗ Missing.app — Icon file not found: " +
                              missing +
                              "/Contents/Resources/Gone.icns\n"
                              "  ⊘ Zed.app — already has custom icon\n"
                              "  ✓ notes\n"
                              "\n"
                              "4 escaped, 2 skipped, 2 failed\n");
}

TEST_F(EscapeJailBatch, DryRunCountsWouldBeEscapesAndRunsNothing) {
    for (const auto& flags : std::vector<std::vector<std::string>>{{"-d"}, {"-d", "-v"}}) {
        std::vector<std::string> arguments = {"escape-jail"};
        arguments.insert(arguments.end(), flags.begin(), flags.end());
        auto result = sandbox.run(arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        std::string expected = "  → Would escape jail for Arc\n"
                               "  → Would escape jail for Beta\n"
                               "  → Would escape jail for Cal\n"
                               "  → Would escape jail for notes\n"
                               "\n"
                               "Dry run: 4 app(s) would escape jail, 2 skipped, 2 failed\n";
        if (flags.size() == 1)
            EXPECT_EQ(result.out, expected);
        else
            EXPECT_NE(result.out.find("  ✗ Dock.app — No CFBundleIconFile in Dock\n"), std::string::npos);
    }
    EXPECT_TRUE(sandbox.loggedCalls("sudo.log").empty());
}

TEST_F(EscapeJailBatch, AFailingHelperRunIsCountedAndTheBatchGoesOn) {
    // This helper refuses one bundle only.
    sandbox.writeScript(sandbox.rootPath("/usr/local/lib/mivora/helper.sh"),
                        "case \"$2\" in *Beta.app) echo 'Beta is locked' >&2; exit 5;; esac\n"
                        "printf '%s\\n' \"$2\" >> \"" +
                            sandbox.tmp() + "/done.log\"\n");
    auto result = sandbox.run({"escape-jail", "-v"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("  ✗ Beta.app — Exit code 5: Beta is locked\n  ✓ Cal\n"), std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.substr(result.out.rfind("\n\n")), "\n\n3 escaped, 2 skipped, 3 failed\n");
    EXPECT_EQ(*sandbox.readFile(sandbox.tmp() + "/done.log"), arc + "\n" + cal + "\n" + notes + "\n");
}

TEST(EscapeJailApplications, EscapedBundlesAreSkippedOnTheNextRun) {
    // The helper and icon program stand-ins really set the flag and the Icon file.
    Sandbox sandbox;
    sandbox.installFakeSudo();
    std::string folder = sandbox.rootPath("/usr/local/lib/mivora");
    platform::createDirectories(folder);
    platform::createSymbolicLink(folder + "/helper.sh", standinsDirectory() + "/helper.sh");
    platform::createSymbolicLink(folder + "/fileicon", standinsDirectory() + "/fileicon");
    for (const char* name : {"Arc", "Notes"}) {
        std::string bundle =
            sandbox.addApp({.name = name, .extraStrings = {{"CFBundleIconFile", "AppIcon"}}});
        sandbox.writeFile(bundle + "/Contents/Resources/AppIcon.icns", typicalIcns());
    }
    auto first = sandbox.run({"escape-jail"});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out.substr(first.out.rfind('\n', first.out.size() - 2) + 1),
              "2 escaped, 0 skipped, 0 failed\n");
    auto second = sandbox.run({"escape-jail", "-v"});
    EXPECT_EQ(second.out, "  ⊘ Arc.app — already has custom icon\n"
                          "  ⊘ Notes.app — already has custom icon\n"
                          "\n"
                          "0 escaped, 2 skipped, 0 failed\n");
}

TEST(EscapeJailApplications, AnUnreadableApplicationsFolderIsAnError) {
    Sandbox sandbox;
    sandbox.installFakeSudo();
    sandbox.installHelperFiles();
    platform::removeItem(sandbox.rootPath("/Applications"));
    auto result = sandbox.run({"escape-jail"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: Cannot read /Applications\n");
    // An empty one is fine: nothing to do.
    platform::createDirectories(sandbox.rootPath("/Applications"));
    auto empty = sandbox.run({"escape-jail"});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "\n0 escaped, 0 skipped, 0 failed\n");
}

} // namespace
} // namespace mivora::testing
