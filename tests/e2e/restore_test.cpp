// restore: cached icons put back through a recording sudo and helper, the
// image chosen by the appearance of the moment, and a batch that goes on past
// entries it cannot restore.
#include "platform/filesystem.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_fixtures.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

using Calls = std::vector<std::vector<std::string>>;

class Restore : public ::testing::Test {
protected:
    void SetUp() override {
        sandbox.installFakeSudo();
        sandbox.installHelperFiles();
    }

    // An entry for an existing bundle whose cached image exists too.
    FixtureCacheEntry entry(const std::string& name, std::optional<std::string> dark = {},
                            const std::string& folder = "") const {
        std::string path = sandbox.addApp({.name = name, .folder = folder});
        return {.appPath = path, .appName = name, .iconFileName = name + "-light.png", .darkIconFileName = dark};
    }

    void store(const std::vector<FixtureCacheEntry>& entries) const {
        writeIconCache(sandbox, entries);
        writeCachedImages(sandbox, entries);
    }

    std::vector<std::string> helperCall(const std::string& appPath, const std::string& image) const {
        return {sandbox.rootPath("/usr/local/lib/mivora/fileicon"), appPath, cachedImage(sandbox, image)};
    }

    void clearLogs() const {
        platform::removeItemQuietly(sandbox.tmp() + "/sudo.log");
        platform::removeItemQuietly(sandbox.tmp() + "/helper.log");
    }

    Sandbox sandbox;
};

TEST_F(Restore, NothingCachedIsReportedBeforeTheHelperFilesAreLookedFor) {
    struct Case {
        std::string name;
        std::optional<std::string> cacheFile;
    };
    for (const auto& c : std::vector<Case>{{"no cache file", std::nullopt},
                                           {"an empty cache", "{}"},
                                           {"a cache file that is not JSON", "{\"/A.app\": "},
                                           {"an entry without its name", R"({"/A.app":{"appPath":"/A.app",)"
                                                                         R"("iconFileName":"a.png","timestamp":1}})"}}) {
        Sandbox bare; // no helper files at all
        bare.installFakeSudo();
        if (c.cacheFile) bare.writeFile(iconCacheFile(bare), *c.cacheFile);
        for (const auto& arguments : std::vector<std::vector<std::string>>{{"restore"}, {"restore", "zzz", "-d"}}) {
            auto result = bare.run(arguments);
            EXPECT_EQ(result.status, 0) << c.name << result.err;
            EXPECT_EQ(result.out, "No cached icons to restore.\n") << c.name;
            EXPECT_EQ(result.err, "") << c.name;
        }
        EXPECT_TRUE(bare.loggedCalls("sudo.log").empty());
    }
}

TEST_F(Restore, AnUndecodableCacheFileFallsBackToTheDesktopApplicationsCopy) {
    auto notes = entry("Notes");
    writeCachedImages(sandbox, {notes});
    sandbox.writeFile(iconCacheFile(sandbox), "not json");
    writeAppDefaults(sandbox, {{"com.mivora.cachedIcons", iconCacheJson({notes}).dump()}});
    auto result = sandbox.run({"restore"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "\n1 restored, 0 failed, 0 skipped\n");
    EXPECT_EQ(sandbox.loggedCalls("helper.log"), (Calls{helperCall(notes.appPath, "Notes-light.png")}));
    EXPECT_EQ(sandbox.readFile(iconCacheFile(sandbox)), "not json"); // read, never written
}

TEST_F(Restore, MissingHelperFilesStopTheRunBeforeAnyEntry) {
    auto notes = entry("Notes");
    for (auto [helper, fileicon] : {std::pair{false, true}, std::pair{true, false}}) {
        Sandbox bare;
        bare.installFakeSudo();
        bare.installHelperFiles(helper, fileicon);
        writeIconCache(bare, {notes});
        for (const auto& arguments : std::vector<std::vector<std::string>>{{"restore"}, {"restore", "zzz"}}) {
            auto result = bare.run(arguments);
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, "Error: Helper files not found. Run the Mivora app to complete setup first.\n");
        }
        EXPECT_TRUE(bare.loggedCalls("sudo.log").empty());
    }
}

