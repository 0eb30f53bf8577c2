#include "platform/filesystem.h"

#include "platform/environment.h"
#include "platform/file_reading.h"
#include "platform/uuid.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mivora::platform {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
    throw FileSystemError(what + " " + path + ": " + std::strerror(error));
}

std::string_view trimmedTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

} // namespace

std::string joinPath(std::string_view base, std::string_view component) {
    if (base.empty()) return std::string(component);
    if (component.empty()) return std::string(base);
    std::string result(base);
    if (result.back() != '/') result += '/';
    while (!component.empty() && component.front() == '/')
        component.remove_prefix(1);
    result += component;
    return result;
}

std::string lastPathComponent(std::string_view path) {
    path = trimmedTrailingSlashes(path);
    if (path == "/") return "/";
    auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string parentPath(std::string_view path) {
    path = trimmedTrailingSlashes(path);
    auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return "";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string pathExtension(std::string_view path) {
    std::string name = lastPathComponent(path);
    auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return "";
    return name.substr(dot + 1);
}

std::string deletingPathExtension(std::string_view path) {
    std::string trimmed(trimmedTrailingSlashes(path));
    std::string extension = pathExtension(trimmed);
    if (extension.empty()) return trimmed;
    return trimmed.substr(0, trimmed.size() - extension.size() - 1);
}

std::string standardizePath(std::string_view path) {
    bool absolute = !path.empty() && path.front() == '/';
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == ".") {
        } else if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (!absolute)
                parts.emplace_back("..");
        } else {
            parts.emplace_back(part);
        }
        start = end + 1;
    }
    std::string result = absolute ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) result += '/';
        result += parts[i];
    }
    if (result.empty()) result = absolute ? "/" : ".";
    return result;
}

std::string expandTilde(std::string_view path) {
    if (path.empty() || path.front() != '~') return std::string(path);
    auto slash = path.find('/');
    std::string_view user =
        path.substr(1, slash == std::string_view::npos ? std::string_view::npos : slash - 1);
    std::string rest = slash == std::string_view::npos ? "" : std::string(path.substr(slash));
    if (user.empty()) return homeDirectory() + rest;
    struct passwd* entry = ::getpwnam(std::string(user).c_str());
    if (entry == nullptr || entry->pw_dir == nullptr) return std::string(path);
    return std::string(entry->pw_dir) + rest;
}

std::string droppingTrailingSlash(std::string_view path) {
    if (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return std::string(path);
}

bool fileExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool isSymbolicLink(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool itemExists(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) return true;
    if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG || path.empty()) return false;
    fail("Cannot access", path, errno);
}

bool isWritableOnlyByUser(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && info.st_uid == ::geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::optional<std::vector<std::string>> listDirectory(const std::string& path) {
    return OpenedFolder(path).entries();
}

std::optional<std::string> readSymbolicLink(const std::string& path) {
    std::vector<char> buffer(PATH_MAX);
    ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0) return std::nullopt;
    return std::string(buffer.data(), static_cast<size_t>(length));
}

std::optional<std::string> resolveSymbolicLinks(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr) return std::nullopt;
    return std::string(buffer);
}

void createDirectories(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error && !isDirectory(path)) fail("Cannot create folder", path, error.value());
    if (!isDirectory(path)) fail("Cannot create folder", path, ENOTDIR);
}

bool tryCreateDirectories(const std::string& path) noexcept {
    try {
        createDirectories(path);
        return true;
    } catch (...) {
        return false;
    }
}

