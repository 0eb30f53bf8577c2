#include "platform/file_reading.h"

#include "platform/formatting.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mivora::platform {

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    throw FileSystemError("Cannot read " + path + ": " + reason);
}

[[noreturn]] void failTooLarge(const std::string& path, ReadLimit limit) {
    throw FileTooLargeError("Cannot read " + path + ": larger than " + formatByteCount(limit.maxBytes) +
                            ", the limit for " + std::string(limit.kind));
}

} // namespace

OpenedFile::OpenedFile(const std::string& path, ReadLimit limit) {
    // Non-blocking and without a controlling terminal, so that a FIFO or a device
    // in place of the file cannot stall or take over the process before the check below.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0) fail(path, std::strerror(errno));
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        int error = errno;
        ::close(fd_);
        fail(path, std::strerror(error));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd_);
        fail(path, S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file");
    }
    if (info.st_size > 0 && static_cast<uint64_t>(info.st_size) > limit.maxBytes) {
        ::close(fd_);
        failTooLarge(path, limit);
    }
    size_ = info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;
}

OpenedFile::~OpenedFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::string readFileContents(const std::string& path, ReadLimit limit) {
    OpenedFile file(path, limit);
    // The size the file had when opened is read in place; bytes beyond it (a file
    // that grows, or one of /proc that claims no size) are appended in chunks, and
    // never more than one chunk past the cap.
    std::string bytes;
    bytes.resize(file.size());
    size_t filled = 0;
    char chunk[65536];
    for (;;) {
        bool inPlace = filled < bytes.size();
        char* target = inPlace ? bytes.data() + filled : chunk;
        size_t room = inPlace ? bytes.size() - filled : sizeof chunk;
        ssize_t got = ::read(file.descriptor(), target, room);
        if (got < 0) {
            if (errno == EINTR) continue;
            fail(path, std::strerror(errno));
        }
        if (got == 0) break;
        if (!inPlace) bytes.append(chunk, static_cast<size_t>(got));
        filled += static_cast<size_t>(got);
        if (filled > limit.maxBytes) failTooLarge(path, limit);
    }
    bytes.resize(filled);
    return bytes;
}

std::optional<std::string> readFile(const std::string& path, ReadLimit limit) {
    try {
        return readFileContents(path, limit);
    } catch (const FileSystemError&) {
        return std::nullopt;
    }
}

} // namespace mivora::platform
