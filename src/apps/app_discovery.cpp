#include "apps/app_discovery.h"

#include "apps/app_preferences.h"
#include "apps/self_drawn_dock_icon.h"
#include "core/text.h"
#include "platform/environment.h"
#include "platform/file_url.h"
#include "platform/filesystem.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

namespace mivora::apps {

const std::vector<std::string>& appSearchDirectories() {
    static const std::vector<std::string> folders = {platform::systemPath("/Applications"),
                                                     platform::homeDirectory() + "/Applications"};
    return folders;
}

std::string dockPreferencesPath() {
    return platform::homeDirectory() + "/Library/Preferences/com.apple.dock.plist";
}

namespace {

// What discovery keeps of a bundle's Info.plist: the identifier, unless the
// caller already has one, and the document only where the self-drawn Dock-icon
// test will look into it.
void keepInfo(DiscoveredApp& item, std::optional<platform::PlistStrings> info) {
    if (!info) return;
    if (!item.app.bundleId) {
        if (auto identifier = info->text("CFBundleIdentifier")) item.app.bundleId = std::string(*identifier);
    }
    if (declaresDockTilePlugIn(*info)) item.info = std::move(info);
}

// Calls work(i) for every i below `count`, spread over a few threads when the
// list is long enough to repay starting them (reading a bundle costs a few
// system calls, starting a thread about as much as a dozen bundles). A failure
// is rethrown here once every thread has ended: the one of the lowest i, as a
// plain loop would have thrown it.
template <class Work> void forEachConcurrently(size_t count, const Work& work) {
    constexpr size_t kMaxThreads = 6;
    constexpr size_t kItemsPerThread = 64;
    constexpr size_t kBatch = 16;
    size_t threads = std::min<size_t>(
        {kMaxThreads, count / kItemsPerThread, std::max(1u, std::thread::hardware_concurrency())});
    if (threads <= 1) {
        for (size_t i = 0; i < count; ++i)
            work(i);
        return;
    }
    std::atomic<size_t> next{0};
    std::mutex failureLock;
    size_t failedAt = count;
    std::exception_ptr failure;
    auto drain = [&] {
        for (size_t begin; (begin = next.fetch_add(kBatch, std::memory_order_relaxed)) < count;) {
            for (size_t i = begin; i < std::min(begin + kBatch, count); ++i) {
                try {
                    work(i);
                } catch (...) {
                    std::lock_guard lock(failureLock);
                    if (i < failedAt) {
                        failedAt = i;
                        failure = std::current_exception();
                    }
                }
            }
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(threads - 1);
    for (size_t t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(drain);
        } catch (const std::system_error&) {
            break; // no more threads to be had: the ones running finish the list
        }
    }
    drain();
    for (auto& helper : helpers)
        helper.join();
    if (failure) std::rethrow_exception(failure);
}

std::vector<DiscoveredApp> bundlesInFolders() {
    std::vector<DiscoveredApp> found;
    // Where each found bundle is: its folder and its name there.
    std::vector<std::pair<const platform::OpenedFolder*, std::string>> places;
    std::vector<std::unique_ptr<platform::OpenedFolder>> folders;
    for (const auto& path : appSearchDirectories()) {
        const auto& folder = *folders.emplace_back(std::make_unique<platform::OpenedFolder>(path));
        auto entries = folder.entries();
        if (!entries) continue;
        // The raw listing order is the file system's whim; a fixed order keeps
        // equal names (case twins) in the same order on every run.
        std::sort(entries->begin(), entries->end());
        found.reserve(found.size() + entries->size());
        places.reserve(places.size() + entries->size());
        for (auto& entry : *entries) {
            // Names that are not UTF-8 cannot be shown or put in JSON faithfully.
            if (!core::endsWith(entry, ".app") || !core::isValidUTF8(entry)) continue;
            DiscoveredApp item;
            item.app.name = platform::deletingPathExtension(entry);
            item.app.path = platform::joinPath(path, entry);
            found.push_back(std::move(item));
            places.emplace_back(&folder, std::move(entry));
        }
    }
    forEachConcurrently(found.size(), [&](size_t i) {
        keepInfo(found[i], readInfoStrings(*places[i].first, places[i].second));
    });
    return found;
}

// The Dock's tiles in order.
std::vector<DiscoveredApp> dockTiles(platform::PlistView dock, bool readAllInfo) {
    std::vector<DiscoveredApp> found;
    auto tiles = dock["persistent-apps"];
    if (!tiles.isArray()) return found;
    std::set<std::string> taken;
    for (size_t i = 0; i < tiles.size(); ++i) {
        auto tile = tiles.at(i)["tile-data"];
        if (!tile.isDictionary()) continue;
        auto fileData = tile["file-data"];
        if (!fileData.isDictionary()) continue;
        auto url = fileData["_CFURLString"].string();
        // The Dock writes exactly "file://"; "FILE://" or "file:/x" is no tile of ours.
        if (!url || !core::startsWith(*url, "file://")) continue;
        auto path = platform::filePathOfURL(*url);
        // A path that decodes to a NUL byte or to text that is not UTF-8 names no bundle we could show.
        if (!path || !core::endsWith(*path, ".app") || path->find('\0') != std::string::npos ||
            !core::isValidUTF8(*path))
            continue;
        if (!taken.insert(*path).second) continue;
        DiscoveredApp item;
        item.app.path = *path;
        auto label = tile["file-label"].string();
        item.app.name = label ? *label : platform::deletingPathExtension(platform::lastPathComponent(*path));
        item.app.bundleId = tile["bundle-identifier"].string();
        if (!item.app.bundleId || readAllInfo) keepInfo(item, readInfoStrings(*path));
        found.push_back(std::move(item));
    }
    return found;
}

std::vector<InstalledApp> appsOf(std::vector<DiscoveredApp> found) {
    std::vector<InstalledApp> apps;
    apps.reserve(found.size());
    for (auto& item : found)
        apps.push_back(std::move(item.app));
    return apps;
}

bool matchesQuery(const InstalledApp& app, const std::string& q) {
    if (core::contains(core::lowercased(app.name), q)) return true;
    if (!app.bundleId) return false;
    std::string identifier = core::lowercased(*app.bundleId);
    if (identifier == q) return true;
    for (const auto& part : core::splitString(identifier, '.', /*dropEmpty=*/true)) {
        if (core::startsWith(part, q)) return true;
    }
    return false;
}

} // namespace

std::vector<InstalledApp> dockAppsFromPreferences(platform::PlistView dock) {
    return appsOf(dockTiles(dock, /*readAllInfo=*/false));
}

std::vector<InstalledApp> readDockApps() {
    auto dock = readPreferenceFile(dockPreferencesPath());
    return dockAppsFromPreferences(dock.view());
}

namespace {

// `readAllInfo`: also read the Info.plist of Dock tiles that name their
// identifier, for callers that want every application's Info.plist.
std::vector<DiscoveredApp> discover(const std::optional<std::string>& query, bool dock, bool readAllInfo) {
    std::vector<DiscoveredApp> found;
    if (dock) {
        auto preferences = readPreferenceFile(dockPreferencesPath());
        found = dockTiles(preferences.view(), readAllInfo);
    } else {
        found = bundlesInFolders();
    }
    std::stable_sort(found.begin(), found.end(), [](const DiscoveredApp& a, const DiscoveredApp& b) {
        return core::localizedCaseInsensitiveCompare(a.app.name, b.app.name) < 0;
    });
    if (query && !query->empty()) {
        std::string q = core::lowercased(*query);
        std::erase_if(found, [&](const DiscoveredApp& item) { return !matchesQuery(item.app, q); });
    }
    return found;
}

} // namespace

std::vector<DiscoveredApp> discoverInstalledApps(const std::optional<std::string>& query, bool dock) {
    return discover(query, dock, /*readAllInfo=*/true);
}

std::vector<InstalledApp> listInstalledApps(const std::optional<std::string>& query, bool dock) {
    return appsOf(discover(query, dock, /*readAllInfo=*/false));
}

} // namespace mivora::apps
