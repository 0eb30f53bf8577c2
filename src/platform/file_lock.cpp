#include "platform/file_lock.h"

#include "platform/environment.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace mivora::platform {

namespace {

constexpr double kDefaultLockWaitSeconds = 30;

std::string secondsText(double seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", seconds);
    return buffer;
}

// Takes the lock on `fd`, polling so that the wait is bounded; closes `fd` and
// throws when the wait runs out.
void lockOrThrow(int fd, const std::string& name) {
    using Clock = std::chrono::steady_clock;
    const double wait = lockWaitSeconds();
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(wait));
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return;
        int error = errno;
        if (error == EINTR) continue;
        if (error != EWOULDBLOCK) {
            ::close(fd);
            throw FileSystemError("Cannot lock " + name + ": " + std::strerror(error));
        }
        if (Clock::now() >= deadline) {
            ::close(fd);
            throw StoreBusyError(name + " is in use by another mivora process and stayed busy for " +
                                 secondsText(wait) +
                                 " s; nothing was changed. Try again when it has finished.");
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
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

FileLock FileLock::folder(const std::string& path, const std::string& storeName) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return FileLock(-1);
    lockOrThrow(fd, storeName);
    return FileLock(fd);
}

FileLock::FileLock(FileLock&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void FileLock::release() noexcept {
    // Closing the only descriptor releases the lock.
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

FileLock::~FileLock() {
    release();
}

} // namespace mivora::platform
