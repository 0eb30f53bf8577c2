#include "platform/mapped_file.h"

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/filesystem.h"

namespace mivora::platform {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool containsInMemory(const void* bytes, size_t length, std::string_view needle) {
    return ::memmem(bytes, length, needle.data(), needle.size()) != nullptr;
}

} // namespace

std::optional<bool> fileContainsBytes(const std::string& path, std::string_view needle) {
    // Non-blocking, so that a FIFO in place of the file cannot stall us before the check below.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    if (needle.empty()) return true;
    auto length = static_cast<size_t>(info.st_size);
    if (length < needle.size()) {
        // Still prove the file readable, as a whole read would.
        char probe;
        return ::read(file.get(), &probe, 1) < 0 ? std::nullopt : std::optional<bool>(false);
    }
    void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, file.get(), 0);
    if (mapped == MAP_FAILED) {
        auto bytes = readFile(path);
        if (!bytes) return std::nullopt;
        return containsInMemory(bytes->data(), bytes->size(), needle);
    }
    ::madvise(mapped, length, MADV_SEQUENTIAL);
    bool found = containsInMemory(mapped, length, needle);
    ::munmap(mapped, length);
    return found;
}

} // namespace mivora::platform
