#include "icons/icon_cache.h"

#include "core/containment.h"
#include "core/json_decoding.h"
#include "core/locations.h"
#include "core/shell.h"
#include "core/text.h"
#include "platform/environment.h"
#include "platform/file_lock.h"
#include "platform/file_reading.h"
#include "platform/filesystem.h"
#include "platform/property_list.h"
#include "platform/uuid.h"

#include <algorithm>
#include <stdexcept>

namespace mivora::icons {

namespace {

void deleteCachedImage(const std::string& cacheDirectory, const std::string& name) {
    if (auto path = cachedImagePath(cacheDirectory, name)) platform::removeItemQuietly(*path);
}

// The desktop application's copy, read when icon-cache.json is missing or does not decode.
IconCache preferenceFallback() {
    if (auto data = readAppPreferenceData("com.mivora.cachedIcons")) {
        if (auto cache = decodeIconCache(*data)) return *cache;
    }
    return {};
}

} // namespace

core::Json IconCacheEntry::toJson() const {
    core::Json json = core::Json::object();
    json["appPath"] = appPath;
    json["iconFileName"] = iconFileName;
    core::setOptional(json, "darkIconFileName", darkIconFileName);
    json["appName"] = appName;
    json["timestamp"] = timestamp;
    core::setOptional(json, "appVersion", appVersion);
    return json;
}

IconCacheEntry IconCacheEntry::fromJson(const core::Json& json) {
    auto optionalString = [&](const char* key) -> std::optional<std::string> {
        if (!json.contains(key) || json.at(key).is_null()) return std::nullopt;
        return json.at(key).get<std::string>();
    };
    IconCacheEntry entry;
    entry.appPath = json.at("appPath").get<std::string>();
    entry.iconFileName = json.at("iconFileName").get<std::string>();
    entry.darkIconFileName = optionalString("darkIconFileName");
    entry.appName = json.at("appName").get<std::string>();
    const auto& timestamp = json.at("timestamp");
    if (!timestamp.is_number()) throw std::invalid_argument("timestamp is not a number");
    entry.timestamp = timestamp.get<double>();
    entry.appVersion = optionalString("appVersion");
    return entry;
}

std::optional<std::string> cachedImagePath(const std::string& cacheDirectory, const std::string& name) {
    return core::containedChild(cacheDirectory, name);
}

void sortByAppName(std::vector<IconCacheEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const IconCacheEntry& a, const IconCacheEntry& b) {
        return core::compareCanonically(a.appName, b.appName) < 0;
    });
}

IconCache::iterator findIconCacheEntry(IconCache& cache, const std::string& appPath) {
    auto found = cache.find(appPath);
    if (found != cache.end()) return found;
    std::string bare = platform::droppingTrailingSlash(appPath);
    return cache.find(bare == appPath ? appPath + "/" : bare);
}

std::string iconCacheFilePath() {
    return platform::homeDirectory() + "/Library/Application Support/" + core::kBundleIdentifier +
           "/icon-cache.json";
}

