// Application discovery: the application bundles of the two application
// folders, or the applications pinned in the Dock, as InstalledApp records
// sorted by name and optionally narrowed by a query. Reads only; never fails.
#pragma once

#include "apps/installed_app.h"
#include "platform/property_list.h"

#include <optional>
#include <string>
#include <vector>

namespace mivora::apps {

// Searched in this order: <root>/Applications, then ~/Applications.
const std::vector<std::string>& appSearchDirectories();

// ~/Library/Preferences/com.apple.dock.plist
std::string dockPreferencesPath();

// The bundles of appSearchDirectories() (or, with `dock`, the Dock's pinned
// applications) sorted by name in the user's locale without regard to case,
// stably, so the system folder's entry comes first among equal names. A
// non-empty query keeps an application whose lower-cased name contains the
// lower-cased query, whose bundle identifier equals it, or one of whose
// dot-separated identifier parts starts with it.
std::vector<InstalledApp> listInstalledApps(const std::optional<std::string>& query, bool dock);

// An application as discovery found it, with the text values of its
// Info.plist when that declares a Dock-tile plug-in, so that the self-drawn
// Dock-icon test need not read it again. Nothing for any other bundle (the test
// looks no further there), so a listing keeps no document per bundle alive.
struct DiscoveredApp {
    InstalledApp app;
    std::optional<platform::PlistStrings> info;
};
// listInstalledApps with each application's Info.plist.
std::vector<DiscoveredApp> discoverInstalledApps(const std::optional<std::string>& query, bool dock);

// The Dock's pinned applications in Dock order, duplicates removed, unsorted.
std::vector<InstalledApp> readDockApps();
// The same from an already-read Dock preferences dictionary.
std::vector<InstalledApp> dockAppsFromPreferences(platform::PlistView dock);

} // namespace mivora::apps
