#include "platform/file_lock.h"

#include "platform/environment.h"
#include "platform/parallel_work.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace mivora::platform {

namespace {

constexpr double kDefaultLockWaitSeconds = 30;

using Clock = std::chrono::steady_clock;

std::string secondsText(double seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", seconds);
    return buffer;
}

// The answers of a file system that has no locks at all, rather than of a lock
// that is taken: network homes give ENOLCK or EOPNOTSUPP.
bool refusesLocks(int error) {
#if ENOTSUP != EOPNOTSUPP
    if (error == ENOTSUP) return true;
#endif
    return error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL;
}

[[noreturn]] void throwBusy(const std::string& name) {
    throw StoreBusyError(name + " is in use by another mivora process and stayed busy for " +
                             secondsText(lockWaitSeconds()) + " s",
                         "; nothing was changed. Try again when it has finished.");
}

// A blocking flock on a thread of its own, so that the lock passes to this run
// the moment its holder lets go (the kernel wakes the waiter) while the caller
// still gives up at its deadline. The waiter works on a duplicate descriptor of
// the same open file, so the lock it takes is the caller's; a waiter given up
// on lets go of whatever it takes and closes its duplicate.
struct BlockingWait {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    bool abandoned = false;
    int error = 0;
};

enum class Waited { locked, refused, unavailable };

Waited waitBlocking(int fd, Clock::time_point deadline, const std::string& name) {
    int duplicate = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (duplicate < 0) return Waited::unavailable;
    auto wait = std::make_shared<BlockingWait>();
    try {
        startThreadWithSignalsBlocked([wait, duplicate] {
            int error = 0;
            while (::flock(duplicate, LOCK_EX) != 0) {
                error = errno;
                if (error != EINTR) break;
                error = 0;
            }
            std::lock_guard<std::mutex> guard(wait->mutex);
            if (wait->abandoned && error == 0) ::flock(duplicate, LOCK_UN);
            ::close(duplicate);
            wait->error = error;
            wait->done = true;
            wait->ended.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        ::close(duplicate);
        return Waited::unavailable;
    }
    std::unique_lock<std::mutex> guard(wait->mutex);
    if (!wait->ended.wait_until(guard, deadline, [&] { return wait->done; })) {
        wait->abandoned = true;
        throwBusy(name);
    }
    if (wait->error == 0) return Waited::locked;
    if (refusesLocks(wait->error)) return Waited::refused;
    throw FileSystemError("Cannot lock " + name + ": " + std::strerror(wait->error));
}

// Takes the lock on `fd` before `deadline`. False when the file system refuses
// locks. Where no waiting thread can be had, it polls in short pauses instead.
bool lockBefore(int fd, Clock::time_point deadline, const std::string& name) {
    bool triedBlocking = false;
    auto pause = std::chrono::microseconds(250);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        int error = errno;
        if (error == EINTR) continue;
        if (refusesLocks(error)) return false;
        if (error != EWOULDBLOCK) throw FileSystemError("Cannot lock " + name + ": " + std::strerror(error));
        if (Clock::now() >= deadline) throwBusy(name);
        if (!triedBlocking) {
            triedBlocking = true;
            Waited waited = waitBlocking(fd, deadline, name);
            if (waited == Waited::locked) return true;
            if (waited == Waited::refused) return false;
            continue;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(4000));
    }
}

// Whether the path names the file that `fd` has open.
bool namesOpenFile(int fd, const std::string& path, bool followLinks) {
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) != 0) return false;
    int status = followLinks ? ::stat(path.c_str(), &named) : ::lstat(path.c_str(), &named);
    return status == 0 && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

double lockWaitSeconds() {
    static const double seconds = [] {
        auto value = environmentValue("MIVORA_LOCK_WAIT_SECONDS");
        if (!value || value->empty()) return kDefaultLockWaitSeconds;
        char* end = nullptr;
        double parsed = std::strtod(value->c_str(), &end);
        if (end == nullptr || *end != '\0' || !std::isfinite(parsed) || parsed < 0)
            return kDefaultLockWaitSeconds;
        return parsed;
    }();
    return seconds;
}

FileLock FileLock::take(const std::string& path, const std::string& storeName, Kind kind) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(lockWaitSeconds()));
    const bool isFolder = kind == Kind::folder;
    for (;;) {
        int fd = isFolder ? ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                          : ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) return FileLock();
        bool locked = false;
        try {
            locked = lockBefore(fd, deadline, storeName);
        } catch (...) {
            ::close(fd);
            throw;
        }
        std::string removed = isFolder ? std::string() : path;
        if (!locked) return FileLock(fd, std::move(removed), false);
        // Replaced (or, for a lock file, removed by the run before us) while we
        // waited: what we hold keeps no one out any more.
        if (namesOpenFile(fd, path, isFolder)) return FileLock(fd, std::move(removed), true);
        ::close(fd);
    }
}

FileLock FileLock::folder(const std::string& path, const std::string& storeName) {
    return take(path, storeName, Kind::folder);
}

FileLock FileLock::file(const std::string& path, const std::string& storeName) {
    return take(path, storeName, Kind::file);
}

FileLock::FileLock(FileLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), removedPath_(std::move(other.removedPath_)),
      locked_(std::exchange(other.locked_, false)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
        removedPath_ = std::move(other.removedPath_);
        locked_ = std::exchange(other.locked_, false);
    }
    return *this;
}

void FileLock::release() noexcept {
    if (fd_ >= 0) {
        // Removed while still held, so that a run waiting on this file finds it
        // gone and makes a new one; never a file that another run put in its place.
        if (!removedPath_.empty() && namesOpenFile(fd_, removedPath_, false)) ::unlink(removedPath_.c_str());
        // Closing the only descriptor releases the lock.
        ::close(fd_);
    }
    fd_ = -1;
    removedPath_.clear();
    locked_ = false;
}

FileLock::~FileLock() {
    release();
}

} // namespace mivora::platform
