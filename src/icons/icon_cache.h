// The icon cache: per application path, the custom icon images set for the
// light and the dark appearance. It is shared with the desktop application: the
// file icon-cache.json in the application-support folder (compact JSON, dates
// as seconds since 2001) plus PNG images in the cache folder that its entries name.
#pragma once

#include "apps/installed_app.h"
#include "core/json.h"
#include "core/text.h"
#include "icons/appearance.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace mivora::icons {

struct IconCacheEntry {
    std::string appPath;
    std::string iconFileName;                    // light-slot image in the cache folder
    std::optional<std::string> darkIconFileName; // dark-slot image; may name the same file
    std::string appName;
    double timestamp = 0;                  // seconds since 1 January 2001, last written by cacheIcon
    std::optional<std::string> appVersion; // CFBundleVersion at that time

    core::Json toJson() const;
    // Requires the four mandatory keys with their types; throws otherwise.
    static IconCacheEntry fromJson(const core::Json& json);
    bool operator==(const IconCacheEntry&) const = default;
};

// Application path -> entry; paths that are canonically equivalent are one key.
using IconCache = std::map<std::string, IconCacheEntry, core::CanonicalOrder>;

// The entry of an application, paths compared after dropping one trailing "/"
// from each: an entry kept under "/Applications/Notes.app/" is that of
// "/Applications/Notes.app". The exact key wins.
IconCache::iterator findIconCacheEntry(IconCache& cache, const std::string& appPath);

// The image that a slot names, inside the cache folder; nothing when the name
// is not a single path component or reaches outside the folder through a link
// (a hand-edited or foreign cache file), so such a name is never deleted,
// listed as present or handed to the helper.
std::optional<std::string> cachedImagePath(const std::string& cacheDirectory, const std::string& name);

// The order in which entries are listed and restored: by `appName`, stable, in
// the plain case-sensitive order of strings ("Zed" before "arc").
void sortByAppName(std::vector<IconCacheEntry>& entries);

// ~/Library/Application Support/com.quartelmisko.Mivora/icon-cache.json
std::string iconCacheFilePath();

// The bytes as a cache, or nothing when they are not a JSON object of entries.
std::optional<IconCache> decodeIconCache(std::string_view bytes);
std::string encodeIconCache(const IconCache& cache);

// icon-cache.json when it decodes; otherwise the desktop application's
// preference value "com.mivora.cachedIcons"; otherwise empty. Never merged, never
// fails. For readers that only read; every change goes through updateIconCache.
IconCache loadIconCache();

// The one way to change the cache: holds the cache's lock (its folder) across
// reading it, `change` and, when `change` returns true, writing it back
// atomically, so that concurrent runs never lose each other's entries. The read
// follows the read rule with two guards, so that no entry is lost without a copy:
// a file that exists but cannot be read (permission, not a file) is never
// replaced: FileSystemError names it and nothing is written; a file that does
// not decode is kept as "icon-cache.json.unreadable-<UUID>" before the write.
// Throws platform::StoreBusyError when another run keeps the lock too long.
void updateIconCache(const std::function<bool(IconCache&)>& change);

// Writes the whole cache (through updateIconCache). Throws on an encoding, folder or write error.
void saveIconCache(const IconCache& cache);

// Throws the error that caching an icon would meet now (the cached images
// folder or icon-cache.json cannot be written), before anything is changed.
void checkIconCacheWritable(const std::string& cacheDirectory);

struct CachedIcon {
    std::string file; // the new image in the cache folder
    IconCacheEntry entry;
};
// Copies (or converts) the icon into the cache folder under a new name, records
// it in the application's entry for the slot and deletes the image the slot
// named before unless the other slot still names it. Throws.
CachedIcon cacheIcon(const std::string& iconPath, const apps::InstalledApp& app, IconAppearance appearance,
                     const std::string& cacheDirectory);

struct RemovedDarkIcon {
    bool removed = false;
    std::optional<std::string> lightIconFile; // when removed: the light-slot image to re-apply
};
// Clears the dark slot of the entry under `appPath`. Throws on a write error.
RemovedDarkIcon removeCachedDarkIcon(const std::string& appPath, const std::string& cacheDirectory);

// Removes the entry under `appPath` and its images; false when there was none
// (then nothing is written). Throws on a write error.
bool removeCachedIcons(const std::string& appPath, const std::string& cacheDirectory);

// A data value of the desktop application's preference file, read directly.
std::optional<std::string> readAppPreferenceData(const std::string& key);

// PNG sources are copied (nothing to do when source and destination are the
// same file); anything else is converted by `sips`. Either way the destination
// is made by the creating write: whole or not at all, at the umask's mode. Throws.
void convertImageToPNG(const std::string& source, const std::string& destination);

// CFBundleVersion of <appPath>/Contents/Info.plist when it is text.
std::optional<std::string> readBundleVersion(const std::string& appPath);

} // namespace mivora::icons
