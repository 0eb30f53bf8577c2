// Exclusive advisory locks (flock) that order concurrent runs of the tool
// around a store's read-change-write. A lock lives as long as its holder: the
// kernel releases it when the process ends, however it ends, so a killed run
// never leaves anything to clean up. Readers take no lock; atomic replacement
// already keeps them from seeing a half-written store.
#pragma once

#include "platform/filesystem.h"

#include <string>

namespace mivora::platform {

// A store stayed locked by another process for the whole wait; nothing was changed.
class StoreBusyError : public FileSystemError {
public:
    using FileSystemError::FileSystemError;
};

// How long a process waits for a lock: 30 s, or MIVORA_LOCK_WAIT_SECONDS (a knob for tests).
double lockWaitSeconds();

class FileLock {
public:
    // Locks an existing folder itself (the folder of a store, or an application
    // bundle): no file is made. A folder that cannot be opened is not locked
    // (nothing can be written in it either). Throws StoreBusyError naming `storeName`.
    static FileLock folder(const std::string& path, const std::string& storeName);

    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    bool held() const { return fd_ >= 0; }
    // Lets go before the end of the scope.
    void release() noexcept;

private:
    explicit FileLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

} // namespace mivora::platform
