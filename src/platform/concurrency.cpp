#include "platform/concurrency.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <sched.h>
#include <system_error>
#include <thread>
#include <vector>

namespace mivora::platform {

void forEachConcurrently(size_t count, size_t threads, const std::function<void(size_t)>& work) {
    threads = std::min<size_t>({threads, count, std::max(1u, std::thread::hardware_concurrency())});
    if (threads <= 1) {
        for (size_t i = 0; i < count; ++i)
            work(i);
        return;
    }
    // Small batches: neighbours share folders, and a slow item holds up little.
    constexpr size_t kBatch = 16;
    std::atomic<size_t> next{0};
    std::mutex failureLock;
    size_t failedAt = count;
    std::exception_ptr failure;
    auto drain = [&] {
        for (size_t begin; (begin = next.fetch_add(kBatch, std::memory_order_relaxed)) < count;) {
            for (size_t i = begin; i < std::min(begin + kBatch, count); ++i) {
                try {
                    work(i);
                } catch (...) {
                    std::lock_guard lock(failureLock);
                    if (i < failedAt) {
                        failedAt = i;
                        failure = std::current_exception();
                    }
                }
            }
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(threads - 1);
    for (size_t t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back([&] {
                // A table of its own (a copy of the process's): opening and closing a
                // file in a shared one takes a lock that every other thread waits on.
                // Should the copy fail, the shared table serves as well, only slower.
                ::unshare(CLONE_FILES);
                drain();
            });
        } catch (const std::system_error&) {
            break; // no more threads to be had: the ones running finish the list
        }
    }
    drain();
    for (auto& helper : helpers)
        helper.join();
    if (failure) std::rethrow_exception(failure);
}

} // namespace mivora::platform
