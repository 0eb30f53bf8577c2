// refresh-dock: the appearance nudge and the Dock/Finder restart on demand.
#include "platform/property_list.h"
#include "support/icons_driver.h"
#include "support/sandbox.h"

#include <chrono>
#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

using platform::Plist;

void setDark(const Sandbox& sandbox, bool dark) {
    auto preferences = Plist::dictionary();
    if (dark) preferences.set("AppleInterfaceStyle", Plist::string("Dark"));
    sandbox.writePlist(sandbox.homePath("Library/Preferences/.GlobalPreferences.plist"), preferences, true);
}

std::optional<std::string> interfaceStyle(const Sandbox& sandbox) {
    auto preferences = platform::readPropertyListDictionary(
        sandbox.homePath("Library/Preferences/.GlobalPreferences.plist"), testing::kTestReadLimit);
    if (!preferences) return std::nullopt;
    return preferences->view()["AppleInterfaceStyle"].string();
}

struct RefreshCase {
    std::vector<std::string> arguments;
    bool startDark;
    bool nudges; // the appearance is flipped (the stand-in script sees two switches)
};

TEST(RefreshDock, RestartsTheDockAndEndsInTheStartingAppearance) {
    const RefreshCase cases[] = {
        {{"refresh-dock"}, true, true},
        {{"refresh-dock"}, false, true},
        {{"refresh-dock", "--dock-only"}, true, false},
    };
    for (const auto& c : cases) {
        Sandbox sandbox;
        setDark(sandbox, c.startDark);
        installRecordingProgram(sandbox, "/usr/bin/killall", "killall.log");
        // The System Events script through a recording osascript that also flips the preference.
        sandbox.writeScript(sandbox.bin() + "/osascript", "printf '%s\\n' \"$2\" >> \"" + sandbox.tmp() +
                                                              "/osascript.log\"\n"
                                                              "exec \"" +
                                                              standinsDirectory() + "/osascript\" \"$@\"\n");
        auto start = std::chrono::steady_clock::now();
        auto result = sandbox.run(c.arguments);
        auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "✓ Icon presentation refreshed\n");
        EXPECT_EQ(sandbox.loggedCalls("killall.log"), (std::vector<std::vector<std::string>>{{"Dock"}}));
        EXPECT_EQ(interfaceStyle(sandbox), c.startDark ? std::optional<std::string>("Dark") : std::nullopt);
        auto scripts = sandbox.readFile(sandbox.tmp() + "/osascript.log").value_or("");
        if (c.nudges) {
            EXPECT_GE(elapsed, std::chrono::milliseconds(2000));
            std::string first = c.startDark ? "false" : "true", second = c.startDark ? "true" : "false";
            EXPECT_NE(scripts.find("set dark mode to " + first + "\n"), std::string::npos) << scripts;
            EXPECT_LT(scripts.find("set dark mode to " + first), scripts.rfind("set dark mode to " + second));
        } else {
            EXPECT_EQ(scripts, "");
            EXPECT_LT(elapsed, std::chrono::milliseconds(1500));
        }
    }
}

} // namespace
} // namespace mivora::testing
