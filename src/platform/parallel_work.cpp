#include "platform/parallel_work.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <system_error>
#include <utility>
#include <vector>

namespace mivora::platform {

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif

// A new thread inherits the signal mask of the thread that starts it: blocked
// around the start, so that no signal is ever delivered to a worker.
std::thread startWithSignalsBlocked(std::function<void()> body) {
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    std::thread thread;
    try {
        thread = std::thread(std::move(body));
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread;
}

// Asked once: the C library reads it from /sys on every call.
size_t processorCount() {
    static const size_t count = std::max(1u, std::thread::hardware_concurrency());
    return count;
}

} // namespace

BackgroundWork::BackgroundWork(std::function<void()> work) : work_(std::move(work)) {
    auto run = [this] {
        try {
            work_();
        } catch (...) {
            error_ = std::current_exception();
        }
    };
    try {
        thread_ = startWithSignalsBlocked(run);
    } catch (const std::system_error&) {
        run(); // no thread to be had: the same work, only not alongside
    }
}

BackgroundWork::~BackgroundWork() {
    join();
}

void BackgroundWork::join() noexcept {
    if (thread_.joinable()) thread_.join();
}

void BackgroundWork::wait() {
    join();
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

void forEachInParallel(size_t count, const std::function<void(size_t)>& body, size_t maxThreads,
                       HelperFiles files) {
    if (count == 0) return;
    if (maxThreads == 0) maxThreads = processorCount();
    const size_t threads = std::min(count, maxThreads);
    // Calls are handed out one at a time, in order, so that a slow one does not
    // hold up the calls queued behind it on the same thread, and every index
    // below a failed one has begun (and is finished) before the failure is reported.
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex failureLock;
    size_t failedAt = count;
    std::exception_ptr failure;
    auto drain = [&] {
        for (size_t index = next++; index < count && !failed; index = next++) {
            try {
                body(index);
            } catch (...) {
                failed = true;
                std::lock_guard lock(failureLock);
                if (index < failedAt) {
                    failedAt = index;
                    failure = std::current_exception();
                }
            }
        }
    };
    auto helper = [&] {
        // Should the copy fail, the shared table serves as well, only slower.
        // ThreadSanitizer keeps one table per process and would take two threads'
        // equal numbers in tables of their own for one descriptor, so it gets the shared one.
        if (files == HelperFiles::ownTable && !kThreadSanitizer) ::unshare(CLONE_FILES);
        drain();
    };
    std::vector<std::unique_ptr<BackgroundWork>> helpers;
    helpers.reserve(threads - 1);
    std::exception_ptr error;
    try {
        for (size_t i = 1; i < threads; ++i)
            helpers.push_back(std::make_unique<BackgroundWork>(helper));
    } catch (...) {
        error = std::current_exception(); // only running out of memory: the ones started finish the work
    }
    drain();
    for (auto& started : helpers)
        started->wait();
    if (failure) std::rethrow_exception(failure);
    if (error) std::rethrow_exception(error);
}

} // namespace mivora::platform
