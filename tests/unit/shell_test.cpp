#include "core/errors.h"
#include "core/shell.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace mivora::core {
namespace {

std::string failureOf(const std::string& command, double timeout = 15) {
    try {
        runShell(command, timeout);
    } catch (const CLIError& error) {
        EXPECT_EQ(error.kind(), CLIError::Kind::shellFailed);
        return error.what();
    }
    return "(no failure)";
}

TEST(RunShell, ReturnsStandardOutputTrimmed) {
    EXPECT_EQ(runShell("printf '  word\\n'", 15), "word");
    EXPECT_EQ(runShell("true", 15), "");
    EXPECT_EQ(runShell("echo out; echo err >&2", 15), "out");
    // Unicode white space too: a no-break space, a line separator, NEL.
    EXPECT_EQ(runShell("printf '\\302\\240word\\342\\200\\250\\302\\205\\n'", 15), "word");
}

TEST(RunShell, FailureTexts) {
    struct Case {
        std::string command;
        std::string message;
    } cases[] = {
        {"echo word >&2; exit 2", "Exit code 2: word"},
        {"echo word; exit 1", "Exit code 1: word"},
        {"echo out; echo ' err ' >&2; exit 3", "Exit code 3: err"},
        {"exit 4", "Exit code 4: "},
        // Output that is not UTF-8 reads as empty text.
        {"printf '\\377\\376' >&2; exit 5", "Exit code 5: "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(failureOf(c.command), c.message) << c.command;
}

TEST(RunShell, TimeOutTerminatesAndDropsTheFraction) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf("sleep 30", 1.5), "Command timed out after 1s");
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

std::string processState(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() ? "gone" : text.substr(close + 2, 1);
}

TEST(RunShell, TimedOutChildIsTerminated) {
    char dir[] = "/tmp/mivora-shell-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    std::string pidFile = std::string(dir) + "/pid";
    EXPECT_EQ(failureOf("echo $$ > " + pidFile + "; exec sleep 30", 1), "Command timed out after 1s");
    std::ifstream in(pidFile);
    std::string pid;
    in >> pid;
    ASSERT_FALSE(pid.empty());
    std::string state;
    for (int i = 0; i < 50; ++i) {
        state = processState(pid);
        if (state == "Z" || state == "gone") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(state == "Z" || state == "gone") << state;
    std::filesystem::remove_all(dir);
}

std::string readPid(const std::string& file) {
    std::string pid;
    for (int i = 0; i < 100 && pid.empty(); ++i) {
        std::ifstream in(file);
        in >> pid;
        if (pid.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pid;
}

bool endsSoon(const std::string& pid) {
    for (int i = 0; i < 100; ++i) {
        auto state = processState(pid);
        if (state == "Z" || state == "gone") return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// A shell line that leaves a background job: the job is part of what timed out.
TEST(RunShell, TimeOutEndsTheChildsWholeProcessGroup) {
    char dir[] = "/tmp/mivora-shell-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    std::string pidFile = std::string(dir) + "/pid";
    EXPECT_EQ(failureOf("sleep 30 </dev/null >/dev/null 2>&1 & echo $! > " + pidFile + "; wait", 1),
              "Command timed out after 1s");
    std::string pid = readPid(pidFile);
    ASSERT_FALSE(pid.empty());
    EXPECT_TRUE(endsSoon(pid)) << processState(pid);
    std::filesystem::remove_all(dir);
}

// Ctrl-C reaches only the terminal's foreground group; the runner passes it on to
// the child's group and then lets it end (or be handled by) the caller as before.
TEST(RunShell, InterruptionIsPassedOnToTheChildsGroupAndRaisedAgain) {
    char dir[] = "/tmp/mivora-shell-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    std::string pidFile = std::string(dir) + "/pid";
    pid_t caller = ::fork();
    ASSERT_GE(caller, 0);
    if (caller == 0) {
        try {
            runShell("sleep 30 </dev/null >/dev/null 2>&1 & echo $! > " + pidFile + "; wait", 15);
        } catch (...) {
        }
        ::_exit(0);
    }
    std::string pid = readPid(pidFile);
    ASSERT_FALSE(pid.empty());
    ::kill(caller, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(caller, &status, 0), caller);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_TRUE(endsSoon(pid)) << processState(pid);
    std::filesystem::remove_all(dir);
}

TEST(RunShell, TimeOutOfTwoPointNineSecondsSaysTwo) {
    EXPECT_EQ(failureOf("sleep 30", 2.9), "Command timed out after 2s");
}

TEST(RunShell, BackgroundChildHoldingThePipesCountsAgainstTheTimeOut) {
    EXPECT_EQ(failureOf("sleep 30 & echo started", 1), "Command timed out after 1s");
}

TEST(RunShell, LargeOutputOnBothStreamsDoesNotBlock) {
    std::string out =
        runShell("head -c 300000 /dev/zero | tr '\\0' a; head -c 300000 /dev/zero | tr '\\0' b >&2", 15);
    EXPECT_EQ(out.size(), 300000u);
}

TEST(ShellQuote, ApostropheReachesTheProgramUnchanged) {
    for (const std::string operand : {"Tom's App.app", "a'b'c", "'", "$(touch pwned) `x` \"q\" \\ -n"}) {
        EXPECT_EQ(runShell("printf '%s' " + shellQuote(operand), 15), operand);
    }
    EXPECT_EQ(shellQuote("Tom's"), "'Tom'\\''s'");
}

TEST(ShellQuote, AnOperandHoldingANulIsRefusedNotCutShort) {
    for (const std::string& operand :
         {std::string("/Applications/A.app\0/../..", 26), std::string(1, '\0')}) {
        try {
            shellQuote(operand);
            ADD_FAILURE() << "quoted";
        } catch (const CLIError& error) {
            EXPECT_EQ(error.kind(), CLIError::Kind::shellFailed);
            EXPECT_STREQ(error.what(), "Failed to start process: an operand holds a NUL character");
        }
    }
}

} // namespace
} // namespace mivora::core
