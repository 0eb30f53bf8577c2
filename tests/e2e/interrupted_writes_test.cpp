// set-icon and remove-icon on a Dock-pinned Apple application stopped at a
// random moment, by SIGKILL or by SIGINT: whatever was left, a rerun and a
// remove-icon bring the original Dock tile back. SIGINT inside the change
// undoes it (or lets it finish) and ends with status 130.
#include "platform/filesystem.h"
#include "support/dock_fixture.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/sandbox.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

namespace mivora::testing {
namespace {

struct Ending {
    bool exited = false;
    int status = 0; // exit status, or the signal that ended it
};

// Starts the binary, sends `signal` once `beforeSignal` returns, and waits for it.
Ending runAndSignal(const Sandbox& sandbox, const std::vector<std::string>& arguments, int signal,
                    const std::function<void()>& beforeSignal) {
    std::vector<std::string> argv = {mivoraBinary()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = sandbox.runEnvironment();
    std::vector<char*> args, env;
    for (auto& item : argv)
        args.push_back(item.data());
    for (auto& item : environment)
        env.push_back(item.data());
    args.push_back(nullptr);
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int spawned = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return {};
    }
    beforeSignal();
    ::kill(pid, signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) return {true, WEXITSTATUS(status)};
    return {false, WTERMSIG(status)};
}

class InterruptedWrites : public ::testing::Test {
protected:
    void SetUp() override {
        prepareIconCommands(sandbox, true);
        // A helper that takes a moment, so that a signal can land while it runs.
        sandbox.writeScript(helperIn(sandbox), "sleep 0.05\n");
        calculator = addPinnedSystemApp(sandbox, "Calculator", "com.apple.calculator");
        icon = writeIcon(sandbox, sandbox.tmp() + "/icon.png");
        originalTiles = dockTilesXML(sandbox);
    }

    RunResult setIcon() const { return sandbox.run({"set-icon", calculator.path, icon, "--no-refresh"}); }
    RunResult removeIcon() const { return sandbox.run({"remove-icon", calculator.path, "--no-refresh"}); }

    // Stops `arguments` at random moments, then checks that a rerun of set-icon
    // and a remove-icon always bring back the original tile.
    void interruptRepeatedly(std::vector<std::string> arguments, bool afterApply, int maxDelayMs) {
        for (auto& argument : arguments)
            if (argument == "<icon>")
                argument = icon;
            else if (argument == "<app>")
                argument = calculator.path;
        std::mt19937 random(20261210);
        std::uniform_int_distribution<int> delays(0, maxDelayMs * 1000);
        for (int round = 0; round < 10; ++round) {
            for (int signal : {SIGKILL, SIGINT}) {
                auto delay = std::chrono::microseconds(delays(random));
                SCOPED_TRACE("round " + std::to_string(round) + ", signal " + std::to_string(signal) +
                             " after " + std::to_string(delay.count()) + " µs");
                if (afterApply) {
                    ASSERT_EQ(setIcon().status, 0);
                }
                Ending ending =
                    runAndSignal(sandbox, arguments, signal, [&] { std::this_thread::sleep_for(delay); });
                if (signal == SIGINT && ending.exited && ending.status == 130) {
                    // Interrupted inside the change: undone, or finished when nothing was left to undo.
                    bool original = dockTilesXML(sandbox) == originalTiles;
                    bool recorded = !systemProxyRecords(sandbox).empty();
                    EXPECT_EQ(recorded, !original) << "tile and record go together";
                    EXPECT_EQ(platform::fileExists(calculator.proxy), !original);
                } else if (ending.exited) {
                    EXPECT_EQ(ending.status, 0) << "only a signal ends it otherwise";
                } else {
                    EXPECT_EQ(ending.status, signal);
                }
                auto rerun = setIcon();
                EXPECT_EQ(rerun.status, 0) << rerun.err;
                auto removed = removeIcon();
                EXPECT_EQ(removed.status, 0) << removed.err;
                EXPECT_TRUE(dockTilesXML(sandbox) == originalTiles) << "the original tile is back";
                EXPECT_TRUE(systemProxyRecords(sandbox).empty()) << systemProxyRecords(sandbox).dump();
                EXPECT_FALSE(platform::fileExists(calculator.proxy));
                if (::testing::Test::HasFailure()) return;
            }
        }
    }

    Sandbox sandbox;
    PinnedSystemApp calculator;
    std::string icon, originalTiles;
};

TEST_F(InterruptedWrites, SetIconStoppedAnywhereIsRestorable) {
    interruptRepeatedly({"set-icon", "<app>", "<icon>", "--no-refresh"}, false, 90);
}

TEST_F(InterruptedWrites, RemoveIconStoppedAnywhereIsRepairedByTheNextRun) {
    interruptRepeatedly({"remove-icon", "<app>", "--no-refresh"}, true, 30);
}

// A signal while the helper runs stops the helper and undoes the apply.
TEST_F(InterruptedWrites, SignalWhileTheHelperRunsUndoesTheApply) {
    std::string started = sandbox.tmp() + "/helper.started";
    sandbox.writeScript(helperIn(sandbox), "touch '" + started + "'\nsleep 5\n");
    for (auto [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        SCOPED_TRACE(signal);
        platform::removeItemQuietly(started);
        auto start = std::chrono::steady_clock::now();
        Ending ending =
            runAndSignal(sandbox, {"set-icon", calculator.path, icon, "--no-refresh"}, signal, [&] {
                for (int i = 0; i < 500 && !platform::fileExists(started); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            });
        EXPECT_TRUE(ending.exited);
        EXPECT_EQ(ending.status, status);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4))
            << "the helper was stopped";
        EXPECT_TRUE(dockTilesXML(sandbox) == originalTiles) << "the original tile is back";
        EXPECT_TRUE(systemProxyRecords(sandbox).empty()) << systemProxyRecords(sandbox).dump();
        EXPECT_FALSE(platform::fileExists(calculator.proxyFolder));
        EXPECT_FALSE(platform::fileExists(iconCacheFile(sandbox)));
    }
}

} // namespace
} // namespace mivora::testing
