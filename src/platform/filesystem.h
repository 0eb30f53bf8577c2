// Files, folders, links and path text. Every file the tool writes itself goes
// through writeFileAtomically, so a crash never leaves a torn file behind.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mivora::platform {

// A failed file-system operation; what() names the operation, the path and the reason.
class FileSystemError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// --- path text -------------------------------------------------------------
std::string joinPath(std::string_view base, std::string_view component);
std::string lastPathComponent(std::string_view path);
std::string parentPath(std::string_view path);
// Extension after the last "." of the last component ("" for ".hidden" or none).
std::string pathExtension(std::string_view path);
std::string deletingPathExtension(std::string_view path);
// Lexically resolves "." and ".." and collapses repeated "/" (no link resolution).
std::string standardizePath(std::string_view path);
// "~" and "~/x" become the home folder; "~name/x" that user's home folder.
std::string expandTilde(std::string_view path);
// Drops one trailing "/" (but keeps "/" itself).
std::string droppingTrailingSlash(std::string_view path);

// --- queries ---------------------------------------------------------------
bool fileExists(const std::string& path); // follows symbolic links
bool isDirectory(const std::string& path);
bool isSymbolicLink(const std::string& path);
// Whether something is at the path (links followed). Unlike fileExists, a path
// the file system cannot look into (a folder without search permission) is not
// reported as missing: throws FileSystemError with the real cause.
bool itemExists(const std::string& path);
// Reading a file's bytes: file_reading.h.
std::optional<std::vector<std::string>> listDirectory(const std::string& path);
std::optional<std::string> readSymbolicLink(const std::string& path);
std::optional<std::string> resolveSymbolicLinks(const std::string& path);

// --- changes (throw FileSystemError) ---------------------------------------
void createDirectories(const std::string& path);
bool tryCreateDirectories(const std::string& path) noexcept;
// The mode the user's umask gives a new file: 0666 less the umask's bits
// (0644 under umask 022, 0600 under 077). Read once per process.
unsigned newFileMode();
// How far a write goes before it counts as done.
enum class Durability {
    flushed,   // on the disk (fsync) before the rename: it survives a power cut
    unflushed, // atomic all the same, left to the kernel to write back: for files that
               // a throw-away folder holds, where a flush per file costs more than the work
};
// Writes a temporary file in the same folder, syncs it (unless `durability` says
// otherwise) and renames it into place. The file gets `permissions`, or by default
// newFileMode(), as any new file would; the bytes are never readable by others before that.
void writeFileAtomically(const std::string& path, std::string_view bytes,
                         std::optional<unsigned> permissions = std::nullopt,
                         Durability durability = Durability::flushed);
// Throws the FileSystemError that writeFileAtomically (after creating the
// missing folders) would meet now: a folder that takes no new file, a locked
// (immutable or append-only) file, a folder in the file's place. Lets a command
// refuse before its first change rather than fail half-way.
void checkWritable(const std::string& path);
void copyFile(const std::string& from, const std::string& to);
void moveItem(const std::string& from, const std::string& to);
// Renames a stored file that could not be decoded to "<path>.unreadable-<UUID>"
// before a new one replaces it, so that its bytes survive; returns the new path.
std::string keepUnreadableFileAside(const std::string& path);
void removeItem(const std::string& path); // recursive
bool removeItemQuietly(const std::string& path) noexcept;
void createSymbolicLink(const std::string& linkPath, const std::string& destination);

} // namespace mivora::platform
