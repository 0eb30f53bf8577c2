// status: the helper files, the sudo rule (through a fake `sudo -n -l`), the
// counts of aliases and cached icons, and the locations, as text and as JSON.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/json.h"
#include "platform/filesystem.h"
#include "support/icon_cache_fixture.h"
#include "support/sandbox.h"

namespace mivora::testing {
namespace {

using core::Json;

const std::string kHelperRule = "User me may run the following commands on this host:\n"
                                "    (root) NOPASSWD: /usr/local/lib/mivora/helper.sh\n";

class Status : public ::testing::Test {
protected:
    void SetUp() override { sandbox.installFakeSudo(); }

    void allowHelper(const std::string& rules = kHelperRule) const {
        sandbox.writeFile(sandbox.bin() + "/sudo.rules", rules);
    }

    std::string configDir() const {
        return sandbox.homePath("Library/Application Support/com.quartelmisko.Mivora/config");
    }
    std::string cacheDir() const { return cachedImagesFolder(sandbox); }
    std::string helper() const { return sandbox.rootPath("/usr/local/lib/mivora/helper.sh"); }
    std::string fileicon() const { return sandbox.rootPath("/usr/local/lib/mivora/fileicon"); }
    std::string appDefaults() const { return sandbox.homePath("Library/Preferences/com.quartelmisko.Mivora.plist"); }

