// Threads of our own: every call runs once, nothing runs on after the call
// that started it has returned or thrown, no signal reaches a worker, and no
// more threads start than the process may use.
#include "platform/parallel_work.h"
#include "support/sandbox.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <sched.h>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
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
        EXPECT_LE(threads.size(), c.maxThreads > 0 ? c.maxThreads : usableProcessorCount());
        EXPECT_LE(threads.size(), usableProcessorCount());
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

TEST(ForEachInParallel, NoLowerIndexIsSkippedWhenAHigherOneFailsFirst) {
    // Every call fails at once, so a higher index often fails while a lower one
    // has been handed out but not yet begun: the lower one must still run, and
    // its failure is the one reported.
    for (int round = 0; round < 200; ++round) {
        std::vector<std::atomic<int>> runs(64);
        try {
            forEachInParallel(
                64,
                [&](size_t index) {
                    ++runs[index];
                    throw std::runtime_error("index " + std::to_string(index));
                },
                8);
            FAIL() << "no exception";
        } catch (const std::runtime_error& error) {
            ASSERT_STREQ(error.what(), "index 0") << "round " << round;
        }
        ASSERT_EQ(runs[0], 1) << "round " << round;
    }
}

TEST(ForEachInParallel, EveryIndexBelowTheFailureRunsAndNoneAboveItBegins) {
    // Index 40 fails at once while the others are slow; those below it are all
    // run, and once the failure is known no higher one is handed out. The
    // moment it becomes known is not ours to see (a loaded machine may pause the
    // failing thread for a while), so the check is that the loop stopped: a loop
    // that went on would run all 3,959 indices above the failure.
    constexpr size_t kCount = 4000;
    std::vector<std::atomic<int>> runs(kCount);
    try {
        forEachInParallel(
            kCount,
            [&](size_t index) {
                ++runs[index];
                if (index == 40) throw std::runtime_error("index 40");
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            },
            4);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "index 40");
    }
    for (size_t i = 0; i < 40; ++i)
        EXPECT_EQ(runs[i], 1) << "index " << i;
    size_t runAbove = 0;
    for (size_t i = 41; i < kCount; ++i)
        runAbove += static_cast<size_t>(runs[i]);
    EXPECT_LT(runAbove, kCount / 10);
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
        if (files == HelperFiles::ownTable && !kThreadSanitizer)
            EXPECT_EQ(seenByCaller, 0); // the caller's table never held them
        else
            EXPECT_GT(seenByCaller, 0);
    }
}

// Makes every new thread ask for a stack no machine has, so that none can start.
class NoThreadsToBeHad {
public:
    NoThreadsToBeHad() {
        pthread_getattr_default_np(&previous_);
        pthread_attr_t impossible;
        pthread_attr_init(&impossible);
        pthread_attr_setstacksize(&impossible, size_t{1} << 46);
        pthread_setattr_default_np(&impossible);
        pthread_attr_destroy(&impossible);
    }
    ~NoThreadsToBeHad() {
        pthread_setattr_default_np(&previous_);
        pthread_attr_destroy(&previous_);
    }

private:
    pthread_attr_t previous_;
};

