#include "platform/file_reading.h"

#include "platform/byte_count.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mivora::platform {

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    throw FileSystemError("Cannot read " + path + ": " + reason);
}

[[noreturn]] void failTooLarge(const std::string& path, ReadLimit limit) {
    throw FileTooLargeError("Cannot read " + path + ": larger than " + byteCountText(limit.maxBytes) +
                            ", the limit for " + std::string(limit.kind));
}

} // namespace

OpenedFile::OpenedFile(const std::string& path, ReadLimit limit, FinalLink link) {
    open(AT_FDCWD, path, nullptr, limit, link);
}

OpenedFile::OpenedFile(const OpenedFolder& folder, const std::string& relativePath, ReadLimit limit) {
    if (!folder.isOpen()) fail(joinPath(folder.path(), relativePath), std::strerror(ENOENT));
    open(folder.fd_, relativePath, &folder.path(), limit);
}

void OpenedFile::open(int folder, const std::string& name, const std::string* folderPath, ReadLimit limit,
                      FinalLink link) {
    // The whole path is spelled out only for a message.
    auto path = [&] { return folderPath ? joinPath(*folderPath, name) : name; };
    // Non-blocking and without a controlling terminal, so that a FIFO or a device
    // in place of the file cannot stall or take over the process before the check below.
    const int noFollow = link == FinalLink::refuse ? O_NOFOLLOW : 0;
    fd_ = ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | noFollow);
    if (fd_ < 0) fail(path(), noFollow && errno == ELOOP ? "a symbolic link" : std::strerror(errno));
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        int error = errno;
        ::close(fd_);
        fd_ = -1;
        fail(path(), std::strerror(error));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        fail(path(), S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file");
    }
    if (info.st_size > 0 && static_cast<uint64_t>(info.st_size) > limit.maxBytes) {
        ::close(fd_);
        fd_ = -1;
        failTooLarge(path(), limit);
    }
    size_ = info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;
}

OpenedFile::~OpenedFile() {
    if (fd_ >= 0) ::close(fd_);
}

namespace {

// Reads the whole of an opened file into `bytes`. It asks for one byte more than
// the size the file had when opened: a regular file that answers with exactly
// that size has ended, so the usual file costs a single read. A file that grew,
// shrank or claims no size (those of /proc) is read on until its end, in chunks,
// never more than one chunk past the cap. The chunks start small and double, so
// that a kernel table of a few hundred bytes does not have 64 KiB cleared for it.
template <class PathOf>
void readWhole(const OpenedFile& file, const PathOf& path, ReadLimit limit, std::string& bytes) {
    constexpr size_t kFirstChunk = 4096, kLargestChunk = 65536;
    bytes.resize(file.size() > 0 ? file.size() + 1 : kFirstChunk);
    size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) bytes.resize(filled + std::clamp(filled, kFirstChunk, kLargestChunk));
        size_t room = bytes.size() - filled;
        ssize_t got = ::read(file.descriptor(), bytes.data() + filled, room);
        if (got < 0) {
            if (errno == EINTR) continue;
            fail(path(), std::strerror(errno));
        }
        if (got == 0) break;
        filled += static_cast<size_t>(got);
        if (filled > limit.maxBytes) failTooLarge(path(), limit);
        if (static_cast<size_t>(got) < room && filled == file.size()) break;
    }
    bytes.resize(filled);
}

} // namespace

void readOpenedFile(const OpenedFile& file, const std::string& path, ReadLimit limit, std::string& bytes) {
    readWhole(
        file, [&] { return path; }, limit, bytes);
}

std::string readFileContents(const std::string& path, ReadLimit limit) {
    OpenedFile file(path, limit);
    std::string bytes;
    readOpenedFile(file, path, limit, bytes);
    return bytes;
}

std::optional<std::string> readFile(const std::string& path, ReadLimit limit) {
    try {
        return readFileContents(path, limit);
    } catch (const FileSystemError&) {
        return std::nullopt;
    }
}

bool readFileInto(const OpenedFolder& folder, const std::string& relativePath, ReadLimit limit,
                  std::string& bytes) {
    try {
        OpenedFile file(folder, relativePath, limit);
        readWhole(
            file, [&] { return joinPath(folder.path(), relativePath); }, limit, bytes);
        return true;
    } catch (const FileSystemError&) {
        return false;
    }
}

OpenedFolder::OpenedFolder(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY | O_NONBLOCK | O_NOCTTY);
}

OpenedFolder::~OpenedFolder() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<std::vector<std::string>> OpenedFolder::entries() const {
    if (fd_ < 0) return std::nullopt;
    // A descriptor of its own for the listing, which closes it; files are opened
    // by name below this one, so the position the two share does not matter.
    int listed = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (listed < 0) return std::nullopt;
    DIR* dir = ::fdopendir(listed);
    if (dir == nullptr) {
        ::close(listed);
        return std::nullopt;
    }
    ::rewinddir(dir);
    std::vector<std::string> names;
    while (struct dirent* entry = ::readdir(dir)) {
        std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

} // namespace mivora::platform
