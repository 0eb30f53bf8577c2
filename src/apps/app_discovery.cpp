#include "apps/app_discovery.h"

#include "apps/app_preferences.h"
#include "apps/self_drawn_dock_icon.h"
#include "core/text.h"
#include "platform/environment.h"
#include "platform/file_url.h"
#include "platform/filesystem.h"
#include "platform/parallel_work.h"

#include <algorithm>
#include <memory>
#include <numeric>
#include <set>

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

// Applications as collected, with the sort key of each name.
struct Candidates {
    std::vector<DiscoveredApp> apps;
    std::vector<std::string> sortKeys;
};

// How many threads read the bundles: one per this many (a bundle costs a few
// system calls; a thread repays its start only over a hundred or so), and at
// most so many, past which the file system's own locks gain nothing more; never
// more than the processors the process may use (forEachInParallel sees to that).
constexpr size_t kBundlesPerThread = 128;
constexpr size_t kMaxReadingThreads = 6;

Candidates bundlesInFolders() {
    // Each bundle's folder and its name there, in listing order.
    std::vector<std::pair<const platform::OpenedFolder*, std::string>> places;
    std::vector<std::unique_ptr<platform::OpenedFolder>> folders;
    for (const auto& path : appSearchDirectories()) {
        const auto& folder = *folders.emplace_back(std::make_unique<platform::OpenedFolder>(path));
        auto entries = folder.entries();
        if (!entries) continue;
        // The raw listing order is the file system's whim; a fixed order keeps
        // equal names (case twins) in the same order on every run.
        std::sort(entries->begin(), entries->end());
        places.reserve(places.size() + entries->size());
        for (auto& entry : *entries) {
            // Names that are not UTF-8 cannot be shown or put in JSON faithfully.
            if (core::endsWith(entry, ".app") && core::isValidUTF8(entry))
                places.emplace_back(&folder, std::move(entry));
        }
    }
    Candidates found;
    found.apps.resize(places.size());
    found.sortKeys.resize(places.size());
    const size_t threads = std::clamp<size_t>(places.size() / kBundlesPerThread, 1, kMaxReadingThreads);
    platform::forEachInParallel(
        places.size(),
        [&](size_t i) {
            const auto& [folder, entry] = places[i];
            auto& item = found.apps[i];
            item.app.name = platform::deletingPathExtension(entry);
            item.app.path = platform::joinPath(folder->path(), entry);
            found.sortKeys[i] = core::localizedCaseInsensitiveSortKey(item.app.name);
            keepInfo(item, readInfoStrings(*folder, entry));
        },
        threads, platform::HelperFiles::ownTable);
    return found;
}

// The Dock's tiles in order.
Candidates dockTiles(platform::PlistView dock, bool readAllInfo) {
    Candidates found;
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
        found.sortKeys.push_back(core::localizedCaseInsensitiveSortKey(item.app.name));
        found.apps.push_back(std::move(item));
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
    return appsOf(dockTiles(dock, /*readAllInfo=*/false).apps);
}

std::vector<InstalledApp> readDockApps() {
    auto dock = readPreferenceFile(dockPreferencesPath());
    return dockAppsFromPreferences(dock.view());
}

namespace {

// `readAllInfo`: also read the Info.plist of Dock tiles that name their
// identifier, for callers that want every application's Info.plist.
std::vector<DiscoveredApp> discover(const std::optional<std::string>& query, bool dock, bool readAllInfo) {
    Candidates candidates;
    if (dock) {
        auto preferences = readPreferenceFile(dockPreferencesPath());
        candidates = dockTiles(preferences.view(), readAllInfo);
    } else {
        candidates = bundlesInFolders();
    }
    // By name in the user's order, stably: equal names keep the order collected.
    std::vector<size_t> order(candidates.apps.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return candidates.sortKeys[a] < candidates.sortKeys[b]; });
    std::vector<DiscoveredApp> found;
    found.reserve(order.size());
    for (size_t i : order)
        found.push_back(std::move(candidates.apps[i]));
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
