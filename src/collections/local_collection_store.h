// The local collection store: one folder per collection the user authors on
// this machine, under <application support>/collections/<slug>/, holding
// manifest.json (per-application icon status), icons/ (staged Dock-ready
// PNGs), raw/ (the unnormalised inputs), sources/ and the publish token.
// Nothing is kept in memory: every command loads the manifest, changes it and
// saves it back whole, atomically.
#pragma once

#include "core/errors.h"
#include "core/json.h"
#include "core/text.h"
#include "platform/file_lock.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mivora::collections {

// Manifest dates: whole seconds, written as ISO 8601 in UTC ("2026-03-01T09:15:00Z").
using ManifestDate = std::chrono::sys_seconds;
ManifestDate manifestNow();
std::string formatManifestDate(ManifestDate date);
// Accepts the internet date-time form ("Z" or a "+hh:mm" offset), no fractional seconds.
std::optional<ManifestDate> parseManifestDate(std::string_view text);

enum class LocalCollectionIconStatus { pending, done, rejected, skipped };

// "pending", "done", "rejected", "skipped".
std::string rawValue(LocalCollectionIconStatus status);
// Exactly those four lower-case words; nothing for any other text.
std::optional<LocalCollectionIconStatus> localCollectionIconStatus(std::string_view rawValue);

struct LocalCollectionIconEntry {
    std::string appName;
    LocalCollectionIconStatus status = LocalCollectionIconStatus::pending;
    int64_t attempts = 0;
    bool dark = false; // icons/<appSlug>@dark.png is staged
    std::optional<std::string> reason;
    ManifestDate updatedAt{};

    bool operator==(const LocalCollectionIconEntry&) const = default;
};

// Where the collection was published; all absent until the first publish.
struct LocalCollectionPublishState {
    std::optional<std::string> remoteSlug;
    std::optional<ManifestDate> publishedAt;
    std::optional<ManifestDate> finalizedAt;

    bool operator==(const LocalCollectionPublishState&) const = default;
};

class LocalCollectionError : public core::MessageError {
public:
    enum class Kind { invalidSlug, alreadyExists, notFound, badImage, publishFailed };

    static LocalCollectionError invalidSlug(const std::string& slug);
    static LocalCollectionError alreadyExists(const std::string& slug);
    static LocalCollectionError notFound(const std::string& slug);
    static LocalCollectionError badImage(const std::string& message);
    static LocalCollectionError publishFailed(const std::string& message);

    Kind kind() const { return kind_; }

private:
    LocalCollectionError(Kind kind, const std::string& message) : core::MessageError(message), kind_(kind) {}
    Kind kind_;
};

struct LocalCollectionManifest {
    int64_t schema = 1;
    std::string slug;
    std::string name;
    std::string description;
    std::string accent;
    std::optional<std::string> stylePrompt;
    std::optional<std::string> provider;
    ManifestDate createdAt{};
    // By application slug; canonically equivalent slugs are one key.
    std::map<std::string, LocalCollectionIconEntry, core::CanonicalOrder> icons;
    LocalCollectionPublishState publish;

    bool operator==(const LocalCollectionManifest&) const = default;

    // The keys of the entries with status done, in plain string order, every
    // one of them: a key that is no usable file name has no staged icon, but it
    // is still an entry.
    std::vector<std::string> doneAppSlugs() const;

    // --- encoding ------------------------------------------------------------
    core::Json toJson() const;
    // Pretty-printed, keys sorted, ISO 8601 dates, with a final line break.
    std::string encoded() const;
    // Strict: every key required except stylePrompt, provider, reason and the
    // publish state's members; dates only in ISO 8601. Throws core::JSONDecodingError.
    static LocalCollectionManifest decode(std::string_view bytes);

