#include "support/dock_fixture.h"

#include "platform/file_url.h"
#include "support/icons_driver.h"

#include <gtest/gtest.h>

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

using platform::Plist;

Plist dockTile(const std::string& path, const std::string& label, const std::string& bundleId, int64_t guid) {
    auto fileData = Plist::dictionary();
    fileData.set("_CFURLString", Plist::string(platform::fileURLString(path, true)));
    fileData.set("_CFURLStringType", Plist::integer(15));
    auto tileData = Plist::dictionary();
    tileData.set("file-data", std::move(fileData));
    tileData.set("file-label", Plist::string(label));
    tileData.set("bundle-identifier", Plist::string(bundleId));
    tileData.set("book", Plist::data(std::string("book\0data\xff", 10)));
    tileData.set("file-mod-date", Plist::integer(3790000000));
    tileData.set("parent-mod-date", Plist::integer(-42));
    tileData.set("file-type", Plist::integer(41));
    tileData.set("dock-extra", Plist::boolean(false));
    tileData.set("is-beta", Plist::boolean(true));
    auto tile = Plist::dictionary();
    tile.set("tile-data", std::move(tileData));
    tile.set("GUID", Plist::integer(guid));
    tile.set("tile-type", Plist::string("file-tile"));
    tile.set("last-used", Plist::date(756543210.25));
    tile.set("scale", Plist::real(0.75));
    auto nested = Plist::array();
    nested.append(Plist::string("ünïcode ✓"));
    nested.append(Plist::array());
    tile.set("extra", std::move(nested));
    return tile;
}

std::string dockPreferencesPath(const Sandbox& sandbox) {
    return sandbox.homePath("Library/Preferences/com.apple.dock.plist");
}

void writeDock(const Sandbox& sandbox, std::vector<Plist> tiles) {
    auto array = Plist::array();
    for (auto& tile : tiles)
        array.append(std::move(tile));
    auto dock = Plist::dictionary();
    dock.set("persistent-apps", std::move(array));
    dock.set("tilesize", Plist::real(48));
    dock.set("mod-count", Plist::integer(12));
    dock.set("autohide", Plist::boolean(true));
    dock.set("persistent-others", Plist::array());
    sandbox.writePlist(dockPreferencesPath(sandbox), dock, true);
}

Plist readDock(const Sandbox& sandbox) {
    auto dock = platform::readPropertyListDictionary(dockPreferencesPath(sandbox), kTestReadLimit);
    EXPECT_TRUE(dock.has_value());
    return dock ? *dock : Plist::dictionary();
}

std::string dockTilesXML(const Sandbox& sandbox) {
    return Plist::copyOf(readDock(sandbox).view()["persistent-apps"]).toXML();
}

core::Json systemProxyRecords(const Sandbox& sandbox) {
    auto preferences = platform::readPropertyListDictionary(
        sandbox.homePath("Library/Preferences/com.quartelmisko.Mivora.plist"), kTestReadLimit);
    if (!preferences) return core::Json::object();
    auto data = preferences->view()["com.mivora.systemAppProxies"].data();
    if (!data) return core::Json::object();
    return core::Json::parse(*data);
}

PinnedSystemApp addPinnedSystemApp(const Sandbox& sandbox, const std::string& name,
                                   const std::string& bundleId) {
    PinnedSystemApp app;
    app.path = sandbox.addApp({.name = name,
                               .folder = sandbox.rootPath("/System/Applications"),
                               .bundleId = bundleId,
                               .executable = name});
    app.proxyFolder = sandbox.homePath("Applications/Mivora System Apps");
    app.proxy = app.proxyFolder + "/" + name + ".app";
    installRecordingProgram(sandbox,
                            "/System/Library/Frameworks/CoreServices.framework/Frameworks/"
                            "LaunchServices.framework/Support/lsregister",
                            "lsregister.log");
    writeDock(sandbox,
              {dockTile(sandbox.rootPath("/Applications/Notes.app"), "Notes", "com.example.notes", 1),
               dockTile(app.path, name, bundleId, 2),
               dockTile(sandbox.rootPath("/Applications/Mail.app"), "Mail", "com.apple.mail", 3)});
    return app;
}

} // namespace mivora::testing
