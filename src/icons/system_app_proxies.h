// Apple's own applications in the system locations never get a custom icon in
// place. Each is given a user-owned proxy bundle instead,
// ~/Applications/Mivora System Apps/<App>.app, whose Contents is a link to the
// original's Contents; the proxy is registered with Launch Services, put in the
// place of the original's Dock tile, and recorded in the product's preferences
// under "com.mivora.systemAppProxies".
#pragma once

#include "apps/installed_app.h"
#include "core/json.h"
#include "platform/property_list.h"

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace mivora::icons {

// The target of one icon apply.
struct SystemAppApplyTarget {
    apps::InstalledApp original;    // the application as the caller gave it
    apps::InstalledApp cacheApp;    // what the helper writes to and the cache is keyed by
    std::function<void()> commit;   // records the proxy; may throw
    std::function<void()> rollback; // undoes the proxy work; never throws
};

struct SystemProxyRecord {
    std::string originalPath; // also the record's key
    std::string proxyPath;
    std::string appName;                          // the Dock label
    double createdAt = 0;                         // seconds since 1 January 2001, kept on later applies
    std::optional<std::string> originalDockEntry; // the replaced tile as a binary property list

    core::Json toJson() const;                                 // data as Base64 text
    static SystemProxyRecord fromJson(const core::Json& json); // throws
    bool operator==(const SystemProxyRecord&) const = default;
};
using SystemProxyRecords = std::map<std::string, SystemProxyRecord>;

// ~/Applications/Mivora System Apps
std::string systemAppsProxyDirectory();

// True for a bundle that, with links resolved, lies in one of the system
// application locations and whose identifier begins with "com.apple.".
bool isProtectedSystemApp(const std::string& path);

// For a protected application: records the proxy with the original tile, makes
// the proxy bundle, registers it and points its Dock tile at it, and returns the
// proxy as the target; the rollback undoes all of it (the record last). For any
// other application: the application itself with a commit and rollback that do
// nothing. Throws CLIError (not pinned, original missing) or FileSystemError,
// having undone its own changes.
SystemAppApplyTarget prepareSystemAppTarget(const apps::InstalledApp& app);

// Removes the application's cache entries and, when it has a proxy, the proxy
// bundle, its Dock tile (the original comes back) and its record, the record
// last. Returns whether anything was removed. Throws on a failed write or
// removal; stores that cannot be written are found before anything changes.
bool restoreSystemAppProxy(const apps::InstalledApp& app, const std::string& cacheDirectory);

// The application with its proxy's path when it has a recorded proxy that exists.
apps::InstalledApp resolveSystemAppProxyTarget(const apps::InstalledApp& app);

// The application that `app` stands for: a proxy bundle's path (the one that
// listings show) stands for the original application that its record names,
// with the record's name; anything else for itself.
apps::InstalledApp originalApplication(const apps::InstalledApp& app);

// An original application that is gone but still has a record, named by its
// path: what is left of it (its Dock tile, proxy, cache entries and record) can
// still be undone. Nothing when something exists at the path or no record names it.
std::optional<apps::InstalledApp> recordedApplication(const std::string& path);

// Whether the path lies inside the proxy folder.
bool isSystemAppProxyPath(const std::string& path);

// --- building blocks (paths are compared after dropping one trailing "/") ---
// The records and the Dock's tiles are each changed under the preferences' lock
// (platform::StoreBusyError when another run keeps it too long).
SystemProxyRecords loadSystemProxyRecords();                    // missing or undecodable: none
void saveSystemProxyRecords(const SystemProxyRecords& records); // throws on a failed write
// By the record's key, else its original path, else (for a path in the proxy folder) its proxy path.
std::optional<SystemProxyRecord> findSystemProxyRecord(const apps::InstalledApp& app);
// The Dock's "persistent-apps", when it is an array of dictionaries.
std::optional<platform::Plist> readDockPersistentApps();
// The path of a tile's file URL (or its URL text when that is not a file URL).
std::optional<std::string> dockTileFilePath(platform::PlistView tile);
bool isPinnedInDock(const std::string& appPath);
void createSystemAppProxyBundle(const std::string& originalPath, const std::string& proxyPath);
// Starts lsregister -f on the bundle and does not wait for it.
void registerWithLaunchServices(const std::string& bundlePath);
// `baseTile` turned into a file tile for the bundle, labelled `label`.
platform::Plist makeDockTile(const std::string& bundlePath, const std::string& label,
                             platform::PlistView baseTile);
// Puts the record's original tile back in place of every tile of its proxy. Throws on a failed write.
void restoreOriginalDockEntry(const SystemProxyRecord& record);
void removeEmptySystemAppsFolder();

} // namespace mivora::icons