TEST(ForEachInParallel, WithoutThreadsTheCallerDoesTheWorkInItsOwnTable) {
    // A thread started beforehand shares the caller's descriptor table; it
    // must still see what the caller opens after a call that could start no
    // helper, as it would if the helpers' own-table set-up had run on the caller.
    std::atomic<bool> done{false};
    std::atomic<pid_t> witness{0};
    std::thread watcher([&] {
        witness = ::gettid();
        while (!done)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    while (witness == 0)
        std::this_thread::yield();
    std::vector<int> runs(50);
    {
        NoThreadsToBeHad limit;
        EXPECT_THROW(std::thread([] {}).join(), std::system_error); // the limit holds
        forEachInParallel(
            50, [&](size_t index) { ++runs[index]; }, 8, HelperFiles::ownTable);
        BackgroundWork work([&] { ++runs[0]; });
        work.wait();
    }
    EXPECT_EQ(runs[0], 2);
    for (size_t i = 1; i < runs.size(); ++i)
        EXPECT_EQ(runs[i], 1) << "index " << i;
    int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string seen = "/proc/self/task/" + std::to_string(witness) + "/fd/" + std::to_string(fd);
    EXPECT_EQ(::access(seen.c_str(), F_OK), 0) << "the caller's table is no longer the process's";
    ::close(fd);
    done = true;
    watcher.join();
}

TEST(ProcessorCount, IsTheAffinityMaskAtMost) {
    cpu_set_t set;
    ASSERT_EQ(::sched_getaffinity(0, sizeof set, &set), 0);
    EXPECT_GE(usableProcessorCount(), 1u);
    EXPECT_LE(usableProcessorCount(), static_cast<size_t>(CPU_COUNT(&set)));
    EXPECT_EQ(threadsWorthStarting(0, 100), 1u);
    EXPECT_EQ(threadsWorthStarting(199, 100), std::min<size_t>(1, usableProcessorCount()));
    EXPECT_EQ(threadsWorthStarting(100 * 1000, 100), usableProcessorCount());
}

TEST(CgroupQuota, ReadsEachFileForm) {
    struct Case {
        std::string cpuMax;
        std::optional<double> expected;
    };
    for (const Case& c : std::vector<Case>{{"max 100000\n", std::nullopt},
                                           {"150000 100000\n", 1.5},
                                           {"50000 100000", 0.5},
                                           {"200000", 2.0},
                                           {"0 100000", std::nullopt},
                                           {"-5 100000", std::nullopt},
                                           {"abc 100000", std::nullopt},
                                           {"", std::nullopt}}) {
        SCOPED_TRACE("cpu.max \"" + c.cpuMax + "\"");
        EXPECT_EQ(cgroupV2Quota(c.cpuMax), c.expected);
    }
    EXPECT_EQ(cgroupV1Quota("-1\n", "100000\n"), std::nullopt);
    EXPECT_EQ(cgroupV1Quota("250000\n", "100000\n"), 2.5);
    EXPECT_EQ(cgroupV1Quota("250000", "0"), std::nullopt);
    EXPECT_EQ(cgroupV1Quota("", "100000"), std::nullopt);
}

// A fake /proc/self and cgroup tree in a temporary folder.
struct CgroupTree {
    testing::Sandbox sandbox;
    std::string root() const { return sandbox.dir() + "/fs"; }
    void write(const std::string& path, const std::string& bytes) const {
        sandbox.writeFile(root() + path, bytes);
    }
};

TEST(CgroupQuota, FindsTheTightestQuotaOfTheGroupAndItsAncestors) {
    const std::string v2Mount = "30 25 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw\n";
    const std::string v1Mount = "31 25 0:27 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n"
                                "32 25 0:28 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n";
    struct Case {
        std::string name, groups, mounts;
        std::vector<std::pair<std::string, std::string>> files;
        std::optional<double> expected;
    };
    const std::vector<Case> cases = {
        {"v2, the group's own",
         "0::/app.slice/run.scope\n",
         v2Mount,
         {{"/sys/fs/cgroup/app.slice/run.scope/cpu.max", "200000 100000\n"},
          {"/sys/fs/cgroup/app.slice/cpu.max", "max 100000\n"}},
         2.0},
        {"v2, an ancestor's tighter",
         "0::/app.slice/run.scope\n",
         v2Mount,
         {{"/sys/fs/cgroup/app.slice/run.scope/cpu.max", "400000 100000\n"},
          {"/sys/fs/cgroup/app.slice/cpu.max", "150000 100000\n"}},
         1.5},
        {"v2, none set",
         "0::/app.slice\n",
         v2Mount,
         {{"/sys/fs/cgroup/app.slice/cpu.max", "max 100000\n"}},
         std::nullopt},
        {"v2, the mount shows the group at its top",
         "0::/kubepods/pod1\n",
         "40 25 0:26 /kubepods/pod1 /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n",
         {{"/sys/fs/cgroup/cpu.max", "300000 100000\n"}},
         3.0},
        {"v1, through the mount that holds cpu",
         "4:memory:/docker/abc\n3:cpu,cpuacct:/docker/abc\n",
         v1Mount,
         {{"/sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_quota_us", "50000\n"},
          {"/sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_period_us", "100000\n"},
          {"/sys/fs/cgroup/memory/docker/abc/cpu.cfs_quota_us", "10000\n"},
          {"/sys/fs/cgroup/memory/docker/abc/cpu.cfs_period_us", "100000\n"}},
         0.5},
        {"v1, unlimited",
         "3:cpu,cpuacct:/\n",
         v1Mount,
         {{"/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_quota_us", "-1\n"},
          {"/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_period_us", "100000\n"}},
         std::nullopt},
        {"v1, a mount point with a blank",
         "3:cpu:/batch\n",
         "31 25 0:27 / /sys/fs/cgroup/cpu\\040time rw - cgroup cgroup rw,cpu\n",
         {{"/sys/fs/cgroup/cpu time/batch/cpu.cfs_quota_us", "100000\n"},
          {"/sys/fs/cgroup/cpu time/batch/cpu.cfs_period_us", "100000\n"}},
         1.0},
        {"the group outside what the mount shows",
         "0::/elsewhere\n",
         "40 25 0:26 /kubepods /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n",
         {{"/sys/fs/cgroup/cpu.max", "100000 100000\n"}},
         std::nullopt},
        {"both hierarchies: the tighter wins",
         "3:cpu,cpuacct:/\n0::/\n",
         v1Mount + v2Mount,
         {{"/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_quota_us", "300000\n"},
          {"/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_period_us", "100000\n"},
          {"/sys/fs/cgroup/cpu.max", "100000 100000\n"}},
         1.0},
        {"unreadable mount table",
         "0::/\n",
         "",
         {{"/sys/fs/cgroup/cpu.max", "100000 100000\n"}},
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CgroupTree tree;
        tree.write("/proc/self/cgroup", c.groups);
        if (!c.mounts.empty()) tree.write("/proc/self/mountinfo", c.mounts);
        for (const auto& [path, bytes] : c.files)
            tree.write(path, bytes);
        EXPECT_EQ(cgroupCPUQuota(tree.root()), c.expected);
    }
}

TEST(BackgroundWork, WaitsOnEveryPathAndKeepsSignalsAway) {
    std::atomic<bool> finished{false};
    bool interruptBlocked = false, terminateBlocked = false, alongside = false;
    const auto caller = std::this_thread::get_id();
    {
        BackgroundWork work([&] {
            alongside = std::this_thread::get_id() != caller;
            sigset_t mask;
            pthread_sigmask(SIG_SETMASK, nullptr, &mask);
            interruptBlocked = sigismember(&mask, SIGINT) == 1;
            terminateBlocked = sigismember(&mask, SIGTERM) == 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            finished = true;
        });
    } // left without wait(): the destructor waits
    EXPECT_TRUE(finished);
    // On one processor the work runs on the caller's thread, whose mask is its own.
    EXPECT_EQ(alongside, usableProcessorCount() > 1);
    if (alongside) {
        EXPECT_TRUE(interruptBlocked);
        EXPECT_TRUE(terminateBlocked);
    }
    sigset_t mine;
    pthread_sigmask(SIG_SETMASK, nullptr, &mine);
    EXPECT_EQ(sigismember(&mine, SIGINT), 0); // the caller's own mask is as it was

    BackgroundWork failing([] { throw std::runtime_error("encoding failed"); });
    EXPECT_THROW(failing.wait(), std::runtime_error);
    EXPECT_NO_THROW(failing.wait()); // reported once
}

} // namespace
} // namespace mivora::platform