unsigned newFileMode() {
    static const unsigned mode = [] {
        // /proc tells the umask without changing it; setting it and back is the
        // fallback (this runs once, before any file is written).
        mode_t mask = 022;
        bool known = false;
        char status[1024] = {}; // "Umask:" is among the first lines
        int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ssize_t got = ::read(fd, status, sizeof status - 1);
            ::close(fd);
            const char* line = got > 0 ? std::strstr(status, "\nUmask:") : nullptr;
            if (line) {
                char* end = nullptr;
                unsigned long value = std::strtoul(line + 7, &end, 8);
                known = end != line + 7 && value <= 0777;
                if (known) mask = static_cast<mode_t>(value);
            }
        }
        if (!known) {
            mask = ::umask(022);
            ::umask(mask);
        }
        return static_cast<unsigned>(0666 & ~mask);
    }();
    return mode;
}

namespace {

bool isUUIDAt(std::string_view text, size_t offset) {
    if (text.size() < offset + 36) return false;
    for (size_t i = 0; i < 36; ++i) {
        char c = text[offset + i];
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

bool carriesUUID(std::string_view text) {
    for (size_t offset = 0; offset + 36 <= text.size(); ++offset) {
        if (isUUIDAt(text, offset)) return true;
    }
    return false;
}

bool isAlphanumeric(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// ".<name>.XXXXXX", the six characters as mkstemp makes them; only a <name> we
// know to be ours counts, so that a user's ".notes.backup" is never touched.
bool isTemporaryFileName(std::string_view name, std::string_view writtenName) {
    if (name.size() < 9 || name.front() != '.' || name[name.size() - 7] != '.') return false;
    if (!std::all_of(name.end() - 6, name.end(), isAlphanumeric)) return false;
    std::string_view target = name.substr(1, name.size() - 8);
    return (!writtenName.empty() && target == writtenName) || carriesUUID(target);
}

// ".<name>.removing-<UUID>", a folder removeItem moved aside.
bool isAsideName(std::string_view name) {
    constexpr std::string_view marker = ".removing-";
    if (name.size() < 1 + 1 + marker.size() + 36 || name.front() != '.') return false;
    size_t at = name.size() - 36 - marker.size();
    return name.substr(at, marker.size()) == marker && isUUIDAt(name, at + marker.size());
}

// "mivora-<UUID>..." or "mivora-<kind>-<UUID>...": our items in the temporary folder.
bool isTemporaryItemName(std::string_view name) {
    constexpr std::string_view product = "mivora-";
    if (!name.starts_with(product)) return false;
    size_t at = product.size();
    if (isUUIDAt(name, at)) return true;
    while (at < name.size() && name[at] >= 'a' && name[at] <= 'z')
        ++at;
    return at > product.size() && at < name.size() && name[at] == '-' && isUUIDAt(name, at + 1);
}

bool sameFolder(const std::string& a, const std::string& b) {
    return droppingTrailingSlash(standardizePath(a)) == droppingTrailingSlash(standardizePath(b));
}

// A temporary file's name: ".<name>." and six letters or digits, as mkstemp
// makes them (here the first six of a fresh UUID).
std::string temporaryName(const std::string& name) {
    std::string result;
    result.reserve(name.size() + 8);
    result.append(1, '.').append(name).append(1, '.').append(newUUIDString(), 0, 6);
    return result;
}

} // namespace

// The temporary file of one creating write: made in the destination's folder
// (so that the rename is atomic), removed unless it became the file. The folder
// is held open, so that the file is renamed or removed in the folder it was made
// in, wherever that folder has gone since.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& path) : target_(path), targetName_(lastPathComponent(path)) {
        folderPath_ = parentPath(path);
        if (folderPath_.empty()) folderPath_ = ".";
        removeLeftovers(folderPath_, targetName_);
        // A handle on the folder alone: a folder that may be written but not listed still takes the file.
        folder_ = ::open(folderPath_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder_ < 0) fail(errno);
        // Created 0600, so the bytes are never readable by others before the
        // file gets its final mode.
        for (int attempt = 0; fd_ < 0; ++attempt) {
            name_ = temporaryName(targetName_);
            fd_ = ::openat(folder_, name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd_ < 0 && (errno != EEXIST || attempt == 100)) {
                const int error = errno;
                ::close(folder_); // no destructor runs for a constructor that throws
                fail(error);
            }
        }
    }
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_) ::unlinkat(folder_, name_.c_str(), 0);
        ::close(folder_);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& target() const { return target_; }
    std::string path() const { return joinPath(folderPath_, name_); }

