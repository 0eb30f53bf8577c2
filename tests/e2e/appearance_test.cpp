#include "platform/file_reading.h"
#include "platform/filesystem.h"
#include "platform/property_list.h"
#include "support/icons_driver.h"
#include "support/sandbox.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

namespace mivora::testing {
namespace {

using platform::Plist;

const std::string kScript =
    "tell application \"System Events\" to tell appearance preferences to set dark mode to ";

std::string globalPreferencesPath(const Sandbox& sandbox) {
    return sandbox.homePath("Library/Preferences/.GlobalPreferences.plist");
}

void writeInterfaceStyle(const Sandbox& sandbox, std::optional<Plist> style) {
    auto preferences = Plist::dictionary();
    preferences.set("AppleLocale", Plist::string("en_GB"));
    preferences.set("AppleMiniaturizeOnDoubleClick", Plist::boolean(false));
    preferences.set("com.apple.sound.beep.volume", Plist::real(0.6065));
    preferences.set("NSUserDictionaryReplacementItems", Plist::array());
    preferences.set("AppleLanguagesSchemaVersion", Plist::integer(-3));
    preferences.set("Blob", Plist::data(std::string("\0\1\2", 3)));
    if (style) preferences.set("AppleInterfaceStyle", std::move(*style));
    sandbox.writePlist(globalPreferencesPath(sandbox), preferences);
}

std::optional<Plist> globalPreferences(const Sandbox& sandbox) {
    return platform::readPropertyListDictionary(globalPreferencesPath(sandbox), testing::kTestReadLimit);
}

std::string appearance(const Sandbox& sandbox) {
    auto result = runIconsDriver(sandbox, {"current-appearance"});
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
}

// An osascript on PATH that records its arguments and exits with `status`.
void installOsascript(const Sandbox& sandbox, int status) {
    sandbox.writeScript(sandbox.bin() + "/osascript", "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"" +
                                                          sandbox.tmp() +
                                                          "/osascript.log\"; done\n"
                                                          "printf '%s\\n' -- >> \"" +
                                                          sandbox.tmp() +
                                                          "/osascript.log\"\n"
                                                          "exit " +
                                                          std::to_string(status) + "\n");
}

std::string skyLightLog(const Sandbox& sandbox) {
    return sandbox.readFile(sandbox.tmp() + "/skylight.log").value_or("");
}

TEST(Appearance, ReadFromTheInterfaceStyle) {
    struct Case {
        const char* what;
        std::optional<Plist> style;
        const char* expected;
    } cases[] = {
        {"absent", std::nullopt, "light\n"},
        {"Dark", Plist::string("Dark"), "dark\n"},
        {"any letter case, anywhere in the text", Plist::string("MidnightDaRKish"), "dark\n"},
        {"Light", Plist::string("Light"), "light\n"},
        {"not a text", Plist::integer(1), "light\n"},
        {"data", Plist::data("Dark"), "light\n"},
    };
    for (auto& c : cases) {
        Sandbox sandbox;
        writeInterfaceStyle(sandbox, std::move(c.style));
        EXPECT_EQ(appearance(sandbox), c.expected) << c.what;
    }
    Sandbox empty;
    EXPECT_EQ(appearance(empty), "light\n") << "no preference file";
    empty.writeFile(globalPreferencesPath(empty), "<plist><dict><key>AppleInterfaceStyle</key>");
    EXPECT_EQ(appearance(empty), "light\n") << "unreadable file";
    EXPECT_EQ(empty.readFile(globalPreferencesPath(empty)), "<plist><dict><key>AppleInterfaceStyle</key>")
        << "reading never rewrites";
}

TEST(Appearance, EffectiveSkyLightIsTheOnlyTierThatRuns) {
    Sandbox sandbox;
    installSkyLight(sandbox, effectiveSkyLightLibrary());
    installOsascript(sandbox, 0);
    ASSERT_EQ(runIconsDriver(sandbox, {"set-dark-mode", "dark"}).status, 0);
    EXPECT_EQ(skyLightLog(sandbox), "dark\n");
    EXPECT_EQ(appearance(sandbox), "dark\n");
    ASSERT_EQ(runIconsDriver(sandbox, {"set-dark-mode", "light"}).status, 0);
    EXPECT_EQ(skyLightLog(sandbox), "dark\nlight\n");
    EXPECT_EQ(appearance(sandbox), "light\n");
    EXPECT_TRUE(sandbox.loggedCalls("osascript.log").empty());
}

TEST(Appearance, SkyLightWithoutEffectFallsThroughToAppleScript) {
    Sandbox sandbox;
    installSkyLight(sandbox, inertSkyLightLibrary());
    installOsascript(sandbox, 0); // succeeds without changing anything
    writeInterfaceStyle(sandbox, Plist::string("Dark"));
    ASSERT_EQ(runIconsDriver(sandbox, {"set-dark-mode", "light"}).status, 0);
    writeInterfaceStyle(sandbox, std::nullopt);
    auto before = sandbox.readFile(globalPreferencesPath(sandbox));
    ASSERT_EQ(runIconsDriver(sandbox, {"set-dark-mode", "dark"}).status, 0);
    EXPECT_EQ(skyLightLog(sandbox), "light\ndark\n");
    EXPECT_EQ(sandbox.loggedCalls("osascript.log"),
              (std::vector<std::vector<std::string>>{{"-e", kScript + "false"}, {"-e", kScript + "true"}}));
    EXPECT_EQ(sandbox.readFile(globalPreferencesPath(sandbox)), before)
        << "the script succeeded: no preference write";

    // Already in the requested appearance: the switch counts as done.
    ASSERT_EQ(runIconsDriver(sandbox, {"set-dark-mode", "light"}).status, 0);
    EXPECT_EQ(sandbox.loggedCalls("osascript.log").size(), 2u);
}

TEST(Appearance, FailedAppleScriptFallsThroughToThePreferenceWrite) {
    Sandbox sandbox; // no SkyLight framework at all
    installOsascript(sandbox, 1);
    writeInterfaceStyle(sandbox, std::nullopt);
    auto before = globalPreferences(sandbox);

    ASSERT_EQ(runIconsDriver(sandbox, {"set-dark-mode", "dark"}).status, 0);
    EXPECT_EQ(sandbox.loggedCalls("osascript.log").size(), 1u);
    auto dark = globalPreferences(sandbox);
    ASSERT_TRUE(dark);
    EXPECT_EQ(dark->view()["AppleInterfaceStyle"].string(), "Dark");
    EXPECT_EQ(sandbox.readFile(globalPreferencesPath(sandbox))->substr(0, 8), "bplist00");

    ASSERT_EQ(runIconsDriver(sandbox, {"set-dark-mode", "light"}).status, 0);
    auto light = globalPreferences(sandbox);
    EXPECT_FALSE(light->view()["AppleInterfaceStyle"]);
    EXPECT_EQ(light->toXML(), before->toXML()) << "every other value comes back unchanged";
}

TEST(Appearance, PreferenceWriteKeepsAnUnreadableFileAside) {
    Sandbox sandbox;
    installOsascript(sandbox, 1);
    sandbox.writeFile(globalPreferencesPath(sandbox), "garbage");
    ASSERT_EQ(runIconsDriver(sandbox, {"set-dark-mode", "dark"}).status, 0);
    EXPECT_EQ(appearance(sandbox), "dark\n");
    auto kept =
        namesStartingWith(sandbox.homePath("Library/Preferences"), ".GlobalPreferences.plist.unreadable-");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(sandbox.readFile(sandbox.homePath("Library/Preferences/" + kept[0])), "garbage");

    // Removing a value that is not there writes nothing.
    Sandbox untouched;
    installOsascript(untouched, 1);
    ASSERT_EQ(runIconsDriver(untouched, {"set-dark-mode", "light"}).status, 0);
    EXPECT_FALSE(platform::fileExists(globalPreferencesPath(untouched)));
}

TEST(Appearance, FinderIsRestartedOnlyWhileItRuns) {
    Sandbox sandbox;
    installRecordingProgram(sandbox, "/usr/bin/killall", "killall.log");
    ASSERT_EQ(runIconsDriver(sandbox, {"restart-dock-and-finder"}).status, 0);
    EXPECT_EQ(sandbox.loggedCalls("killall.log"), (std::vector<std::vector<std::string>>{{"Dock"}}));

    // Another application running does not count; Finder does.
    auto launch = [&](const std::string& name, const std::string& folder, const std::string& id) {
        std::string bundle =
            sandbox.addApp({.name = name, .folder = sandbox.rootPath(folder), .bundleId = id});
        std::string executable = bundle + "/Contents/MacOS/" + name;
        platform::copyFile("/bin/sleep", executable, platform::read_limits::executable);
        ::chmod(executable.c_str(), 0755);
        return std::make_unique<BackgroundProcess>(sandbox, std::vector<std::string>{executable, "30"});
    };
    auto other = launch("Preview", "/System/Applications", "com.apple.Preview");
    ASSERT_EQ(runIconsDriver(sandbox, {"restart-dock-and-finder"}).status, 0);
    EXPECT_EQ(sandbox.loggedCalls("killall.log").size(), 2u);

    auto finder = launch("Finder", "/System/Library/CoreServices", "com.apple.finder");
    ASSERT_EQ(runIconsDriver(sandbox, {"restart-dock-and-finder"}).status, 0);
    EXPECT_EQ(sandbox.loggedCalls("killall.log"),
              (std::vector<std::vector<std::string>>{{"Dock"}, {"Dock"}, {"Dock"}, {"Finder"}}));
}

TEST(Appearance, MissingKillallIsNoError) {
    Sandbox sandbox;
    auto result = runIconsDriver(sandbox, {"restart-dock-and-finder"});
    EXPECT_EQ(result.status, 0) << result.err;
}

TEST(Appearance, RefreshStartedInDarkFlipsToLightAndEndsInDark) {
    Sandbox sandbox;
    installSkyLight(sandbox, effectiveSkyLightLibrary());
    installRecordingProgram(sandbox, "/usr/bin/killall", "killall.log");
    writeInterfaceStyle(sandbox, Plist::string("Dark"));
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(runIconsDriver(sandbox, {"refresh"}).status, 0);
    auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(elapsed, 2.0);
    EXPECT_LT(elapsed, 6.0);
    EXPECT_EQ(skyLightLog(sandbox), "light\ndark\n");
    EXPECT_EQ(appearance(sandbox), "dark\n");
    EXPECT_EQ(sandbox.loggedCalls("killall.log"), (std::vector<std::vector<std::string>>{{"Dock"}}));
}

TEST(Appearance, SystemEventsStandInWritesTheInterfaceStyle) {
    Sandbox sandbox;
    writeInterfaceStyle(sandbox, std::nullopt);
    auto run = [&](const std::string& script) { return runIconsDriver(sandbox, {"system-events", script}); };
    EXPECT_EQ(run("  " + kScript + "true\n").status, 0);
    EXPECT_EQ(appearance(sandbox), "dark\n");
    EXPECT_EQ(globalPreferences(sandbox)->view()["AppleLocale"].string(), "en_GB");
    EXPECT_EQ(run(kScript + "false").status, 0);
    EXPECT_EQ(appearance(sandbox), "light\n");
    for (const std::string& other :
         {kScript + "maybe", kScript + "True", std::string("tell application \"Finder\" to quit")}) {
        auto result = run(other);
        EXPECT_EQ(result.out, "not handled\n") << other;
    }
}

} // namespace
} // namespace mivora::testing
