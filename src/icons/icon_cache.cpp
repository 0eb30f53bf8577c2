#include "icons/icon_cache.h"

#include "core/containment.h"
#include "core/json_decoding.h"
#include "core/locations.h"
#include "core/shell.h"
#include "core/text.h"
#include "platform/environment.h"
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
    if (auto data = readAppPreferenceData("com.mivora.cachedIcons")) {
        if (auto cache = decodeIconCache(*data)) return *cache;
    }
    return {};
}

void saveIconCache(const IconCache& cache) {
    std::string bytes = encodeIconCache(cache);
    std::string path = iconCacheFilePath();
    platform::createDirectories(platform::parentPath(path));
    platform::writeFileAtomically(path, bytes);
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

CachedIcon cacheIcon(const std::string& iconPath, const core::InstalledApp& app, IconAppearance appearance,
                     const std::string& cacheDirectory) {
    platform::createDirectories(cacheDirectory);
    std::string name = platform::newUUIDString() + ".png";
    const std::string destination = newImagePath(cacheDirectory, name);
    convertImageToPNG(iconPath, destination);

    IconCache cache = loadIconCache();
    std::optional<IconCacheEntry> old;
    if (auto found = findIconCacheEntry(cache, app.path); found != cache.end()) {
        old = found->second;
        // An entry kept under the other spelling moves to this one: one entry per application.
        if (cache.find(app.path) == cache.end()) cache.erase(found);
    }

    IconCacheEntry entry;
    std::optional<std::string> replaced;
    std::optional<std::string> otherSlot;
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
    try {
        saveIconCache(cache);
    } catch (...) {
        // Named by no entry, the new image would only take up room.
        platform::removeItemQuietly(destination);
        throw;
    }

    if (replaced && *replaced != name && replaced != otherSlot) deleteCachedImage(cacheDirectory, *replaced);
    return {destination, entry};
}

RemovedDarkIcon removeCachedDarkIcon(const std::string& appPath, const std::string& cacheDirectory) {
    IconCache cache = loadIconCache();
    auto found = findIconCacheEntry(cache, appPath);
    if (found == cache.end() || !found->second.darkIconFileName) return {};
    std::string darkName = *found->second.darkIconFileName;
    found->second.darkIconFileName.reset();
    std::string lightName = found->second.iconFileName;
    saveIconCache(cache);
    if (darkName != lightName) deleteCachedImage(cacheDirectory, darkName);
    // A name that would leave the cache folder is never handed to the helper.
    return {true, cachedImagePath(cacheDirectory, lightName)};
}

bool removeCachedIcons(const std::string& appPath, const std::string& cacheDirectory) {
    IconCache cache = loadIconCache();
    auto found = findIconCacheEntry(cache, appPath);
    if (found == cache.end()) return false;
    IconCacheEntry entry = found->second;
    cache.erase(found);
    saveIconCache(cache);
    deleteCachedImage(cacheDirectory, entry.iconFileName);
    if (entry.darkIconFileName && *entry.darkIconFileName != entry.iconFileName)
        deleteCachedImage(cacheDirectory, *entry.darkIconFileName);
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
        platform::copyFile(source, destination);
        return;
    }
    core::runShell("sips -s format png " + core::shellQuote(source) + " --out " +
                       core::shellQuote(destination) + " >/dev/null",
                   15.0);
}

std::optional<std::string> readBundleVersion(const std::string& appPath) {
    return core::readInfoString(appPath, "CFBundleVersion");
}

} // namespace mivora::icons
