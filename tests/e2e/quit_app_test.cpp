// `mivora quit-app` against real processes started from sandbox bundles, with
// the osascript stand-in answering for them.
#include "support/running_app.h"
#include "support/sandbox.h"

#include <chrono>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace mivora::testing {
namespace {

struct TimedRun {
    RunResult result;
    double seconds;
};

TimedRun timedRun(const Sandbox& sandbox, const std::vector<std::string>& arguments) {
    auto start = std::chrono::steady_clock::now();
    auto result = sandbox.run(arguments);
    return {result, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}

TEST(QuitApp, QuitsRunningAppAndPausesTwoSecondsByDefault) {
    Sandbox sandbox;
    std::string name = "Sleeper";
    RunningApp app(sandbox, name);
    auto run = timedRun(sandbox, {"quit-app", name});
    EXPECT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_EQ(run.result.out, "Quit " + name + "\n");
    EXPECT_EQ(run.result.err, "");
    EXPECT_GE(run.seconds, 2.0);
    EXPECT_TRUE(app.waitForExit(1));
}

TEST(QuitApp, WaitZeroQuitsWithoutPauseAndReportsJSON) {
    Sandbox sandbox;
    std::string name = "Sleeper";
    RunningApp app(sandbox, name);
    auto run = timedRun(sandbox, {"quit-app", name, "--wait", "0", "--json"});
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_LT(run.seconds, 1.5);
    std::string path;
    for (char c : app.bundlePath())
        path += c == '/' ? std::string("\\/") : std::string(1, c);
    EXPECT_EQ(run.result.out, "{\n"
                              "  \"app\" : {\n"
                              "    \"name\" : \"" +
                                  name +
                                  "\",\n"
                                  "    \"path\" : \"" +
                                  path +
                                  "\"\n"
                                  "  },\n"
                                  "  \"message\" : \"Quit " +
                                  name +
                                  "\",\n"
                                  "  \"quitRequested\" : true,\n"
                                  "  \"wasRunning\" : true\n"
                                  "}\n");
    EXPECT_TRUE(app.waitForExit(2));
}

TEST(QuitApp, ShortWaitIsHonoured) {
    Sandbox sandbox;
    std::string name = "Sleeper";
    RunningApp app(sandbox, name);
    auto run = timedRun(sandbox, {"quit-app", name, "--wait", "0.6"});
    EXPECT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_GE(run.seconds, 0.6);
    EXPECT_LT(run.seconds, 1.8);
    EXPECT_TRUE(app.waitForExit(1));
}

TEST(QuitApp, AppThatIsNotRunningIsLeftAloneAtOnce) {
    Sandbox sandbox;
    std::string name = "Idle";
    sandbox.addApp({.name = name});
    // Another bundle's running process does not make this one run.
    RunningApp other(sandbox, name + " Helper");
    auto run = timedRun(sandbox, {"quit-app", name});
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.out, name + " is not running\n");
    EXPECT_LT(run.seconds, 1.5);
    auto reply = nlohmann::json::parse(sandbox.run({"quit-app", name, "--json"}).out);
    EXPECT_EQ(reply["quitRequested"], false);
    EXPECT_EQ(reply["wasRunning"], false);
    EXPECT_EQ(reply["message"], name + " is not running");
    EXPECT_FALSE(other.waitForExit(0.1));
}

TEST(QuitApp, QuotesBackslashesAndApostrophesReachAppleScriptIntact) {
    Sandbox sandbox;
    for (std::string name : {"Say \"Hi\"", "Back\\slash", "Bob's", "All \\\" ' mixed"}) {
        SCOPED_TRACE(name);
        RunningApp app(sandbox, name);
        // A near namesake proves that the name arrives whole, escapes undone.
        RunningApp namesake(sandbox, name + "x");
        auto result = sandbox.run({"quit-app", app.bundlePath(), "--wait", "0"});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "Quit " + name + "\n");
        EXPECT_TRUE(app.waitForExit(2));
        EXPECT_FALSE(namesake.waitForExit(0.1));
    }
}

TEST(QuitApp, FailedQuitRequestIsAnError) {
    Sandbox sandbox;
    sandbox.addApp({.name = "Stubborn"});
    sandbox.writeScript(
        sandbox.bin() + "/osascript",
        "case \"$2\" in\n"
        "  *'is running') echo true ;;\n"
        "  *) echo 'execution error: Stubborn got an error: User canceled. (-128)' >&2; exit 1 ;;\n"
        "esac\n");
    auto result = sandbox.run({"quit-app", "Stubborn", "--wait", "0"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "Error: Exit code 1: execution error: Stubborn got an error: User canceled. (-128)\n");
}

TEST(QuitApp, FailingRunningQuestionMeansNotRunning) {
    Sandbox sandbox;
    sandbox.addApp({.name = "Mystery"});
    sandbox.writeScript(sandbox.bin() + "/osascript", "echo 'osascript: broken' >&2\nexit 1\n");
    auto result = sandbox.run({"quit-app", "Mystery"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "Mystery is not running\n");
    EXPECT_EQ(result.err, "");
}

TEST(QuitApp, RejectsMalformedWait) {
    Sandbox sandbox;
    sandbox.addApp({.name = "Notes"});
    auto result = sandbox.run({"quit-app", "Notes", "--wait", "soon"});
    EXPECT_EQ(result.status, 64);
    EXPECT_NE(result.err.find("Error: The value 'soon' is invalid for '--wait <wait>'"), std::string::npos)
        << result.err;
}

// The stand-in refuses what it was not built to understand, rather than guess.
TEST(OsascriptStandIn, RefusesOtherScripts) {
    Sandbox sandbox;
    std::string osascript = standinsDirectory() + "/osascript";
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{osascript, "-e", "display dialog \"hi\""},
          {osascript, "-e", "application \"Unterminated is running"},
          {osascript, "-e", "application \"Odd\\n\" is running"},
          {osascript, "-e", "tell application \"X\" to activate"},
          // Keywords are ASCII: a letter beyond ASCII, even one whose case folds
          // near an ASCII letter, spells none of them.
          {osascript, "-e", "application \"X\" \u0130S running"},
          {osascript, "-e", "application \"X\" \u0131s running"},
          {osascript, "-e", "tell application \"X\" to q\u00fcit"},
          {osascript, "script.scpt"},
          {osascript}}) {
        auto result = sandbox.runProgram(argv);
        EXPECT_NE(result.status, 0) << argv.back();
        EXPECT_EQ(result.out, "") << argv.back();
        EXPECT_FALSE(result.err.empty()) << argv.back();
    }
    for (const char* script :
         {"APPLICATION \"Nothing Like This\" IS RUNNING", "Application \"Nothing Like This\" iS rUnNiNg"}) {
        auto answer = sandbox.runProgram({osascript, "-e", script});
        EXPECT_EQ(answer.status, 0) << script;
        EXPECT_EQ(answer.out, "false\n") << script;
    }
    auto quit = sandbox.runProgram({osascript, "-e", "Tell Application \"Nothing Like This\" TO Quit"});
    EXPECT_EQ(quit.status, 0);
    EXPECT_EQ(quit.out, "");
    EXPECT_EQ(quit.err, "");
}

} // namespace
} // namespace mivora::testing