    Json statusJson(const std::vector<std::string>& flags = {"--json"}) const {
        std::vector<std::string> arguments = {"status"};
        arguments.insert(arguments.end(), flags.begin(), flags.end());
        auto result = sandbox.run(arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        return Json::parse(result.out);
    }

    Sandbox sandbox;
};

TEST_F(Status, ReadyMachineInFullWithPaths) {
    sandbox.installHelperFiles();
    allowHelper();
    writeAliases(sandbox, {{"Arc", "Browser"}, {"Notion", "Notes"}});
    writeIconCache(sandbox, {{.appPath = "/Applications/Arc.app", .appName = "Arc", .iconFileName = "a.png"}});
    auto result = sandbox.run({"status", "-v"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Mivora CLI Status\n"
                          "──────────────────────\n"
                          "  Helper files:  ✓ Installed\n"
                          "  Sudo access:   ✓ Configured\n"
                          "  Aliases:       2\n"
                          "  Cached icons:  1\n"
                          "  Setup:         ✓ Ready\n"
                          "\n"
                          "Paths:\n"
                          "  Config dir:    " + configDir() + "\n"
                          "  Cache dir:     " + cacheDir() + "\n"
                          "  Helper:        " + helper() + " ✓\n"
                          "  Fileicon:      " + fileicon() + " ✓\n"
                          "  App defaults:  " + appDefaults() + " ✓\n");
    EXPECT_EQ(result.err, "");
    // Looking the two folders up makes them.
    EXPECT_TRUE(platform::isDirectory(configDir()));
    EXPECT_TRUE(platform::isDirectory(cacheDir()));
    // Nothing ran but the probe.
    EXPECT_EQ(sandbox.loggedCalls("sudo.log"), (std::vector<std::vector<std::string>>{{"-n", "-l"}}));
}

TEST_F(Status, EachMissingPieceShowsAndSetupIsNotReady) {
    struct Case {
        std::string name;
        bool helperFile, fileiconFile;
        std::optional<std::string> rules; // nothing: sudo asks for a password
        std::string helperLine, sudoLine, setupLine;
        std::string helperMark, fileiconMark;
    };
    const std::string installed = "✓ Installed", missing = "✗ Missing";
    const std::string configured = "✓ Configured", notConfigured = "✗ Not configured";
    const std::string ready = "✓ Ready", notReady = "✗ Run Mivora app to complete setup";
    for (const auto& c : std::vector<Case>{
             {"only the helper script", true, false, kHelperRule, missing, configured, notReady, "✓", "✗"},
             {"only fileicon", false, true, kHelperRule, missing, configured, notReady, "✗", "✓"},
             {"neither file", false, false, kHelperRule, missing, configured, notReady, "✗", "✗"},
             {"password asked", true, true, std::nullopt, installed, notConfigured, notReady, "✓", "✓"},
             {"rules without the helper", true, true, "    (ALL) ALL\n    (root) NOPASSWD: /usr/bin/true\n",
              installed, notConfigured, notReady, "✓", "✓"},
             {"rule naming the helper elsewhere", true, true, "    (root) NOPASSWD: /opt/x/helper.sh *\n",
              installed, configured, ready, "✓", "✓"},
         }) {
        Sandbox fresh;
        fresh.installFakeSudo();
        fresh.installHelperFiles(c.helperFile, c.fileiconFile);
        if (c.rules) fresh.writeFile(fresh.bin() + "/sudo.rules", *c.rules);
        auto result = fresh.run({"status", "--verbose"});
        EXPECT_EQ(result.status, 0) << c.name << result.err;
        EXPECT_EQ(result.err, "") << c.name;
        const std::string& out = result.out;
        EXPECT_NE(out.find("\n  Helper files:  " + c.helperLine + "\n"), std::string::npos) << c.name << out;
        EXPECT_NE(out.find("\n  Sudo access:   " + c.sudoLine + "\n"), std::string::npos) << c.name << out;
        EXPECT_NE(out.find("\n  Setup:         " + c.setupLine + "\n"), std::string::npos) << c.name << out;
        EXPECT_NE(out.find("\n  Helper:        " + fresh.rootPath("/usr/local/lib/mivora/helper.sh") + " " +
                           c.helperMark + "\n"),
                  std::string::npos)
            << c.name << out;
        EXPECT_NE(out.find("\n  Fileicon:      " + fresh.rootPath("/usr/local/lib/mivora/fileicon") + " " +
                           c.fileiconMark + "\n"),
                  std::string::npos)
            << c.name << out;
    }
}

TEST_F(Status, WithoutVerboseThePathsAreLeftOutAndNothingStoredCountsAsZero) {
    auto result = sandbox.run({"status"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Mivora CLI Status\n"
                          "──────────────────────\n"
                          "  Helper files:  ✗ Missing\n"
                          "  Sudo access:   ✗ Not configured\n"
                          "  Aliases:       0\n"
                          "  Cached icons:  0\n"
                          "  Setup:         ✗ Run Mivora app to complete setup\n");
    // No preference file: the verbose line marks it missing.
    auto verbose = sandbox.run({"status", "-v"});
    EXPECT_NE(verbose.out.find("  App defaults:  " + appDefaults() + " ✗\n"), std::string::npos) << verbose.out;
}

TEST_F(Status, AFailingOrStrangeSudoIsANo) {
    sandbox.installHelperFiles();
    struct Case {
        std::string name, script;
    };
    for (const auto& c : std::vector<Case>{
             {"sudo printing the rule on its error stream only", "echo '(root) NOPASSWD: helper.sh' >&2; exit 0\n"},
             {"sudo that is not a program", ""},
         }) {
        sandbox.writeScript(sandbox.bin() + "/sudo", c.script);
        if (c.script.empty()) ::chmod((sandbox.bin() + "/sudo").c_str(), 0644);
        auto json = statusJson();
        EXPECT_EQ(json["sudoConfigured"], false) << c.name;
        EXPECT_EQ(json["setupReady"], false) << c.name;
    }
}

TEST_F(Status, JsonHoldsEveryKeyWithOrWithoutVerbose) {
    sandbox.installHelperFiles(true, false);
    allowHelper();
    // The cache is taken from the desktop application's copy when the file is not readable as a cache.
    platform::createDirectories(iconCacheFile(sandbox));
    writeAppDefaults(sandbox,
                     {{"AliasName", R"({"Arc":"Browser","Mail":"Post"})"},
                      {"com.mivora.cachedIcons",
                       iconCacheJson({{.appPath = "/A.app", .appName = "A", .iconFileName = "a.png"},
                                      {.appPath = "/B.app", .appName = "B", .iconFileName = "b.png"}})
                           .dump()}});
    auto result = sandbox.run({"status", "--json"});
    EXPECT_EQ(result.status, 0) << result.err;
    Json expected = {{"aliases", 2},
                     {"cachedIcons", 2},
                     {"helperFilesInstalled", false},
                     {"paths",
                      {{"appDefaults", appDefaults()},
                       {"cacheDir", cacheDir()},
                       {"configDir", configDir()},
                       {"fileicon", fileicon()},
                       {"helperScript", helper()}}},
                     {"setupReady", false},
                     {"sudoConfigured", true}};
    EXPECT_EQ(Json::parse(result.out), expected);
    // Pretty, with sorted keys, one document.
    EXPECT_EQ(result.out.rfind("{\n  \"aliases\" : 2,\n  \"cachedIcons\" : 2,\n  \"helperFilesInstalled\" : false,\n"
                               "  \"paths\" : {\n    \"appDefaults\" : ",
                               0),
              0u)
        << result.out;
    for (const auto& flags : std::vector<std::vector<std::string>>{{"--json", "--verbose"}, {"-v", "--json"}}) {
        std::vector<std::string> arguments = {"status"};
        arguments.insert(arguments.end(), flags.begin(), flags.end());
        EXPECT_EQ(sandbox.run(arguments).out, result.out);
    }
}

} // namespace
} // namespace mivora::testing
