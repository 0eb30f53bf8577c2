// Threads of our own: every call runs once, nothing runs on after the call
// that started it has returned or thrown, and no signal reaches a worker.
#include "platform/parallel_work.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <pthread.h>
#include <set>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace mivora::platform {
namespace {

TEST(ForEachInParallel, RunsEveryIndexOnceOnAtMostTheThreadsAllowed) {
    struct Case {
        size_t count, maxThreads;
    };
    for (const Case& c : std::vector<Case>{{0, 4}, {1, 4}, {3, 8}, {100, 4}, {100, 1}, {64, 0}}) {
        SCOPED_TRACE(std::to_string(c.count) + " calls, " + std::to_string(c.maxThreads) + " threads");
        std::vector<std::atomic<int>> runs(c.count);
        std::mutex mutex;
        std::set<std::thread::id> threads;
        forEachInParallel(
            c.count,
            [&](size_t index) {
                ++runs[index];
                std::lock_guard lock(mutex);
                threads.insert(std::this_thread::get_id());
            },
            c.maxThreads);
        for (size_t i = 0; i < c.count; ++i)
            EXPECT_EQ(runs[i], 1) << "index " << i;
        EXPECT_LE(threads.size(), c.maxThreads > 0 ? c.maxThreads : std::thread::hardware_concurrency());
    }
}

TEST(ForEachInParallel, RethrowsOnlyAfterEveryCallHasEnded) {
    std::atomic<int> running{0}, started{0};
    try {
        forEachInParallel(
            200,
            [&](size_t index) {
                ++running;
                ++started;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                --running;
                if (index == 3) throw std::runtime_error("piece 3 failed");
            },
            4);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "piece 3 failed");
    }
    EXPECT_EQ(running, 0);
    EXPECT_LT(started, 200); // the calls not yet begun are given up
}

TEST(ForEachInParallel, RethrowsWhatAPlainLoopWouldHaveMetFirst) {
    // Index 30 fails last in time; the later indices that fail sooner do not win.
    try {
        forEachInParallel(
            500,
            [&](size_t index) {
                if (index == 30) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    throw std::runtime_error("index 30");
                }
                if (index >= 40 && index % 10 == 0)
                    throw std::runtime_error("index " + std::to_string(index));
            },
            4);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "index 30");
    }
}

TEST(ForEachInParallel, HelpersOpenFilesInATableOfTheirOwnOnlyWhenAsked) {
    const std::string callerTable = "/proc/self/task/" + std::to_string(::gettid()) + "/fd/";
    const auto callerThread = std::this_thread::get_id();
    for (HelperFiles files : {HelperFiles::shared, HelperFiles::ownTable}) {
        std::atomic<int> seenByCaller{0}, helperCalls{0};
        forEachInParallel(
            400,
            [&](size_t) {
                if (std::this_thread::get_id() == callerThread) {
                    // Its table stays as it was; the helpers do the opening.
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    return;
                }
                int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
                ASSERT_GE(fd, 0);
                ++helperCalls;
                if (::access((callerTable + std::to_string(fd)).c_str(), F_OK) == 0) ++seenByCaller;
                ::close(fd);
            },
            4, files);
        ASSERT_GT(helperCalls, 0);
        if (files == HelperFiles::ownTable)
            EXPECT_EQ(seenByCaller, 0); // the caller's table never held them
        else
            EXPECT_GT(seenByCaller, 0);
    }
}

TEST(BackgroundWork, WaitsOnEveryPathAndKeepsSignalsAway) {
    std::atomic<bool> finished{false};
    bool interruptBlocked = false, terminateBlocked = false;
    {
        BackgroundWork work([&] {
            sigset_t mask;
            pthread_sigmask(SIG_SETMASK, nullptr, &mask);
            interruptBlocked = sigismember(&mask, SIGINT) == 1;
            terminateBlocked = sigismember(&mask, SIGTERM) == 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            finished = true;
        });
    } // left without wait(): the destructor waits
    EXPECT_TRUE(finished);
    EXPECT_TRUE(interruptBlocked);
    EXPECT_TRUE(terminateBlocked);
    sigset_t mine;
    pthread_sigmask(SIG_SETMASK, nullptr, &mine);
    EXPECT_EQ(sigismember(&mine, SIGINT), 0); // the caller's own mask is as it was

    BackgroundWork failing([] { throw std::runtime_error("encoding failed"); });
    EXPECT_THROW(failing.wait(), std::runtime_error);
    EXPECT_NO_THROW(failing.wait()); // reported once
}

} // namespace
} // namespace mivora::platform
