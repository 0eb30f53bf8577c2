#include "support/dock_fixture.h"

namespace mivora::testing {

platform::Plist dockTile(const std::string& url, const std::string& label, const std::string& bundleId) {
    auto fileData = platform::Plist::dictionary();
    fileData.set("_CFURLString", platform::Plist::string(url));
    fileData.set("_CFURLStringType", platform::Plist::integer(15));
    auto tileData = platform::Plist::dictionary();
    tileData.set("file-data", std::move(fileData));
    if (!label.empty()) tileData.set("file-label", platform::Plist::string(label));
    if (!bundleId.empty()) tileData.set("bundle-identifier", platform::Plist::string(bundleId));
    auto tile = platform::Plist::dictionary();
    tile.set("tile-data", std::move(tileData));
    tile.set("tile-type", platform::Plist::string("file-tile"));
    return tile;
}

void writeDock(const Sandbox& sandbox, std::vector<platform::Plist> tiles) {
    auto apps = platform::Plist::array();
    for (auto& tile : tiles)
        apps.append(std::move(tile));
    auto dock = platform::Plist::dictionary();
    dock.set("persistent-apps", std::move(apps));
    dock.set("tilesize", platform::Plist::integer(48));
    sandbox.writePlist(sandbox.homePath("Library/Preferences/com.apple.dock.plist"), dock, /*binary=*/true);
}

} // namespace mivora::testing
