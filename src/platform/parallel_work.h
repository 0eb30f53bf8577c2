// Work spread over threads of the process. Every thread started here is joined
// before the object or call that started it is gone, on every path, and runs
// with every signal blocked, so that SIGINT and SIGTERM reach the main thread
// exactly as they would without it.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <thread>

namespace mivora::platform {

// One piece of work on a thread of its own, from construction until wait() or
// destruction. When no thread can be started, the work runs at once on the
// caller's thread instead.
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

// Which descriptor table the helper threads of forEachInParallel open files in.
enum class HelperFiles {
    shared, // the process's, as every thread
    // A copy of their own, for work that opens and closes many files: in a
    // shared table every open and close takes a lock the other threads wait
    // on. A descriptor opened in the body must be closed before it returns.
    ownTable,
};

// Calls body(0) ... body(count - 1), spread over at most `maxThreads` threads
// (the caller's among them; 0: one per processor), and returns when every call
// has ended. After a call throws, no further call begins; the exception
// rethrown is that of the lowest index that threw, the one a plain loop would
// have met first.
void forEachInParallel(size_t count, const std::function<void(size_t)>& body, size_t maxThreads = 0,
                       HelperFiles files = HelperFiles::shared);

} // namespace mivora::platform
