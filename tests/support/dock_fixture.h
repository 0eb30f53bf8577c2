// The Dock's preference file and the system-app proxy records as the Dock and
// the desktop application write them, for tests of Apple system applications.
#pragma once

#include "core/json.h"
#include "platform/property_list.h"
#include "support/sandbox.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mivora::testing {

// A Dock tile as the Dock writes one, with values of every property-list type.
platform::Plist dockTile(const std::string& path, const std::string& label, const std::string& bundleId,
                         int64_t guid);

// A minimal Dock tile for the URL as given; empty texts leave their key out.
platform::Plist dockTile(const std::string& url, const std::string& label, const std::string& bundleId);

// ~/Library/Preferences/com.apple.dock.plist
std::string dockPreferencesPath(const Sandbox& sandbox);
// Writes the Dock's preferences (binary) with these tiles and a few other values.
void writeDock(const Sandbox& sandbox, std::vector<platform::Plist> tiles);
// The Dock's preferences; an empty dictionary (and a test failure) when unreadable.
platform::Plist readDock(const Sandbox& sandbox);
// "persistent-apps" as XML text, for comparing the tiles before and after.
std::string dockTilesXML(const Sandbox& sandbox);

// The proxy records as stored: compact JSON in a data value of the desktop
// application's preferences; an empty object when there are none.
core::Json systemProxyRecords(const Sandbox& sandbox);

// An Apple application in <root>/System/Applications, pinned in the Dock
// between two other tiles, with a recording lsregister.
struct PinnedSystemApp {
    std::string path;        // the original bundle
    std::string proxyFolder; // ~/Applications/Mivora System Apps
    std::string proxy;       // its proxy bundle in there
};
PinnedSystemApp addPinnedSystemApp(const Sandbox& sandbox, const std::string& name,
                                   const std::string& bundleId);

} // namespace mivora::testing