std::optional<IconCache> decodeIconCache(std::string_view bytes) {
    try {
        auto json = core::parseJSONDocument<core::Json>(bytes);
        if (!json.is_object()) return std::nullopt;
        IconCache cache;
        for (const auto& [key, value] : json.items())
            cache[key] = IconCacheEntry::fromJson(value);
        return cache;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string encodeIconCache(const IconCache& cache) {
    core::Json json = core::Json::object();
    for (const auto& [path, entry] : cache)
        json[path] = entry.toJson();
    return core::writeJSON(json, core::JSONStyle::compact);
}

IconCache loadIconCache() {
    if (auto bytes = platform::readFile(iconCacheFilePath(), platform::read_limits::iconCache)) {
        if (auto cache = decodeIconCache(*bytes)) return *cache;
    }
    return preferenceFallback();
}

void updateIconCache(const std::function<bool(IconCache&)>& change) {
    const std::string path = iconCacheFilePath();
    // The folder is shared with the desktop application: the lock is the folder
    // itself, not a file of ours in it.
    platform::createDirectories(platform::parentPath(path));
    platform::FileLock lock = platform::FileLock::folder(platform::parentPath(path), path);

    std::optional<std::string> bytes;
    bool undecodable = false;
    try {
        bytes = platform::readFileContents(path, platform::read_limits::iconCache);
    } catch (const platform::FileTooLargeError&) {
        undecodable = true;
    } catch (const platform::FileSystemError& error) {
        if (platform::fileExists(path)) {
            throw platform::UnchangedStoreError(error.what(),
                                                "; the icon cache was left as it is and nothing was changed");
        }
    }
    IconCache cache;
    std::optional<IconCache> decoded = bytes ? decodeIconCache(*bytes) : std::nullopt;
    if (bytes && !decoded) undecodable = true;
    cache = decoded ? std::move(*decoded) : preferenceFallback();

    if (!change(cache)) return;
    std::string encoded = encodeIconCache(cache);
    if (undecodable) platform::keepUnreadableFileAside(path);
    platform::writeFileAtomically(path, encoded);
}

void saveIconCache(const IconCache& cache) {
    updateIconCache([&](IconCache& stored) {
        stored = cache;
        return true;
    });
}

namespace {

// Images are written only into a real cache folder, never through a link planted in its place.
std::string newImagePath(const std::string& cacheDirectory, const std::string& name) {
    auto contained = core::containedChild(cacheDirectory, name);
    if (!contained) {
        throw platform::FileSystemError("Cannot write into " + cacheDirectory +
                                        ": it is a symbolic link or lies outside its own folder");
    }
    return *contained;
}

} // namespace

void checkIconCacheWritable(const std::string& cacheDirectory) {
    platform::checkWritable(newImagePath(cacheDirectory, "icon.png"));
    platform::checkWritable(iconCacheFilePath());
}

CachedIcon cacheIcon(const std::string& iconPath, const apps::InstalledApp& app, IconAppearance appearance,
                     const std::string& cacheDirectory) {
    platform::createDirectories(cacheDirectory);
    std::string name = platform::newUUIDString() + ".png";
    const std::string destination = newImagePath(cacheDirectory, name);
    convertImageToPNG(iconPath, destination);

    IconCacheEntry entry;
    std::optional<std::string> replaced;
    std::optional<std::string> otherSlot;
    try {
        updateIconCache([&](IconCache& cache) {
            std::optional<IconCacheEntry> old;
            if (auto found = findIconCacheEntry(cache, app.path); found != cache.end()) {
                old = found->second;
                // An entry kept under the other spelling moves to this one: one entry per application.
                if (cache.find(app.path) == cache.end()) cache.erase(found);
            }
            if (appearance == IconAppearance::dark) {
                entry.iconFileName = old ? old->iconFileName : name; // a first dark icon fills both slots
                entry.darkIconFileName = name;
                if (old) replaced = old->darkIconFileName;
                otherSlot = entry.iconFileName;
            } else {
                entry.iconFileName = name;
                if (old) entry.darkIconFileName = old->darkIconFileName;
                if (old) replaced = old->iconFileName;
                otherSlot = entry.darkIconFileName;
            }
            entry.appPath = app.path;
            entry.appName = app.name;
            entry.timestamp = core::secondsSinceReferenceDate();
            entry.appVersion = readBundleVersion(app.path);
            cache[app.path] = entry;
            return true;
        });
    } catch (...) {
        // Named by no entry, the new image would only take up room.
        platform::removeItemQuietly(destination);
        throw;
    }

    if (replaced && *replaced != name && replaced != otherSlot) deleteCachedImage(cacheDirectory, *replaced);
    return {destination, entry};
}

RemovedDarkIcon removeCachedDarkIcon(const std::string& appPath, const std::string& cacheDirectory) {
    std::optional<std::string> darkName;
    std::string lightName;
    updateIconCache([&](IconCache& cache) {
        auto found = findIconCacheEntry(cache, appPath);
        if (found == cache.end() || !found->second.darkIconFileName) return false;
        darkName = found->second.darkIconFileName;
        found->second.darkIconFileName.reset();
        lightName = found->second.iconFileName;
        return true;
    });
    if (!darkName) return {};
    if (*darkName != lightName) deleteCachedImage(cacheDirectory, *darkName);
    // A name that would leave the cache folder is never handed to the helper.
    return {true, cachedImagePath(cacheDirectory, lightName)};
}

bool removeCachedIcons(const std::string& appPath, const std::string& cacheDirectory) {
    std::optional<IconCacheEntry> entry;
    updateIconCache([&](IconCache& cache) {
        auto found = findIconCacheEntry(cache, appPath);
        if (found == cache.end()) return false;
        entry = found->second;
        cache.erase(found);
        return true;
    });
    if (!entry) return false;
    deleteCachedImage(cacheDirectory, entry->iconFileName);
    if (entry->darkIconFileName && *entry->darkIconFileName != entry->iconFileName)
        deleteCachedImage(cacheDirectory, *entry->darkIconFileName);
    return true;
}

std::optional<std::string> readAppPreferenceData(const std::string& key) {
    auto defaults =
        platform::readPropertyListDictionary(core::appDefaultsPath(), platform::read_limits::preferences);
    if (!defaults) return std::nullopt;
    return defaults->view()[key].data();
}

void convertImageToPNG(const std::string& source, const std::string& destination) {
    bool png = core::lowercased(platform::pathExtension(source)) == "png";
    if (png && platform::standardizePath(source) == platform::standardizePath(destination)) return;
    if (png) {
        platform::copyFile(source, destination, platform::read_limits::image);
        return;
    }
    // sips writes a temporary file of ours, so that a failed or cut-short
    // conversion leaves no partial image, and the image gets our mode, not sips's.
    platform::writeFileThrough(destination, [&](const std::string& output) {
        core::runShell("sips -s format png " + core::shellQuote(source) + " --out " +
                           core::shellQuote(output) + " >/dev/null",
                       15.0);
    });
}

std::optional<std::string> readBundleVersion(const std::string& appPath) {
    return apps::readInfoString(appPath, "CFBundleVersion");
}

} // namespace mivora::icons
