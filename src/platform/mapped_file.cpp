#include "platform/mapped_file.h"

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace mivora::platform {

namespace {

constexpr size_t kReadRatherThanMap = 256 * 1024;

bool containsInMemory(const void* bytes, size_t length, std::string_view needle) {
    return ::memmem(bytes, length, needle.data(), needle.size()) != nullptr;
}

} // namespace

std::optional<bool> fileContainsBytes(const std::string& path, std::string_view needle, ReadLimit limit) {
    try {
        OpenedFile file(path, limit);
        if (needle.empty()) return true;
        size_t length = file.size();
        if (length == 0) {
            // Empty, or a file that claims no size (those of /proc): read it, within the cap.
            auto bytes = readFileContents(path, limit);
            return containsInMemory(bytes.data(), bytes.size(), needle);
        }
        if (length < needle.size()) {
            // Still prove the file readable, as a whole read would.
            char probe;
            return ::read(file.descriptor(), &probe, 1) < 0 ? std::nullopt : std::optional<bool>(false);
        }
        if (length <= kReadRatherThanMap) {
            // Mapping and unmapping cost more than copying a file this small.
            std::string bytes;
            readOpenedFile(file, path, limit, bytes);
            return containsInMemory(bytes.data(), bytes.size(), needle);
        }
        void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, file.descriptor(), 0);
        if (mapped == MAP_FAILED) {
            auto bytes = readFileContents(path, limit);
            return containsInMemory(bytes.data(), bytes.size(), needle);
        }
        ::madvise(mapped, length, MADV_SEQUENTIAL);
        bool found = containsInMemory(mapped, length, needle);
        ::munmap(mapped, length);
        return found;
    } catch (const FileSystemError&) {
        return std::nullopt;
    }
}

} // namespace mivora::platform
