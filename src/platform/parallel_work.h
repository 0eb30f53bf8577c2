// Work spread over threads of the process. Every thread started here runs with
// every signal blocked, so that SIGINT and SIGTERM reach the main thread exactly
// as they would without it; those of BackgroundWork and forEachInParallel are
// joined before the object or call that started them is gone, on every path.
#pragma once

#include "platform/parallel_work_capacity.h"

#include <cstddef>
#include <exception>
#include <functional>
#include <thread>

namespace mivora::platform {

// A thread running `body` with every signal blocked; the caller joins or
// detaches it. Throws std::system_error when no thread can be started.
std::thread startThreadWithSignalsBlocked(std::function<void()> body);

// One piece of work on a thread of its own, from construction until wait() or
// destruction. When the process may use only one processor
// (usableProcessorCount()), or no thread can be started, the work runs at once
// on the caller's thread instead: a second thread on one processor only adds
// its start and a share of the caches.
class BackgroundWork {
public:
    explicit BackgroundWork(std::function<void()> work);
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // Waits for the work to end and rethrows what it threw (once).
    void wait();

private:
    void join() noexcept;

    std::function<void()> work_;
    std::exception_ptr error_;
    std::thread thread_;
};

// Both compilers' ways of saying that ThreadSanitizer instruments this build.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif
#else
inline constexpr bool kThreadSanitizer = false;
#endif

// Which descriptor table the helper threads of forEachInParallel open files in.
enum class HelperFiles {
    shared, // the process's, as every thread
    // A copy of their own, for work that opens and closes many files: in a
    // shared table every open and close takes a lock the other threads wait
    // on. A descriptor opened in the body must be closed before it returns.
    // Under ThreadSanitizer, which models only a shared table, they keep the shared one.
    ownTable,
};

// Calls body(0) ... body(count - 1), spread over at most `maxThreads` threads
// (the caller's among them; 0: as many as usableProcessorCount(), which also
// bounds any other figure), and returns when every call has ended. After a call
// throws, no call of a higher index begins, while every lower one still runs;
// the exception rethrown is that of the lowest index that threw, the one a
// plain loop would have met first. Helper set-up (such as a descriptor table of
// their own) happens only on threads started here, never on the caller's.
void forEachInParallel(size_t count, const std::function<void(size_t)>& body, size_t maxThreads = 0,
                       HelperFiles files = HelperFiles::shared);

} // namespace mivora::platform
