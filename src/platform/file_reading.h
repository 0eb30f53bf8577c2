// Reading whole files, the one way every reader in the tool does it: regular
// files only (a FIFO, a device or a folder in place of a file is refused without
// blocking), and never more bytes than the kind of file can sensibly hold, so
// that a damaged or hostile file cannot hang the tool or exhaust memory.
#pragma once

#include "platform/filesystem.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mivora::platform {

// The largest file of one kind that is read, and how messages name that kind.
struct ReadLimit {
    std::string_view kind; // "an Info.plist"
    size_t maxBytes;
};

// Caps chosen from what real files hold, with a wide margin; the README lists them.
namespace read_limits {
// Real ones are a few KB; the largest with long document-type tables stay below 1 MB.
inline constexpr ReadLimit infoPlist{"an Info.plist", 8'000'000};
// The Dock's, the desktop application's and the global preference files: tens of KB.
inline constexpr ReadLimit preferences{"a preference file", 32'000'000};
// About 300 bytes per application.
inline constexpr ReadLimit iconCache{"the icon cache", 32'000'000};
// About 200 bytes per application.
inline constexpr ReadLimit manifest{"a collection manifest", 64'000'000};
inline constexpr ReadLimit prompt{"a style prompt", 1'000'000};
inline constexpr ReadLimit token{"a publish token", 64'000};
// Icon images: a 1024 x 1024 PNG is a few MB, a full ICNS file about 10 MB.
inline constexpr ReadLimit image{"an image", 128'000'000};
// An export of 300 full-size icons (Base64 of about 1.5 MB each) is about 600 MB.
inline constexpr ReadLimit configurationDocument{"a configuration document", 1'000'000'000};
// Searched in place (mapped), never copied; main executables are rarely above 100 MB.
inline constexpr ReadLimit executable{"an application executable", 512'000'000};
// The kernel's own tables (/proc/self/mountinfo, cgroup files): a few KB, a
// host with thousands of mounts about 1 MB.
inline constexpr ReadLimit kernelTable{"a kernel table", 16'000'000};
} // namespace read_limits

// A regular file whose size is over its kind's cap; what() names the file and the cap:
// "Cannot read <path>: larger than 1 MB, the limit for a style prompt".
class FileTooLargeError : public FileSystemError {
public:
    using FileSystemError::FileSystemError;
};

class OpenedFolder;
class OpenedFile;

// Whether a symbolic link at the file's own name is followed.
enum class FinalLink { follow, refuse };

// The whole file. Throws FileSystemError ("Cannot read <path>: <reason>"; "not a
// regular file" for a FIFO or a device) or FileTooLargeError.
std::string readFileContents(const std::string& path, ReadLimit limit);

// The same, or nothing on any failure, for the readers that never fail.
std::optional<std::string> readFile(const std::string& path, ReadLimit limit);

// The file at `relativePath` below `folder`, read into `bytes` (its contents
// replaced, its capacity kept), so that a caller reading many small files
// reuses one buffer. False on any failure, as readFile gives nothing.
bool readFileInto(const OpenedFolder& folder, const std::string& relativePath, ReadLimit limit,
                  std::string& bytes);

// The whole of a file already opened, read into `bytes` (its contents
// replaced). Throws as readFileContents does; `path` names the file in messages.
void readOpenedFile(const OpenedFile& file, const std::string& path, ReadLimit limit, std::string& bytes);

// A folder held open, so that files below it are opened by their path relative
// to it: the kernel then looks up only that part, which counts when one file is
// read in each of a thousand bundles. Files below it may be read from several
// threads at once; its listing is read by one at a time.
class OpenedFolder {
public:
    // Not open (every read below it fails) when `path` cannot be opened as a folder.
    explicit OpenedFolder(const std::string& path);
    ~OpenedFolder();
    OpenedFolder(const OpenedFolder&) = delete;
    OpenedFolder& operator=(const OpenedFolder&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    // The names of its entries ("." and ".." left out) in the listing's order;
    // nothing when it cannot be listed.
    std::optional<std::vector<std::string>> entries() const;

private:
    friend class OpenedFile;
    int fd_ = -1;
    std::string path_;
};

// An open regular file within its cap, for readers that map instead of copying.
class OpenedFile {
public:
    // Throws as readFileContents does; with FinalLink::refuse a link at `path`
    // itself is not followed ("Cannot read <path>: a symbolic link").
    OpenedFile(const std::string& path, ReadLimit limit, FinalLink link = FinalLink::follow);
    // The file at `relativePath` below `folder`; messages name the whole path.
    OpenedFile(const OpenedFolder& folder, const std::string& relativePath, ReadLimit limit);
    ~OpenedFile();
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;

    int descriptor() const { return fd_; }
    // The size the file had when opened (0 for files that claim none, such as those of /proc).
    size_t size() const { return size_; }

private:
    void open(int folder, const std::string& name, const std::string* folderPath, ReadLimit limit,
              FinalLink link = FinalLink::follow);

    int fd_ = -1;
    size_t size_ = 0;
};

} // namespace mivora::platform