    [[noreturn]] void fail(int error) const { ::mivora::platform::fail("Cannot write", target_, error); }

    void write(std::string_view bytes) const {
        const char* data = bytes.data();
        size_t left = bytes.size();
        while (left > 0) {
            ssize_t wrote = ::write(fd_, data, left);
            if (wrote < 0) {
                if (errno == EINTR) continue;
                fail(errno);
            }
            data += wrote;
            left -= static_cast<size_t>(wrote);
        }
    }

    // Hands the path to a program that writes it, then takes up what it left
    // there: a regular file (a link is not followed) with something in it.
    void produceWith(const std::function<void(const std::string&)>& produce) {
        ::close(fd_);
        fd_ = -1;
        produce(path());
        fd_ = ::openat(folder_, name_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (fd_ < 0) fail(errno);
        struct stat info {};
        if (::fstat(fd_, &info) != 0) fail(errno);
        if (!S_ISREG(info.st_mode)) fail(EINVAL);
        if (info.st_size == 0) fail(ENODATA);
    }

    // Gives the file its mode and flushes it: all that is left is the rename.
    void finish(std::optional<unsigned> permissions, Durability durability) {
        const auto mode = static_cast<mode_t>(permissions.value_or(newFileMode()) & 0777);
        if (::fchmod(fd_, mode) != 0) fail(errno);
        if (durability == Durability::flushed && ::fsync(fd_) != 0) fail(errno);
        int closed = ::close(fd_);
        fd_ = -1;
        if (closed != 0) fail(errno);
    }

    // Whether the destination's folder, looked up now, is the folder the file was made in.
    bool folderStillInPlace() const {
        struct stat held {};
        struct stat named {};
        return ::fstat(folder_, &held) == 0 && ::stat(folderPath_.c_str(), &named) == 0 &&
               held.st_dev == named.st_dev && held.st_ino == named.st_ino;
    }

    // Renames the finished file into place.
    void rename() {
        if (::renameat(folder_, name_.c_str(), folder_, targetName_.c_str()) != 0) fail(errno);
        committed_ = true;
    }

    void commit(std::optional<unsigned> permissions, Durability durability) {
        finish(permissions, durability);
        rename();
    }

private:
    std::string target_;
    std::string targetName_;
    std::string folderPath_;
    int folder_ = -1;
    std::string name_;
    int fd_ = -1;
    bool committed_ = false;
};

PreparedWrite::PreparedWrite(const std::string& path, std::string_view bytes,
                             std::optional<unsigned> permissions, Durability durability)
    : file_(std::make_unique<TemporaryFile>(path)) {
    file_->write(bytes);
    file_->finish(permissions, durability);
}

PreparedWrite::~PreparedWrite() = default;
PreparedWrite::PreparedWrite(PreparedWrite&&) noexcept = default;
PreparedWrite& PreparedWrite::operator=(PreparedWrite&&) noexcept = default;

const std::string& PreparedWrite::path() const {
    return file_->target();
}

bool PreparedWrite::commit() {
    if (!file_ || !file_->folderStillInPlace()) return false;
    try {
        file_->rename();
        return true;
    } catch (const FileSystemError&) {
        return false;
    }
}

// A replaced file is not kept at its old mode: like the platform's atomic write,
// the new file is a new file and gets the mode that the umask gives one.
void writeFileAtomically(const std::string& path, std::string_view bytes, std::optional<unsigned> permissions,
                         Durability durability) {
    TemporaryFile file(path);
    file.write(bytes);
    file.commit(permissions, durability);
}

void writeFileThrough(const std::string& path, const std::function<void(const std::string&)>& produce,
                      std::optional<unsigned> permissions, Durability durability) {
    TemporaryFile file(path);
    file.produceWith(produce);
    file.commit(permissions, durability);
}

void copyFile(const std::string& from, const std::string& to, const ReadLimit& limit) {
    writeFileAtomically(to, readFileContents(from, limit));
}

void removeLeftovers(const std::string& folder, std::string_view writtenName) noexcept {
    try {
        const bool temporaryFolder = sameFolder(folder, temporaryDirectory());
        auto entries = OpenedFolder(folder).entries();
        if (!entries) return;
        const auto oldest = std::chrono::system_clock::now() - kLeftoverAge;
        const uid_t user = ::geteuid();
        for (const auto& name : *entries) {
            const bool temporaryFile = isTemporaryFileName(name, writtenName);
            if (!temporaryFile && !isAsideName(name) && !(temporaryFolder && isTemporaryItemName(name)))
                continue;
            const std::string path = joinPath(folder, name);
            struct stat info {};
            if (::lstat(path.c_str(), &info) != 0 || info.st_uid != user) continue;
            if (temporaryFile && !S_ISREG(info.st_mode)) continue;
            if (std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec) >= oldest) continue;
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } catch (...) {
        // A sweep that cannot run leaves the leftovers for the next one.
    }
}

std::string newTemporaryPath(std::string_view prefix, std::string_view suffix) {
    const std::string& folder = temporaryDirectory();
    removeLeftovers(folder);
    return joinPath(folder, std::string(prefix) + newUUIDString() + std::string(suffix));
}

void checkWritable(const std::string& path) {
    // The nearest folder that exists must take new entries (the file, or the
    // folders that lead to it).
    std::string folder = parentPath(path);
    if (folder.empty()) folder = ".";
    while (!itemExists(folder)) {
        folder = parentPath(folder);
        if (folder.empty()) folder = ".";
    }
    if (!isDirectory(folder)) fail("Cannot write", path, ENOTDIR);
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        fail("Cannot write in", folder, errno);
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) fail("Cannot write", path, EISDIR);
    if (!S_ISREG(info.st_mode)) return;
    // A locked file cannot be replaced, even in a folder that takes new files.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return;
    int flags = 0;
    bool locked =
        ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
    ::close(fd);
    if (locked) fail("Cannot write", path, EPERM);
}

