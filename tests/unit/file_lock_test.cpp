// Waiting for a lock another run holds: the waiter takes it as soon as the
// holder lets go, not at its next look, so runs queued on one store follow
// one another without idle gaps.
#include "platform/file_lock.h"
#include "support/sandbox.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace mivora::platform {
namespace {

using Clock = std::chrono::steady_clock;

TEST(FileLock, AWaiterTakesTheLockAsTheHolderLetsGo) {
    mivora::testing::Sandbox sandbox;
    const std::string folder = sandbox.homePath("store");
    sandbox.writeFile(folder + "/file", "x");
    std::vector<double> gaps; // milliseconds from the holder's release to the waiter's lock
    // Hold times spread so that no fixed rhythm of looking could meet every release.
    for (int held : {35, 45, 55, 65, 75, 85, 95}) {
        int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        auto waiter = std::async(std::launch::async, [&] {
            FileLock lock = FileLock::folder(folder, "the store");
            auto at = Clock::now();
            EXPECT_TRUE(lock.held());
            return at;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(held));
        auto released = Clock::now();
        ::close(fd);
        auto locked = waiter.get();
        gaps.push_back(std::chrono::duration<double, std::milli>(locked - released).count());
    }
    std::sort(gaps.begin(), gaps.end());
    EXPECT_LT(gaps[gaps.size() / 2], 3.0) << "median gap in ms; the largest " << gaps.back();
}

TEST(FileLock, TheLockTakenAfterAWaitKeepsOthersOutUntilItIsReleased) {
    mivora::testing::Sandbox sandbox;
    const std::string folder = sandbox.homePath("store");
    sandbox.writeFile(folder + "/file", "x");
    int holder = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    auto waiter = std::async(std::launch::async, [&] { return FileLock::folder(folder, "the store"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ::close(holder);
    FileLock lock = waiter.get();
    ASSERT_TRUE(lock.held());

    // Another open of the folder, as another run makes it, finds it taken until the release.
    int other = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    lock.release();
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
}

} // namespace
} // namespace mivora::platform
