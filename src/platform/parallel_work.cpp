#include "platform/parallel_work.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <memory>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sched.h>
#include <system_error>
#include <utility>
#include <vector>

namespace mivora::platform {

// A new thread inherits the signal mask of the thread that starts it: blocked
// around the start, so that no signal is ever delivered to a worker.
std::thread startThreadWithSignalsBlocked(std::function<void()> body) {
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

namespace {

// Joins the threads it holds when it goes, on every path out of the call.
struct JoinedThreads {
    std::vector<std::thread> threads;
    ~JoinedThreads() {
        for (auto& thread : threads)
            if (thread.joinable()) thread.join();
    }
};

} // namespace

BackgroundWork::BackgroundWork(std::function<void()> work) : work_(std::move(work)) {
    auto run = [this] {
        try {
            work_();
        } catch (...) {
            error_ = std::current_exception();
        }
    };
    if (usableProcessorCount() < 2) {
        run();
        return;
    }
    try {
        thread_ = startThreadWithSignalsBlocked(run);
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
    // One call, or one thread asked for: a plain loop, without even the look at
    // what the process may use (a few kernel files).
    if (count == 1 || maxThreads == 1) {
        for (size_t index = 0; index < count; ++index)
            body(index);
        return;
    }
    const size_t usable = usableProcessorCount();
    const size_t threads = std::min({count, maxThreads == 0 ? usable : maxThreads, usable});
    // Calls are handed out one at a time, in order, so that a slow one does not
    // hold up the calls queued behind it on the same thread. An index is taken
    // before the failure of a lower one may be known, so what decides whether it
    // runs is its place against the lowest failure so far: every index below it
    // runs to its end, none above it begins.
    std::atomic<size_t> next{0};
    std::atomic<size_t> lowestFailure{count};
    std::mutex failureLock;
    std::exception_ptr failure;
    auto drain = [&] {
        for (size_t index = next++; index < count && index < lowestFailure; index = next++) {
            try {
                body(index);
            } catch (...) {
                std::lock_guard lock(failureLock);
                if (index < lowestFailure) {
                    lowestFailure = index;
                    failure = std::current_exception();
                }
            }
        }
    };
    {
        JoinedThreads helpers;
        try {
            helpers.threads.reserve(threads - 1);
            for (size_t i = 1; i < threads; ++i) {
                helpers.threads.push_back(startThreadWithSignalsBlocked([&] {
                    // Should the copy fail, the shared table serves as well, only slower.
                    // ThreadSanitizer keeps one table per process and would take two threads'
                    // equal numbers in tables of their own for one descriptor, so it gets the shared one.
                    if (files == HelperFiles::ownTable && !kThreadSanitizer) ::unshare(CLONE_FILES);
                    drain();
                }));
            }
        } catch (const std::system_error&) {
            // No more threads to be had: those started, and the caller's, do the work.
        } catch (const std::bad_alloc&) {
        }
        drain();
    }
    if (failure) std::rethrow_exception(failure);
}

} // namespace mivora::platform