void moveItem(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) fail("Cannot move " + from + " to", to, errno);
}

std::string keepUnreadableFileAside(const std::string& path) {
    std::string aside = path + ".unreadable-" + newUUIDString();
    moveItem(path, aside);
    return aside;
}

void removeItem(const std::string& path) {
    // A folder is first moved aside in one step, so that a removal refused half-way
    // (a folder that takes no changes) never leaves it half emptied.
    std::string doomed = path;
    std::string folder = parentPath(path);
    if (folder.empty()) folder = ".";
    removeLeftovers(folder);
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        doomed = joinPath(folder, "." + lastPathComponent(path) + ".removing-" + newUUIDString());
        if (::rename(path.c_str(), doomed.c_str()) != 0) fail("Cannot remove", path, errno);
        // Dated now, so that another run never takes a removal under way for a leftover.
        ::utimensat(AT_FDCWD, doomed.c_str(), nullptr, AT_SYMLINK_NOFOLLOW);
    }
    std::error_code error;
    std::filesystem::remove_all(doomed, error);
    if (error) fail("Cannot remove", path, error.value());
}

bool removeItemQuietly(const std::string& path) noexcept {
    std::error_code error;
    return std::filesystem::remove_all(path, error) > 0 && !error;
}

void createSymbolicLink(const std::string& linkPath, const std::string& destination) {
    if (::symlink(destination.c_str(), linkPath.c_str()) != 0) fail("Cannot create link", linkPath, errno);
}

} // namespace mivora::platform
