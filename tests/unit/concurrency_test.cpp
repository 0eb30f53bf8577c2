// Work spread over threads: every item once, the failure a plain loop would
// have met, and the files the helper threads open stay theirs.
#include "platform/concurrency.h"

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace mivora::platform {
namespace {

size_t openDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

TEST(ForEachConcurrently, DoesEveryItemOnceWhateverTheThreadCount) {
    for (size_t threads : {0, 1, 3, 64}) {
        for (size_t count : {0, 1, 17, 1000}) {
            std::vector<std::atomic<int>> visits(count);
            forEachConcurrently(count, threads, [&](size_t i) { ++visits[i]; });
            for (size_t i = 0; i < count; ++i)
                ASSERT_EQ(visits[i], 1) << "item " << i << " of " << count << " on " << threads << " threads";
        }
    }
    // One thread means the caller's own.
    std::thread::id caller = std::this_thread::get_id(), ran;
    forEachConcurrently(1000, 1, [&](size_t) { ran = std::this_thread::get_id(); });
    EXPECT_EQ(ran, caller);
}

TEST(ForEachConcurrently, RethrowsTheFailureOfTheLowestItemAfterEveryThreadHasEnded) {
    std::atomic<size_t> done{0};
    try {
        forEachConcurrently(1000, 4, [&](size_t i) {
            if (i == 700 || i == 300 || i == 999) throw std::runtime_error("item " + std::to_string(i));
            ++done;
        });
        FAIL() << "no failure came back";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "item 300");
    }
    // The others were still done, and nothing runs on after the call.
    EXPECT_EQ(done, 997u);
}

TEST(ForEachConcurrently, FilesOpenedOnHelperThreadsLeaveNothingOpen) {
    const size_t before = openDescriptors();
    std::vector<int> opened(400, -1);
    forEachConcurrently(opened.size(), 4, [&](size_t i) {
        opened[i] = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
        char byte;
        EXPECT_EQ(::read(opened[i], &byte, 1), 1);
        ::close(opened[i]);
    });
    EXPECT_EQ(openDescriptors(), before);
    for (int fd : opened)
        EXPECT_GE(fd, 0);
}

} // namespace
} // namespace mivora::platform
