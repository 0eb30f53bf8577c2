// Exclusive advisory locks (flock) that order concurrent runs of the tool
// around a store's read-change-write. A lock lives as long as its holder: the
// kernel releases it when the process ends, however it ends, so a killed run
// never leaves a lock held. Readers take no lock; atomic replacement already
// keeps them from seeing a half-written store.
#pragma once

#include "platform/store_errors.h"

#include <string>

namespace mivora::platform {

// How long a process waits for a lock: 30 s, or MIVORA_LOCK_WAIT_SECONDS (a knob for tests).
double lockWaitSeconds();

// Every lock checks, once it is taken, that its path still names what it
// locked: a folder or lock file moved aside and replaced while the run waited
// is not what the next run locks, so the one now at the path is locked in turn.
// Where the file system refuses locks (some network homes), the run goes on
// without one, as the platform's own tools do there: held() is then false.
class FileLock {
public:
    // Locks an existing folder itself (the folder of a store): no file is made.
    // A folder that cannot be opened is not locked (nothing can be written in
    // it either). Throws StoreBusyError naming `storeName`.
    static FileLock folder(const std::string& path, const std::string& storeName);

    // Locks the lock file at `path`, made (mode 0600) when missing: for a lock
    // whose subject may be replaced or gone, such as an application bundle that
    // an update moves into place. The holder removes the file as it lets go, so
    // that none stays behind; one left by a killed run is taken and removed by
    // the next. A file that cannot be made is not locked. Throws StoreBusyError.
    static FileLock file(const std::string& path, const std::string& storeName);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    // Whether other runs are kept out.
    bool held() const { return locked_; }
    // Lets go before the end of the scope.
    void release() noexcept;

private:
    enum class Kind { folder, file };
    static FileLock take(const std::string& path, const std::string& storeName, Kind kind);
    FileLock() = default;
    FileLock(int fd, std::string removedPath, bool locked)
        : fd_(fd), removedPath_(std::move(removedPath)), locked_(locked) {}

    int fd_ = -1;
    std::string removedPath_; // a lock file of ours, removed on release
    bool locked_ = false;
};

} // namespace mivora::platform