TEST_F(Restore, TargetMatchesTheNameOrElseThePathInAnyCase) {
    auto notion = entry("Notion");
    auto tool = entry("Tool", {}, sandbox.homePath("NoteKeeper"));
    auto arc = entry("Arc");
    store({notion, tool, arc});
    auto notionCall = helperCall(notion.appPath, "Notion-light.png");
    auto toolCall = helperCall(tool.appPath, "Tool-light.png");
    struct Case {
        std::string target;
        Calls calls;
    };
    for (const auto& c : std::vector<Case>{
             {"note", {toolCall}}, // "Notion" does not hold "note"; the path of Tool does
             {"NOTE", {toolCall}},
             {"nOtI", {notionCall}},
             {"notekeeper/TOOL.app", {toolCall}},
             {".APP", {helperCall(arc.appPath, "Arc-light.png"), notionCall, toolCall}},
         }) {
        clearLogs();
        auto result = sandbox.run({"restore", c.target});
        EXPECT_EQ(result.status, 0) << c.target << result.err;
        EXPECT_EQ(result.out, "\n" + std::to_string(c.calls.size()) + " restored, 0 failed, 0 skipped\n");
        EXPECT_EQ(sandbox.loggedCalls("helper.log"), c.calls) << c.target;
    }
}

TEST_F(Restore, ATargetThatMatchesNothingIsAUsageError) {
    store({entry("Notion")});
    for (const std::string target : {"zzz", "Notion's"}) {
        auto result = sandbox.run({"restore", target, "--dry-run"});
        EXPECT_EQ(result.status, 64);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("Error: No cached icon found matching '" + target + "'\nUsage: mivora restore", 0),
                  0u)
            << result.err;
    }
    EXPECT_TRUE(sandbox.loggedCalls("sudo.log").empty());
}

TEST_F(Restore, TheDarkImageIsUsedOnlyWhileTheSystemIsDark) {
    auto both = entry("Both", "Both-dark.png");
    auto lightOnly = entry("Plain");
    store({both, lightOnly});
    struct Case {
        std::optional<bool> dark; // nothing: no preference file at all
        std::string bothImage;
    };
    for (const auto& c : std::vector<Case>{{std::nullopt, "Both-light.png"},
                                           {false, "Both-light.png"},
                                           {true, "Both-dark.png"}}) {
        clearLogs();
        if (c.dark) setDarkAppearance(sandbox, *c.dark);
        auto result = sandbox.run({"restore"});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(sandbox.loggedCalls("helper.log"),
                  (Calls{helperCall(both.appPath, c.bothImage), helperCall(lightOnly.appPath, "Plain-light.png")}));
    }
}

TEST_F(Restore, HelperRunsThroughSudoWithoutAPasswordPrompt) {
    auto notes = entry("Notes");
    store({notes});
    auto result = sandbox.run({"restore"});
    EXPECT_EQ(result.status, 0) << result.err;
    auto sudo = sandbox.loggedCalls("sudo.log");
    ASSERT_EQ(sudo.size(), 1u);
    EXPECT_EQ(sudo[0], (std::vector<std::string>{"-n", sandbox.rootPath("/usr/local/lib/mivora/helper.sh"),
                                                 sandbox.rootPath("/usr/local/lib/mivora/fileicon"), notes.appPath,
                                                 cachedImage(sandbox, "Notes-light.png")}));
}

// One entry of every kind, in a cache whose path order differs from name order.
class RestoreBatch : public Restore {
protected:
    void SetUp() override {
        Restore::SetUp();
        arc = entry("arc", {}, sandbox.homePath("A"));
        zed = entry("Zed", {}, sandbox.homePath("B"));
        mail = entry("Mail", {}, sandbox.homePath("C"));
        FixtureCacheEntry gone{.appPath = sandbox.rootPath("/Applications/Gone.app"), .appName = "Gone",
                               .iconFileName = "Gone.png"}; // its image is still there
        writeCachedImages(sandbox, {arc, zed, mail, gone});
        writeIconCache(sandbox, {arc, zed, mail, gone, entry("NoImage")});
    }

    FixtureCacheEntry arc, zed, mail;
};

