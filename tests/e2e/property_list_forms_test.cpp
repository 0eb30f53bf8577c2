// Property lists in every text form the platform reads (a UTF-8 byte-order mark,
// UTF-16 of either byte order, with or without its mark) through each reader:
// an Info.plist (lookup by identifier, extract-icon), the Dock's file, the
// desktop application's aliases, the appearance; and a preference write that
// reads such a file keeps every key in place instead of moving it aside.
#include "core/json.h"
#include "platform/file_url.h"
#include "platform/property_list.h"
#include "support/dock_fixture.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/icon_fixtures.h"
#include "support/icons_driver.h"
#include "support/property_list_forms.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

using core::Json;
using platform::Plist;

const std::string kLabel = "Caf\xC3\xA9 \xF0\x9F\x98\x80"; // beyond ASCII and beyond 16 bits

TEST(PlistTextForms, InfoPlistReaders) {
    for (const auto& [name, form] : plistTextForms()) {
        SCOPED_TRACE(name);
        Sandbox sandbox;
        std::string writer = sandbox.addApp({.name = "Writer", .bundleId = "com.example.scribe"});
        rewritePlist(sandbox, writer + "/Contents/Info.plist", form);
        std::string notion = addAppWithIcon(sandbox, "Notion", typicalIcns());
        rewritePlist(sandbox, notion + "/Contents/Info.plist", form);

        // The listing's quick reader, and lookup by identifier.
        auto apps = sandbox.run({"apps", "scribe", "--json"});
        ASSERT_EQ(apps.status, 0) << apps.err;
        EXPECT_EQ(Json::parse(apps.out)["apps"][0]["bundleId"], "com.example.scribe") << apps.out;
        auto found = sandbox.run({"quit-app", "com.example.scribe", "--json"});
        ASSERT_EQ(found.status, 0) << found.err;
        EXPECT_EQ(Json::parse(found.out)["app"]["path"], writer);

        // The whole document, for the icon file's name.
        auto extracted =
            sandbox.run({"extract-icon", "Notion", "--out", sandbox.homePath("n.png"), "--json"});
        ASSERT_EQ(extracted.status, 0) << extracted.err;
        EXPECT_EQ(Json::parse(extracted.out)["sourceIcns"], notion + "/Contents/Resources/AppIcon.icns");
    }
}

TEST(PlistTextForms, DockAndAliasReaders) {
    for (const auto& [name, form] : plistTextForms()) {
        SCOPED_TRACE(name);
        Sandbox sandbox;
        std::string arc = sandbox.addApp({.name = "Arc", .bundleId = "company.thebrowser.Browser"});
        writeDock(sandbox, {dockTile(platform::fileURLString(arc, true), kLabel, "")});
        rewritePlist(sandbox, dockPreferencesPath(sandbox), form);
        writeAliases(sandbox, {{"Arc", kLabel}});
        rewritePlist(sandbox, sandbox.homePath("Library/Preferences/com.quartelmisko.Mivora.plist"), form);

        auto dock = sandbox.run({"apps", "--dock", "--json"});
        ASSERT_EQ(dock.status, 0) << dock.err;
        const Json listed = Json::parse(dock.out)["apps"];
        ASSERT_EQ(listed.size(), 1u) << dock.out;
        EXPECT_EQ(listed[0]["name"], kLabel);
        EXPECT_EQ(listed[0]["bundleId"], "company.thebrowser.Browser");

        auto aliases = sandbox.run({"list", "--aliases"});
        ASSERT_EQ(aliases.status, 0) << aliases.err;
        EXPECT_EQ(aliases.out, "Aliases (1):\n  Arc \xE2\x86\x92 " + kLabel + "\n");
    }
}

// A system application's icon goes through a proxy: the Dock's file and the
// desktop application's are read and written back, the appearance is read.
TEST(PlistTextForms, APreferenceWriteKeepsEveryKeyOfAFileItCanRead) {
    for (const auto& [name, form] : plistTextForms()) {
        SCOPED_TRACE(name);
        Sandbox sandbox;
        prepareIconCommands(sandbox, /*dark=*/true);
        auto safari = addPinnedSystemApp(sandbox, "Safari", "com.apple.Safari");
        const std::string preferences = sandbox.homePath("Library/Preferences");
        const std::string appDefaults = preferences + "/com.quartelmisko.Mivora.plist";
        writeAppDefaults(sandbox, {{"AliasName", R"({"Arc":"Browser"})"}, {"com.example.own", "kept"}});
        for (const std::string& path :
             {appDefaults, dockPreferencesPath(sandbox), preferences + "/.GlobalPreferences.plist"})
            rewritePlist(sandbox, path, form);
        auto before = readDock(sandbox);

        std::string icon = writeIcon(sandbox, sandbox.homePath("icon.png"));
        auto result = sandbox.run({"set-icon", safari.path, icon, "--no-refresh", "--json"});
        ASSERT_EQ(result.status, 0) << result.err;
        const Json reply = Json::parse(result.out);
        EXPECT_EQ(reply["appearance"], "dark") << "the appearance was read";
        EXPECT_EQ(reply["appliedToBundle"], true);

        EXPECT_EQ(namesStartingWith(preferences, "com.quartelmisko.Mivora.plist.unreadable"),
                  std::vector<std::string>{});
        EXPECT_EQ(namesStartingWith(preferences, "com.apple.dock.plist.unreadable"),
                  std::vector<std::string>{});
        auto kept = platform::readPropertyListDictionary(appDefaults, kTestReadLimit);
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->view()["AliasName"].data(), R"({"Arc":"Browser"})");
        EXPECT_EQ(kept->view()["com.example.own"].data(), "kept");
        EXPECT_EQ(kept->view()["SUEnableAutomaticChecks"].boolean(), true);
        EXPECT_TRUE(systemProxyRecords(sandbox).contains(safari.path));

        // The Dock's other values stay, and its tile now names the proxy.
        auto dock = readDock(sandbox);
        for (const char* key : {"tilesize", "mod-count", "autohide", "persistent-others"})
            EXPECT_EQ(Plist::copyOf(dock.view()[key]).toXML(), Plist::copyOf(before.view()[key]).toXML())
                << key;
        EXPECT_NE(dockTilesXML(sandbox).find(platform::fileURLString(safari.proxy, true)), std::string::npos);
        EXPECT_EQ(sandbox.run({"list", "--aliases"}).out, "Aliases (1):\n  Arc \xE2\x86\x92 Browser\n");
    }
}

} // namespace
} // namespace mivora::testing