    // --- the store -----------------------------------------------------------
    // <application support>/collections, created on first use (a failure is ignored).
    static const std::string& collectionsRoot();
    static std::string collectionDirectory(const std::string& slug); // <root>/<slug>
    // <root>/<slug> for a write: a real folder inside the root, never a link that
    // would carry the write elsewhere. Throws LocalCollectionError or FileSystemError.
    static std::string writableCollectionDirectory(const std::string& slug);
    static std::string manifestPath(const std::string& slug);     // <root>/<slug>/manifest.json
    static std::string publishTokenPath(const std::string& slug); // <root>/<slug>/publish-token
    // <root>/<slug>/icons/<appSlug>.png, or <appSlug>@dark.png
    static std::string iconPath(const std::string& slug, const std::string& appSlug, bool dark = false);
    // iconPath when the key is a single path component and the file, links
    // resolved, lies inside the collections folder and is no link itself;
    // nothing otherwise (a hand-edited or copied manifest, a planted link).
    static std::optional<std::string> stagedIconFile(const std::string& slug, const std::string& appSlug,
                                                     bool dark = false);
    // Whether an icons key can name a file: one path component. Other keys name
    // no staged icon: they are counted as entries, but never turned into a path.
    static bool isUsableIconKey(std::string_view key);
    // The same as a file URL ("file:///.../Application%20Support/...").
    static std::string iconFileURL(const std::string& slug, const std::string& appSlug);

    // Not empty, at most 64 characters, lower-case letters, decimal digits and
    // "-", beginning with a letter or digit.
    static bool isValidSlug(std::string_view text);
    // Whether <root>/<slug>/manifest.json exists. A slug that is not a single
    // folder name ("", ".", "..", anything with "/") never exists.
    static bool exists(const std::string& slug);
    // Reads and decodes <root>/<slug>/manifest.json; throws FileSystemError or JSONDecodingError.
    static LocalCollectionManifest load(const std::string& slug);
    // The one way to change an existing collection's manifest: loads it, lets
    // `change` change it and saves it back into the folder of `slug`, holding the
    // collection's lock (below) throughout, so that
    // concurrent runs change it one after another instead of overwriting each
    // other. Returns the manifest as saved. Throws LocalCollectionError::notFound,
    // platform::StoreBusyError, what load and save throw, or what `change` throws
    // (then nothing is written).
    static LocalCollectionManifest update(const std::string& slug,
                                          const std::function<void(LocalCollectionManifest&)>& change);
    // The collection's lock: its folder itself. Held by update, and by publish
    // and unpublish while they decide on the publish token and the remote copy
    // it stands for (they then load and save the manifest themselves), so that
    // two runs never both create a remote copy. Throws platform::StoreBusyError.
    static platform::FileLock lock(const std::string& slug);
    // Writes the manifest atomically into the folder of `manifest.slug`; refuses
    // a folder that is a link or reaches outside the root.
    static void save(const LocalCollectionManifest& manifest);
    // Writes it into the folder of `slug`, the collection it was loaded from.
    static void save(const LocalCollectionManifest& manifest, const std::string& slug);
    // Checks the slug, refuses an existing collection, creates the folder with
    // icons/, sources/ and raw/, and saves the manifest. Throws LocalCollectionError
    // or FileSystemError.
    static void create(const LocalCollectionManifest& manifest);
    // The folder names under the root that hold a manifest.json, sorted.
    static std::vector<std::string> listSlugs();

    // The trimmed content of publish-token, or nothing when missing, unreadable or blank.
    static std::optional<std::string> readPublishToken(const std::string& slug);
    // A token as readPublishToken gives it back from a file holding `text`.
    static std::optional<std::string> publishTokenAsRead(std::string_view text);
    // Writes publish-token atomically, readable by the owner only (0600), with
    // the token exactly as the service gave it.
    static void savePublishToken(const std::string& token, const std::string& slug);
    // Deletes publish-token, ignoring every failure.
    static void removePublishToken(const std::string& slug);
};

// Lower-cased, every run of characters other than letters, marks and numbers
// turned into one "-", no dash at either end, cut to 64 characters.
// "  Notion — Beta!" gives "notion-beta".
std::string slugify(std::string_view text);
// The same without the cut: the form application names are matched in.
std::string slugifyWithoutLimit(std::string_view text);
// "visual-studio-code" gives "Visual Studio Code".
std::string titleizeSlug(std::string_view slug);

} // namespace mivora::collections