TEST_F(RestoreBatch, ProcessesByNameCapitalsFirstAndPrintsOnlyTheSummary) {
    auto result = sandbox.run({"restore"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "\n3 restored, 0 failed, 2 skipped\n");
    EXPECT_EQ(sandbox.loggedCalls("helper.log"),
              (Calls{helperCall(mail.appPath, "Mail-light.png"), helperCall(zed.appPath, "Zed-light.png"),
                     helperCall(arc.appPath, "arc-light.png")}));
}

TEST_F(RestoreBatch, VerboseNamesEverySkipAndFailureAndTheBatchGoesOn) {
    // This helper refuses one bundle only.
    sandbox.writeScript(sandbox.rootPath("/usr/local/lib/mivora/helper.sh"),
                        "case \"$2\" in */Mail.app) echo 'Mail is locked' >&2; exit 5;; esac\n"
                        "printf '%s\\n' \"$2\" >> \"" +
                            sandbox.tmp() + "/done.log\"\n");
    auto result = sandbox.run({"restore", "-v"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "  ⊘ Gone — app not found at " + sandbox.rootPath("/Applications/Gone.app") +
                              "\n"
                              "  ✗ Mail — Exit code 5: Mail is locked\n"
                              "  ⊘ NoImage — cached icon file missing\n"
                              "  ✓ Zed\n"
                              "  ✓ arc\n"
                              "\n"
                              "2 restored, 1 failed, 2 skipped\n");
    EXPECT_EQ(sandbox.readFile(sandbox.tmp() + "/done.log"), zed.appPath + "\n" + arc.appPath + "\n");
}

TEST_F(RestoreBatch, DryRunRunsNothingAndCountsWouldBeRestores) {
    struct Case {
        std::vector<std::string> arguments;
        std::string out;
    };
    const std::string summary = "\nDry run: 3 icon(s) would be restored, 2 skipped\n";
    const std::string wouldRestore =
        "  → Would restore Mail\n  → Would restore Zed\n  → Would restore arc\n";
    for (const auto& c : std::vector<Case>{
             {{"restore", "-d"}, wouldRestore + summary},
             {{"restore", "--dry-run", "--verbose"},
              "  ⊘ Gone — app not found at " + sandbox.rootPath("/Applications/Gone.app") +
                  "\n  → Would restore Mail\n  ⊘ NoImage — cached icon file missing\n"
                  "  → Would restore Zed\n  → Would restore arc\n" + summary},
             {{"restore", "-d", "gone"}, "\nDry run: 0 icon(s) would be restored, 1 skipped\n"},
         }) {
        auto result = sandbox.run(c.arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, c.out);
    }
    EXPECT_TRUE(sandbox.loggedCalls("sudo.log").empty());
}

TEST_F(Restore, ApostrophesAndBlanksInPathsReachTheHelperIntact) {
    auto bob = entry("Bob's App", {}, sandbox.homePath("it's here"));
    bob.iconFileName = "Bob's \"light\" $HOME.png";
    store({bob});
    auto result = sandbox.run({"restore", "-v", "bob's"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "  ✓ Bob's App\n\n1 restored, 0 failed, 0 skipped\n");
    EXPECT_EQ(sandbox.loggedCalls("helper.log"), (Calls{helperCall(bob.appPath, bob.iconFileName)}));
}

TEST_F(Restore, EntriesPointingAtMissingOrUnreadableFilesAreReportedAndTheRestRestored) {
    // The helper and icon-program stand-ins really read the image and set the icon.
    Sandbox real;
    real.installFakeSudo();
    std::string folder = real.rootPath("/usr/local/lib/mivora");
    platform::createDirectories(folder);
    platform::createSymbolicLink(folder + "/helper.sh", standinsDirectory() + "/helper.sh");
    platform::createSymbolicLink(folder + "/fileicon", standinsDirectory() + "/fileicon");

    auto app = [&](const std::string& name, const std::string& image) {
        return FixtureCacheEntry{.appPath = real.addApp({.name = name}), .appName = name, .iconFileName = image};
    };
    auto good = app("Good", "good.png");
    auto folderImage = app("Folder", "folder.png"); // a folder where the image should be
    auto emptyImage = app("Empty", "empty.png");
    auto dangling = app("Dangling", "dangling.png"); // a link to nothing
    auto outside = app("Outside", "../outside.png"); // a name that leaves the cache folder
    FixtureCacheEntry noApp{.appPath = real.rootPath("/Applications/Deleted.app"), .appName = "Deleted",
                            .iconFileName = "good.png"};
    writeIconCache(real, {good, folderImage, emptyImage, dangling, outside, noApp});
    const std::string png = solidPNG(16, 16, kIconRed);
    real.writeFile(cachedImage(real, "good.png"), png);
    platform::createDirectories(cachedImage(real, "folder.png"));
    real.writeFile(cachedImage(real, "empty.png"), "");
    platform::createSymbolicLink(cachedImage(real, "dangling.png"), real.dir() + "/nowhere.png");
    real.writeFile(cachedImage(real, "../outside.png"), "png bytes outside the cache");

    auto result = real.run({"restore", "--verbose"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "  ⊘ Dangling — cached icon file missing\n"
                          "  ⊘ Deleted — app not found at " +
                              noApp.appPath +
                              "\n"
                              "  ✗ Empty — Exit code 1: fileicon: not an image: " +
                              cachedImage(real, "empty.png") +
                              ": empty file\n"
                              "  ✗ Folder — Exit code 1: helper.sh: not an icon file: " +
                              cachedImage(real, "folder.png") +
                              "\n"
                              "  ✓ Good\n"
                              "  ⊘ Outside — cached icon file missing\n"
                              "\n"
                              "1 restored, 2 failed, 3 skipped\n");
    EXPECT_EQ(real.readFile(good.appPath + "/Icon\r"), png);
    EXPECT_FALSE(platform::fileExists(outside.appPath + "/Icon\r"));
    EXPECT_EQ(real.loggedCalls("sudo.log").size(), 3u);
}

} // namespace
} // namespace mivora::testing
