// Files, folders, links and path text. Every file the tool makes goes through
// one creating write (writeFileAtomically, copyFile, writeFileThrough, PreparedWrite): a
// temporary file in the destination's folder, renamed into place, removed on
// failure, so that a crash or a full disk never leaves a torn file behind.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
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

struct ReadLimit; // file_reading.h

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
bool isRegularFile(const std::string& path); // follows symbolic links
bool isSymbolicLink(const std::string& path);
// Whether something is at the path (links followed). Unlike fileExists, a path
// the file system cannot look into (a folder without search permission) is not
// reported as missing: throws FileSystemError with the real cause.
bool itemExists(const std::string& path);
// Whether the item at `path` (links followed) belongs to our user and neither
// its group nor others may write it: what we run or trust cannot have been
// put there or changed by anyone else.
bool isWritableOnlyByUser(const std::string& path);
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
// otherwise) and renames it into place; on any failure the temporary file is
// removed and the old file, if any, stays. The file gets `permissions`, or by
// default newFileMode(), as any new file would (never a set-id bit); the bytes
// are never readable by others before that. Throws "Cannot write <path>: <reason>".
void writeFileAtomically(const std::string& path, std::string_view bytes,
                         std::optional<unsigned> permissions = std::nullopt,
                         Durability durability = Durability::flushed);
class TemporaryFile;
// A creating write in two steps, for a run that makes its bytes durable before it
// takes a lock and puts them in place inside it: the temporary file is written,
// given its mode and flushed in the destination's folder at construction (throws
// as writeFileAtomically does); commit() renames it into place, if the
// destination's folder is still the one it was made in (a folder replaced
// meanwhile gets nothing), and says whether it did. Removed unless committed,
// from the folder it was made in, wherever that folder has gone.
class PreparedWrite {
public:
    PreparedWrite(const std::string& path, std::string_view bytes,
                  std::optional<unsigned> permissions = std::nullopt,
                  Durability durability = Durability::flushed);
    ~PreparedWrite();
    PreparedWrite(PreparedWrite&&) noexcept;
    PreparedWrite& operator=(PreparedWrite&&) noexcept;

    // The destination.
    const std::string& path() const;
    bool commit();

private:
    std::unique_ptr<TemporaryFile> file_;
};
// The same creating write for a file that another program makes (`sips --out`):
// `produce` is given the temporary file's path to write; what it leaves there (a
// regular file, not empty) becomes `path`. An exception of `produce` is passed on.
void writeFileThrough(const std::string& path, const std::function<void(const std::string&)>& produce,
                      std::optional<unsigned> permissions = std::nullopt,
                      Durability durability = Durability::flushed);
// A copy made by the same creating write: `from` read as file_reading.h reads
// (a regular file within `limit`), the copy at newFileMode(), never the source's bits.
void copyFile(const std::string& from, const std::string& to, const ReadLimit& limit);

// Temporary items of ours that a killed run leaves behind are removed by the
// next run that writes in their folder, once they are older than any run could
// keep one: an item lives across one step of one run (a write, a removal, an
// apply with its lock waits of at most 30 s per store and its programs of at most
// 15 s each, a download or an upload of at most two minutes), so an hour is far
// past the longest.
inline constexpr std::chrono::seconds kLeftoverAge{3600};
// Removes from `folder` the leftovers of killed runs older than kLeftoverAge and
// owned by us: the temporary files of creating writes (".<name>.XXXXXX") whose
// <name> is `writtenName` or carries one of our UUIDs (a cached image), the
// folders a removal moved aside (".<name>.removing-<UUID>"), and in the system
// temporary folder our own items ("mivora-[<kind>-]<UUID>[...]"). Never throws;
// the creating writes and removeItem call it for their folder.
void removeLeftovers(const std::string& folder, std::string_view writtenName = {}) noexcept;
// A fresh path in the system temporary folder: "<tmp>/" + `prefix` + a new UUID
// + `suffix`, as "mivora-extract-<UUID>" or "mivora-<UUID>.png"; old leftovers
// of ours there are removed first.
std::string newTemporaryPath(std::string_view prefix, std::string_view suffix = {});

// Throws the FileSystemError that writeFileAtomically (after creating the
// missing folders) would meet now: a folder that takes no new file, a locked
// (immutable or append-only) file, a folder in the file's place. Lets a command
// refuse before its first change rather than fail half-way.
void checkWritable(const std::string& path);
void moveItem(const std::string& from, const std::string& to);
// Renames a stored file that could not be decoded to "<path>.unreadable-<UUID>"
// before a new one replaces it, so that its bytes survive; returns the new path.
std::string keepUnreadableFileAside(const std::string& path);
// Recursive; a folder is first moved aside in one step (".<name>.removing-<UUID>").
void removeItem(const std::string& path);
bool removeItemQuietly(const std::string& path) noexcept;
void createSymbolicLink(const std::string& linkPath, const std::string& destination);

} // namespace mivora::platform
