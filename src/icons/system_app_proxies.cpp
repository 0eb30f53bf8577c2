#include "icons/system_app_proxies.h"

#include "core/base64.h"
#include "core/containment.h"
#include "core/errors.h"
#include "core/json_decoding.h"
#include "core/locations.h"
#include "core/text.h"
#include "icons/icon_cache.h"
#include "platform/environment.h"
#include "platform/file_lock.h"
#include "platform/file_url.h"
#include "platform/filesystem.h"
#include "platform/interruption.h"
#include "platform/preferences.h"
#include "platform/process.h"
#include "platform/store_errors.h"

#include <array>

namespace mivora::icons {

namespace {

constexpr const char* kRecordsKey = "com.mivora.systemAppProxies";
constexpr const char* kDockDomain = "com.apple.dock";
constexpr const char* kPersistentApps = "persistent-apps";
constexpr const char* kLaunchServicesRegister = "/System/Library/Frameworks/CoreServices.framework/"
                                                "Frameworks/LaunchServices.framework/Support/lsregister";

bool samePath(const std::string& a, const std::string& b) {
    return core::canonicallyEqual(platform::droppingTrailingSlash(a), platform::droppingTrailingSlash(b));
}

// A record's proxy path, only when it names something inside the proxy folder;
// a damaged or hand-edited record is never followed anywhere else.
std::optional<std::string> containedProxyPath(const std::string& path) {
    return core::containedPath(path, systemAppsProxyDirectory());
}

// Anything at the path, a dangling link included.
bool somethingExists(const std::string& path) {
    return platform::fileExists(path) || platform::isSymbolicLink(path);
}

struct DockTiles {
    platform::PreferenceDomain domain;
    platform::Plist tiles;
};

std::optional<DockTiles> loadDockTiles() {
    auto domain = platform::PreferenceDomain::synchronize(kDockDomain);
    auto tiles = domain.value(kPersistentApps);
    if (!tiles.isArray()) return std::nullopt;
    for (size_t i = 0; i < tiles.size(); ++i) {
        if (!tiles.at(i).isDictionary()) return std::nullopt;
    }
    auto copy = platform::Plist::copyOf(tiles);
    return DockTiles{std::move(domain), std::move(copy)};
}

// The first tile that names `path`, as a binary property list.
std::optional<std::string> firstDockTileData(const std::string& path) {
    auto dock = loadDockTiles();
    if (!dock) return std::nullopt;
    for (size_t i = 0; i < dock->tiles.view().size(); ++i) {
        auto tile = dock->tiles.view().at(i);
        auto tilePath = dockTileFilePath(tile);
        if (!tilePath || !samePath(*tilePath, path)) continue;
        std::string bytes = platform::Plist::copyOf(tile).toBinary();
        if (bytes.empty()) return std::nullopt;
        return bytes;
    }
    return std::nullopt;
}

bool dockNames(const std::string& path) {
    auto tiles = readDockPersistentApps();
    if (!tiles) return false;
    for (size_t i = 0; i < tiles->view().size(); ++i) {
        auto tilePath = dockTileFilePath(tiles->view().at(i));
        if (tilePath && samePath(*tilePath, path)) return true;
    }
    return false;
}

// Every tile that names `path` replaced by `replacement(tile)`; whether one was.
// The tiles are read, changed and written under the preferences' lock, so that
// concurrent runs never put back each other's tiles. A Dock file that cannot be
// written is reported: a tile left behind in either direction would lose the
// original tile or hide the proxy.
template <class Replacement> bool replaceDockTiles(const std::string& path, Replacement replacement) {
    bool replaced = false;
    platform::PreferenceDomain::update(kDockDomain, [&](platform::PreferenceDomain& domain) {
        auto current = domain.value(kPersistentApps);
        if (!current.isArray()) return;
        for (size_t i = 0; i < current.size(); ++i) {
            if (!current.at(i).isDictionary()) return;
        }
        auto tiles = platform::Plist::array();
        for (size_t i = 0; i < current.size(); ++i) {
            auto tile = current.at(i);
            auto tilePath = dockTileFilePath(tile);
            if (tilePath && samePath(*tilePath, path)) {
                replaced = true;
                tiles.append(replacement(tile));
            } else {
                tiles.append(platform::Plist::copyOf(tile));
            }
        }
        if (replaced) domain.setValue(kPersistentApps, std::move(tiles));
    });
    return replaced;
}

SystemProxyRecords decodeSystemProxyRecords(const std::optional<std::string>& data) {
    if (!data) return {};
    try {
        auto json = core::parseJSONDocument<core::Json>(*data);
        if (!json.is_object()) return {};
        SystemProxyRecords records;
        for (const auto& [key, value] : json.items())
            records[key] = SystemProxyRecord::fromJson(value);
        return records;
    } catch (const std::exception&) {
        return {};
    }
}

// Changes the records as they stand under the preferences' lock. Throws on a
// failed write and on preferences kept busy by another run.
void updateSystemProxyRecords(const std::function<void(SystemProxyRecords&)>& change) {
    platform::PreferenceDomain::update(core::kBundleIdentifier, [&](platform::PreferenceDomain& domain) {
        SystemProxyRecords records = decodeSystemProxyRecords(domain.value(kRecordsKey).data());
        change(records);
        core::Json json = core::Json::object();
        for (const auto& [key, record] : records)
            json[key] = record.toJson();
        domain.setValue(kRecordsKey, platform::Plist::data(core::writeJSON(json, core::JSONStyle::compact)));
    });
}

SystemProxyRecord makeRecord(const apps::InstalledApp& app, const std::string& proxyPath,
                             const std::optional<SystemProxyRecord>& earlier,
                             const std::optional<std::string>& tileData) {
    return {app.path, proxyPath, app.name, earlier ? earlier->createdAt : core::secondsSinceReferenceDate(),
            tileData};
}

void recordSystemAppProxy(const apps::InstalledApp& app, const std::string& proxyPath,
                          const std::optional<SystemProxyRecord>& earlier,
                          const std::optional<std::string>& tileData) {
    updateSystemProxyRecords([&](SystemProxyRecords& records) {
        // What another run recorded since `earlier` was read wins over what this
        // run did not see: the first creation date and the original tile, which
        // only the run that swapped the tile holds.
        std::optional<SystemProxyRecord> current = earlier;
        for (const auto& [key, record] : records) {
            if (samePath(key, app.path)) current = record;
        }
        SystemProxyRecord record = makeRecord(app, proxyPath, current, tileData);
        if (!record.originalDockEntry && current) record.originalDockEntry = current->originalDockEntry;
        // One record per application, however its path was spelled before.
        std::erase_if(records, [&](const auto& item) { return samePath(item.first, app.path); });
        records[app.path] = std::move(record);
    });
}

// The records as they were before this apply: its own record dropped, an
// earlier one put back.
void restoreEarlierRecord(const apps::InstalledApp& app, const std::optional<SystemProxyRecord>& earlier) {
    updateSystemProxyRecords([&](SystemProxyRecords& records) {
        records.erase(app.path);
        if (earlier) records[earlier->originalPath] = *earlier;
    });
}

// Undoes what this apply changed, in the reverse order of the changes: the
// record goes last, so that a run stopped half-way still finds the original tile.
void rollbackSystemAppProxy(const apps::InstalledApp& app, const std::string& proxyPath,
                            const std::optional<SystemProxyRecord>& earlier,
                            const std::optional<std::string>& tileData, bool proxyExisted,
                            bool dockChanged) noexcept {
    try {
        // Only a tile that this apply moved goes back: a proxy already in the Dock stays there.
        if (dockChanged) restoreOriginalDockEntry(makeRecord(app, proxyPath, earlier, tileData));
        if (!earlier && !proxyExisted) {
            platform::removeItemQuietly(proxyPath);
            removeEmptySystemAppsFolder();
        }
        restoreEarlierRecord(app, earlier);
    } catch (...) {
        // The record stays when the tile could not go back: remove-icon finishes the job.
    }
}

} // namespace

core::Json SystemProxyRecord::toJson() const {
    core::Json json = core::Json::object();
    json["originalPath"] = originalPath;
    json["proxyPath"] = proxyPath;
    json["appName"] = appName;
    json["createdAt"] = createdAt;
    if (originalDockEntry) json["originalDockEntry"] = core::encodeBase64(*originalDockEntry);
    return json;
}

SystemProxyRecord SystemProxyRecord::fromJson(const core::Json& json) {
    SystemProxyRecord record;
    record.originalPath = json.at("originalPath").get<std::string>();
    record.proxyPath = json.at("proxyPath").get<std::string>();
    record.appName = json.at("appName").get<std::string>();
    const auto& createdAt = json.at("createdAt");
    if (!createdAt.is_number()) throw std::invalid_argument("createdAt is not a number");
    record.createdAt = createdAt.get<double>();
    if (json.contains("originalDockEntry") && !json.at("originalDockEntry").is_null()) {
        auto decoded = core::decodeBase64(json.at("originalDockEntry").get<std::string>());
        if (!decoded.bytes) throw std::invalid_argument("originalDockEntry: " + decoded.problem);
        record.originalDockEntry = std::move(*decoded.bytes);
    }
    return record;
}

std::string systemAppsProxyDirectory() {
    return platform::homeDirectory() + "/Applications/Mivora System Apps";
}

bool isProtectedSystemApp(const std::string& path) {
    auto resolved = platform::resolveSymbolicLinks(path);
    if (!resolved) return false;
    // The system locations lie under the system root; the root is resolved too,
    // so that a link in its own path does not hide them, and it must end at a
    // path-component boundary.
    std::string inner = *resolved;
    const std::string& root = platform::systemRoot();
    if (root != "/") {
        std::string resolvedRoot = platform::resolveSymbolicLinks(root).value_or(root);
        if (resolvedRoot != "/") {
            if (!core::startsWith(*resolved, resolvedRoot + "/")) return false;
            inner = resolved->substr(resolvedRoot.size());
        }
    }
    static const std::array<const char*, 4> locations = {
        "/System/Applications/", "/System/Library/CoreServices/Applications/", "/System/Cryptexes/",
        "/System/Volumes/Preboot/Cryptexes/"};
    bool inSystemLocation = false;
    for (const char* location : locations)
        inSystemLocation = inSystemLocation || core::startsWith(inner, location);
    if (!inSystemLocation) return false;
    auto identifier = apps::readBundleIdentifier(*resolved);
    return identifier && core::startsWith(*identifier, "com.apple.");
}

SystemProxyRecords loadSystemProxyRecords() {
    auto domain = platform::PreferenceDomain::synchronize(core::kBundleIdentifier);
    return decodeSystemProxyRecords(domain.value(kRecordsKey).data());
}

void saveSystemProxyRecords(const SystemProxyRecords& records) {
    updateSystemProxyRecords([&](SystemProxyRecords& stored) { stored = records; });
}

std::optional<SystemProxyRecord> findSystemProxyRecord(const apps::InstalledApp& app) {
    SystemProxyRecords records = loadSystemProxyRecords();
    if (auto found = records.find(app.path); found != records.end()) return found->second;
    for (const auto& [key, record] : records) {
        if (samePath(record.originalPath, app.path)) return record;
    }
    // The proxy's own path, as listings show it, finds its original's record.
    if (isSystemAppProxyPath(app.path)) {
        for (const auto& [key, record] : records) {
            if (samePath(record.proxyPath, app.path)) return record;
        }
    }
    return std::nullopt;
}

apps::InstalledApp originalApplication(const apps::InstalledApp& app) {
    if (!isSystemAppProxyPath(app.path)) return app;
    auto record = findSystemProxyRecord(app);
    if (!record || samePath(record->originalPath, app.path)) return app;
    return {record->appName, record->originalPath, std::nullopt, std::nullopt};
}

std::optional<apps::InstalledApp> recordedApplication(const std::string& path) {
    std::string wanted = platform::droppingTrailingSlash(path);
    if (somethingExists(wanted)) return std::nullopt;
    for (const auto& [key, record] : loadSystemProxyRecords()) {
        if (samePath(record.originalPath, wanted))
            return apps::InstalledApp{record.appName, record.originalPath, std::nullopt, std::nullopt};
    }
    return std::nullopt;
}

std::optional<platform::Plist> readDockPersistentApps() {
    auto dock = loadDockTiles();
    if (!dock) return std::nullopt;
    return std::move(dock->tiles);
}

std::optional<std::string> dockTileFilePath(platform::PlistView tile) {
    auto url = tile["tile-data"]["file-data"]["_CFURLString"].string();
    if (!url) return std::nullopt;
    if (auto path = platform::filePathOfURL(*url)) return path;
    return url;
}

bool isPinnedInDock(const std::string& appPath) {
    std::vector<std::string> candidates = {appPath};
    // A tile that already shows the proxy still counts, whichever way the path was spelled.
    if (auto record = findSystemProxyRecord({.path = appPath})) candidates.push_back(record->proxyPath);
    auto tiles = readDockPersistentApps();
    if (!tiles) return false;
    for (size_t i = 0; i < tiles->view().size(); ++i) {
        auto path = dockTileFilePath(tiles->view().at(i));
        if (!path) continue;
        for (const auto& candidate : candidates) {
            if (samePath(*path, candidate)) return true;
        }
    }
    return false;
}

void createSystemAppProxyBundle(const std::string& originalPath, const std::string& proxyPath) {
    std::string originalContents = platform::joinPath(originalPath, "Contents");
    if (!platform::fileExists(originalContents))
        throw core::CLIError::fileNotFound("Original system app is missing: " + originalPath);
    const std::string folder = platform::parentPath(proxyPath);
    if (platform::isSymbolicLink(folder)) {
        throw core::CLIError::iconSetFailed(folder +
                                            " is a symbolic link, not a folder; Mivora does not follow it. "
                                            "Remove the link, then set the icon again.");
    }
    platform::createDirectories(folder);
    platform::removeLeftovers(folder);
    std::string proxyContents = platform::joinPath(proxyPath, "Contents");
    if (!somethingExists(proxyPath)) {
        platform::createDirectories(proxyPath);
    } else if (!platform::isDirectory(proxyPath) || platform::isSymbolicLink(proxyPath)) {
        // A link is replaced rather than followed: working through a link to a
        // real bundle would delete that bundle's Contents below.
        platform::removeItem(proxyPath);
        platform::createDirectories(proxyPath);
    } else {
        if (platform::readSymbolicLink(proxyContents) == originalContents) return;
        platform::removeItemQuietly(proxyContents);
    }
    platform::createSymbolicLink(proxyContents, originalContents);
}

void registerWithLaunchServices(const std::string& bundlePath) {
    platform::startDetached({platform::systemPath(kLaunchServicesRegister), "-f", bundlePath});
}

platform::Plist makeDockTile(const std::string& bundlePath, const std::string& label,
                             platform::PlistView baseTile) {
    auto tile = baseTile.isDictionary() ? platform::Plist::copyOf(baseTile) : platform::Plist::dictionary();
    auto baseData = baseTile["tile-data"];
    auto tileData =
        baseData.isDictionary() ? platform::Plist::copyOf(baseData) : platform::Plist::dictionary();

    auto fileData = platform::Plist::dictionary();
    fileData.set("_CFURLString", platform::Plist::string(
                                     platform::fileURLString(bundlePath, platform::isDirectory(bundlePath))));
    fileData.set("_CFURLStringType", platform::Plist::integer(15));
    tileData.set("file-data", std::move(fileData));
    tileData.set("file-label", platform::Plist::string(label));
    tileData.set("file-mod-date", platform::Plist::real(core::secondsSinceReferenceDate()));
    tileData.remove("bundle-identifier");
    // No bookmark can be made here: the copied "book" is left as it was.
    tile.set("tile-data", std::move(tileData));
    tile.set("tile-type", platform::Plist::string("file-tile"));
    return tile;
}

void restoreOriginalDockEntry(const SystemProxyRecord& record) {
    std::optional<platform::Plist> original;
    if (record.originalDockEntry) {
        auto parsed = platform::parsePropertyList(*record.originalDockEntry);
        if (parsed && parsed->view().isDictionary()) original = std::move(parsed);
    }
    replaceDockTiles(record.proxyPath, [&](platform::PlistView tile) {
        return original ? platform::Plist::copyOf(original->view())
                        : makeDockTile(record.originalPath, record.appName, tile);
    });
}

void removeEmptySystemAppsFolder() {
    std::string folder = systemAppsProxyDirectory();
    if (platform::isSymbolicLink(folder)) return; // not ours to list or remove
    // What a killed removal left must not keep the folder for ever.
    platform::removeLeftovers(folder);
    auto entries = platform::listDirectory(folder);
    if (entries && entries->empty()) platform::removeItemQuietly(folder);
}

SystemAppApplyTarget prepareSystemAppTarget(const apps::InstalledApp& app) {
    auto nothing = [] {};
    if (!isProtectedSystemApp(app.path)) return {app, app, nothing, nothing};
    if (!isPinnedInDock(app.path)) {
        throw core::CLIError::iconSetFailed(
            "macOS only lets Mivora theme Apple apps that are pinned to the Dock. Pin " + app.name +
            " to your Dock, then set its icon again.");
    }
    std::string originalPath = platform::droppingTrailingSlash(app.path);
    std::string proxyPath =
        platform::joinPath(systemAppsProxyDirectory(), platform::lastPathComponent(originalPath));
    if (!platform::fileExists(platform::joinPath(originalPath, "Contents")))
        throw core::CLIError::fileNotFound("Original system app is missing: " + originalPath);
    bool proxyExisted = somethingExists(proxyPath);

    // Found however the path was spelled, so that a later apply keeps the first tile and date.
    std::optional<SystemProxyRecord> earlier = findSystemProxyRecord(app);
    std::optional<std::string> tileData = firstDockTileData(originalPath);
    if (!tileData && earlier) tileData = earlier->originalDockEntry;

    // The record, with the original tile, is written before anything else
    // changes: whenever this run stops, a rerun or remove-icon finds the tile.
    recordSystemAppProxy(app, proxyPath, earlier, tileData);
    bool dockChanged = false;
    try {
        createSystemAppProxyBundle(originalPath, proxyPath);
        registerWithLaunchServices(proxyPath);
        dockChanged = replaceDockTiles(
            originalPath, [&](platform::PlistView tile) { return makeDockTile(proxyPath, app.name, tile); });
    } catch (...) {
        rollbackSystemAppProxy(app, proxyPath, earlier, tileData, proxyExisted, dockChanged);
        throw;
    }

    apps::InstalledApp cacheApp{app.name, proxyPath, app.bundleId, std::nullopt};
    return {app, cacheApp, [=] { recordSystemAppProxy(app, proxyPath, earlier, tileData); },
            [=] { rollbackSystemAppProxy(app, proxyPath, earlier, tileData, proxyExisted, dockChanged); }};
}

bool restoreSystemAppProxy(const apps::InstalledApp& app, const std::string& cacheDirectory) {
    auto record = findSystemProxyRecord(app);
    std::string key = record ? record->proxyPath : app.path;
    auto removeCacheEntries = [&] {
        bool removed = removeCachedIcons(key, cacheDirectory);
        if (key != app.path) removed = removeCachedIcons(app.path, cacheDirectory) || removed;
        return removed;
    };
    if (!record) return removeCacheEntries();

    // Every store that will change is checked first, so that a refusal comes
    // before the proxy is gone.
    IconCache cache = loadIconCache();
    if (findIconCacheEntry(cache, key) != cache.end() || findIconCacheEntry(cache, app.path) != cache.end())
        platform::checkWritable(iconCacheFilePath());
    if (dockNames(record->proxyPath)) platform::checkWritable(platform::preferencesFilePath(kDockDomain));
    platform::checkWritable(platform::preferencesFilePath(core::kBundleIdentifier));

    // Held until the record is gone; the record goes last, so that a run
    // stopped on the way is finished by the next one.
    platform::InterruptionWindow window;
    // Only a bundle inside the proxy folder is ours to delete; a record naming
    // anything else is treated as naming nothing.
    bool changed = false;
    try {
        if (auto proxy = containedProxyPath(record->proxyPath); proxy && somethingExists(*proxy)) {
            platform::removeItem(*proxy);
            changed = true;
        }
        restoreOriginalDockEntry(*record);
        changed = true;
        removeCacheEntries();
        updateSystemProxyRecords([&](SystemProxyRecords& records) { records.erase(record->originalPath); });
    } catch (const std::exception& error) {
        // The record goes last, so a second run finishes the job.
        if (!changed) throw;
        throw core::CLIError::iconSetFailed(
            record->appName + " was only partly restored to its default icon: " + platform::causeOf(error) +
            ". Run remove-icon again to finish.");
    }
    removeEmptySystemAppsFolder();
    return true;
}

apps::InstalledApp resolveSystemAppProxyTarget(const apps::InstalledApp& app) {
    auto record = findSystemProxyRecord(app);
    if (!record) return app;
    auto proxy = containedProxyPath(record->proxyPath);
    if (!proxy || !somethingExists(*proxy)) return app;
    apps::InstalledApp target = app;
    target.path = *proxy; // the path as checked, never a spelling the system would resolve elsewhere
    return target;
}

bool isSystemAppProxyPath(const std::string& path) {
    return core::isLexicallyInside(path, systemAppsProxyDirectory());
}

} // namespace mivora::icons
