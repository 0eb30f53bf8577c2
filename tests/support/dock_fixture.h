// The Dock's preference file as the Dock writes it, for tests of the Dock-pinned
// application list.
#pragma once

#include "platform/property_list.h"
#include "support/sandbox.h"

#include <string>
#include <vector>

namespace mivora::testing {

// A Dock tile as the Dock stores it; empty texts leave their key out.
platform::Plist dockTile(const std::string& url, const std::string& label, const std::string& bundleId);

// ~/Library/Preferences/com.apple.dock.plist (binary) with these persistent apps.
void writeDock(const Sandbox& sandbox, std::vector<platform::Plist> tiles);

} // namespace mivora::testing
