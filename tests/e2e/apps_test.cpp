// `mivora apps`: discovery of the two application folders and of the Dock, the
// query filter, the self-drawn mark, and the text and JSON forms.
#include "apps/self_drawn_dock_icon.h"
#include "platform/filesystem.h"
#include "support/dock_fixture.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

namespace mivora::testing {
namespace {

using nlohmann::json;

std::vector<std::string> namesIn(const std::string& out) {
    std::vector<std::string> names;
    auto reply = json::parse(out);
    for (const auto& app : reply.at("apps"))
        names.push_back(app.at("name").get<std::string>());
    return names;
}

AppBundle selfDrawing(const std::string& name) {
    AppBundle app{.name = name, .executable = name};
    app.extraStrings["NSDockTilePlugIn"] = "DockTile.docktileplugin";
    app.executableBytes = "\x7f"
                          "ELF...code..." +
                          std::string(apps::kSelfDrawnIconMarker) + "...more";
    return app;
}

TEST(AppsCommand, TextFormShowsIdentifierAndSelfDrawnMark) {
    Sandbox sandbox;
    sandbox.addApp({.name = "Safari", .bundleId = "com.apple.Safari"});
    sandbox.addApp(selfDrawing("Tool"));
    auto result = sandbox.run({"apps"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "Installed Apps (2):\n"
                          "  Safari [com.apple.Safari]\n"
                          "    " +
                              sandbox.rootPath("/Applications/Safari.app") +
                              "\n"
                              "  Tool  (draws its own Dock icon — use its in-app icon picker)\n"
                              "    " +
                              sandbox.rootPath("/Applications/Tool.app") + "\n");
}

TEST(AppsCommand, JSONFormMarksEveryAppAndLeavesUnknownIdentifierOut) {
    Sandbox sandbox;
    sandbox.addApp({.name = "Safari", .bundleId = "com.apple.Safari"});
    sandbox.addApp(selfDrawing("Tool"));
    auto result = sandbox.run({"apps", "--json"});
    EXPECT_EQ(result.status, 0);
    auto escaped = [](std::string path) {
        std::string out;
        for (char c : path)
            out += c == '/' ? std::string("\\/") : std::string(1, c);
        return out;
    };
    EXPECT_EQ(result.out, "{\n"
                          "  \"apps\" : [\n"
                          "    {\n"
                          "      \"bundleId\" : \"com.apple.Safari\",\n"
                          "      \"dockIconControlledByApp\" : false,\n"
                          "      \"name\" : \"Safari\",\n"
                          "      \"path\" : \"" +
                              escaped(sandbox.rootPath("/Applications/Safari.app")) +
                              "\"\n"
                              "    },\n"
                              "    {\n"
                              "      \"dockIconControlledByApp\" : true,\n"
                              "      \"name\" : \"Tool\",\n"
                              "      \"path\" : \"" +
                              escaped(sandbox.rootPath("/Applications/Tool.app")) +
                              "\"\n"
                              "    }\n"
                              "  ],\n"
                              "  \"count\" : 2,\n"
                              "  \"source\" : \"applications\"\n"
                              "}\n");
}

TEST(AppsCommand, NothingFound) {
    Sandbox sandbox;
    sandbox.addApp({.name = "Safari"});
    auto text = sandbox.run({"apps", "zzz"});
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.out, "No apps found.\n");
    auto reply = sandbox.run({"apps", "zzz", "--json"});
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(json::parse(reply.out), json::parse(R"({"apps": [], "count": 0, "source": "applications"})"));
}

// One sandbox of odd folder entries: what is listed and in which order.
TEST(AppsCommand, ListsBothFoldersSortedWithoutRegardToCase) {
    Sandbox sandbox;
    sandbox.addApp({.name = "Xcode", .bundleId = "com.apple.dt.Xcode"});
    sandbox.addApp({.name = "notes", .bundleId = "com.apple.Notes"});
    sandbox.addApp({.name = "Notes", .folder = sandbox.homePath("Applications")});
    sandbox.addApp({.name = "Broken"});
    sandbox.writeFile(sandbox.rootPath("/Applications/Broken.app/Contents/Info.plist"),
                      "<?xml version=\"1.0\"?><plist><dict><key>CFBund");
    sandbox.addApp({.name = "Garbage"});
    sandbox.writeFile(sandbox.rootPath("/Applications/Garbage.app/Contents/Info.plist"),
                      std::string("bplist00\x01\x02\xff", 11));
    sandbox.writeFile(sandbox.rootPath("/Applications/Plain.app"), "a file, not a folder");
    sandbox.writeFile(sandbox.rootPath("/Applications/Archive.app.zip"), "zip");
    sandbox.writeFile(sandbox.rootPath("/Applications/Notes.App/Contents/Info.plist"), "");
    platform::createDirectories(sandbox.rootPath("/Applications/Utilities"));

    auto result = sandbox.run({"apps", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    auto reply = json::parse(result.out);
    // Case twins: the system folder's comes first whatever the byte order of the names.
    EXPECT_EQ(namesIn(result.out),
              (std::vector<std::string>{"Broken", "Garbage", "notes", "Notes", "Plain", "Xcode"}));
    EXPECT_EQ(reply.at("count"), 6);
    EXPECT_EQ(reply["apps"][2]["path"], sandbox.rootPath("/Applications/notes.app"));
    EXPECT_EQ(reply["apps"][3]["path"], sandbox.homePath("Applications/Notes.app"));
    for (size_t i : {0u, 1u, 3u, 4u})
        EXPECT_FALSE(reply["apps"][i].contains("bundleId")) << i;
    EXPECT_EQ(reply["apps"][2]["bundleId"], "com.apple.Notes");
}

// A listing long enough to be read on several threads: every bundle in sorted
// order, each with what its own Info.plist gives, whatever its neighbours hold.
TEST(AppsCommand, ALongListingKeepsEachBundlesOwnResultInOrder) {
    Sandbox sandbox;
    // Ways an Info.plist can fail; each leaves its bundle listed without an identifier.
    const std::vector<std::function<void(const std::string&)>> damages = {
        [&](const std::string& info) {
            sandbox.writeFile(info, "<?xml version=\"1.0\"?><plist><dict><key>CFBundleIdentifier</key><str");
        },
        [&](const std::string& info) { sandbox.writeFile(info, std::string("bplist00\x01\x02\xff", 11)); },
        [&](const std::string& info) { ASSERT_EQ(::mkfifo(info.c_str(), 0644), 0); },
        [&](const std::string& info) { platform::createSymbolicLink(info, "/dev/zero"); },
        [&](const std::string& info) { platform::createDirectories(info); },
        [&](const std::string& info) {
            // Over the 8 MB cap, though it begins like a good one.
            sandbox.writeFile(info, "<?xml version=\"1.0\"?><plist><dict><key>CFBundleIdentifier</key>"
                                    "<string>com.example.huge</string></dict></plist>");
            ASSERT_EQ(::truncate(info.c_str(), 9'000'000), 0);
        },
        [&](const std::string&) {}, // no Info.plist at all
    };
    json expected = json::array();
    size_t damaged = 0;
    for (int i = 0; i < 260; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Bundle %03d", i);
        AppBundle app{.name = name, .bundleId = "com.example.bundle" + std::to_string(i)};
        if (i % 2) app.folder = sandbox.homePath("Applications");
        app.binaryPlist = i % 5 == 0;
        if (i % 3 == 0) app.extraStrings["Note"] = "Tom &amp; Jerry";
        if (i % 25 == 0) {
            app = selfDrawing(name);
            app.bundleId = "com.example.bundle" + std::to_string(i);
            if (i % 50 == 0) app.executableBytes = "no marker here";
        }
        std::string path = sandbox.addApp(app);
        const bool damage = i % 11 == 4;
        json entry = {{"name", name}, {"path", path}, {"dockIconControlledByApp", i % 50 == 25 && !damage}};
        if (damage) {
            std::string info = path + "/Contents/Info.plist";
            platform::removeItem(info);
            damages[damaged++ % damages.size()](info);
        } else {
            entry["bundleId"] = *app.bundleId;
        }
        expected.push_back(entry);
    }
    ASSERT_GE(damaged, damages.size());

    auto result = sandbox.run({"apps", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    auto reply = json::parse(result.out);
    EXPECT_EQ(reply.at("count"), 260);
    ASSERT_EQ(reply.at("apps").size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(reply["apps"][i], expected[i]) << i;

    // The text form lists the same bundles in the same order.
    auto text = sandbox.run({"apps"});
    ASSERT_EQ(text.status, 0) << text.err;
    std::string lines = text.out;
    size_t at = lines.find('\n') + 1;
    for (const auto& entry : expected) {
        std::string line = "  " + entry.at("name").get<std::string>();
        if (entry.contains("bundleId")) line += " [" + entry.at("bundleId").get<std::string>() + "]";
        if (entry.at("dockIconControlledByApp"))
            line += "  (draws its own Dock icon — use its in-app icon picker)";
        line += "\n    " + entry.at("path").get<std::string>() + "\n";
        ASSERT_EQ(lines.substr(at, line.size()), line);
        at += line.size();
    }
    EXPECT_EQ(at, lines.size());
}

TEST(AppsCommand, QueryMatchesNameOrBundleIdentifier) {
    Sandbox sandbox;
    sandbox.addApp({.name = "Notes", .bundleId = "com.apple.Notes"});
    sandbox.addApp({.name = "Sticky Notes", .bundleId = "com.example.stickies"});
    sandbox.addApp({.name = "Visual Studio Code", .bundleId = "com.microsoft.VSCode"});
    sandbox.addApp({.name = "Xcode", .bundleId = "com.apple.dt.Xcode"});
    sandbox.addApp({.name = "Tool"});
    struct Case {
        std::string query;
        std::vector<std::string> names;
    } cases[] = {
        {"OTE", {"Notes", "Sticky Notes"}},               // inside a word, any case
        {"vsc", {"Visual Studio Code"}},                  // start of an identifier part
        {"scode", {}},                                    // only inside a part
        {"COM.MICROSOFT.VSCODE", {"Visual Studio Code"}}, // the whole identifier, any case
        {"apple", {"Notes", "Xcode"}},
        {"stick", {"Sticky Notes"}},
        {"", {"Notes", "Sticky Notes", "Tool", "Visual Studio Code", "Xcode"}},
    };
    for (const auto& c : cases) {
        auto result = sandbox.run({"apps", c.query, "--json"});
        ASSERT_EQ(result.status, 0) << c.query << ": " << result.err;
        EXPECT_EQ(namesIn(result.out), c.names) << "query '" << c.query << "'";
    }
}

TEST(AppsCommand, DockListsPinnedApplicationsSortedByName) {
    Sandbox sandbox;
    std::string apps = sandbox.rootPath("/Applications");
    sandbox.addApp({.name = "Safari", .bundleId = "com.apple.Safari"});
    sandbox.addApp({.name = "My Tool", .bundleId = "com.example.tool"});
    sandbox.addApp({.name = "Old", .bundleId = "com.example.old"});
    writeDock(sandbox, [&] {
        std::vector<platform::Plist> tiles;
        tiles.push_back(dockTile("file://" + apps + "/Safari.app/", "Safari", "com.apple.Safari"));
        tiles.push_back(dockTile("https://example.com/Web.app", "Web", "com.example.web"));
        tiles.push_back(dockTile("file://" + apps + "/Safari.app/", "Safari again", ""));
        tiles.push_back(dockTile("file://" + apps + "/My%20Tool.app/", "", ""));
        tiles.push_back(dockTile("file://" + apps + "/Bad%zz.app/", "Bad", "com.example.bad"));
        tiles.push_back(dockTile("file:///Users/someone/Documents/", "Documents", ""));
        tiles.push_back(dockTile("file://" + apps + "/Old.app/", "alpha", ""));
        tiles.push_back(dockTile("file://" + apps + "/Gone.app/", "Zed", ""));
        auto noTileData = platform::Plist::dictionary();
        noTileData.set("tile-type", platform::Plist::string("spacer-tile"));
        tiles.push_back(std::move(noTileData));
        return tiles;
    }());

    auto result = sandbox.run({"apps", "--dock", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    auto expected = json::parse(R"({"apps": [], "count": 4, "source": "dock"})");
    expected["apps"] = json::array({
        {{"name", "alpha"},
         {"path", apps + "/Old.app"},
         {"bundleId", "com.example.old"},
         {"dockIconControlledByApp", false}},
        {{"name", "My Tool"},
         {"path", apps + "/My Tool.app"},
         {"bundleId", "com.example.tool"},
         {"dockIconControlledByApp", false}},
        {{"name", "Safari"},
         {"path", apps + "/Safari.app"},
         {"bundleId", "com.apple.Safari"},
         {"dockIconControlledByApp", false}},
        {{"name", "Zed"}, {"path", apps + "/Gone.app"}, {"dockIconControlledByApp", false}},
    });
    EXPECT_EQ(json::parse(result.out), expected);

    auto text = sandbox.run({"apps", "--dock", "saf"});
    EXPECT_EQ(text.out, "Dock Apps (1):\n  Safari [com.apple.Safari]\n    " + apps + "/Safari.app\n");
}

TEST(AppsCommand, ADockTileCountsOnlyWhenItsURLBeginsWithExactlyFileSlashSlash) {
    Sandbox sandbox;
    std::string apps = sandbox.rootPath("/Applications");
    sandbox.addApp({.name = "Notes", .bundleId = "com.example.notes"});
    struct Case {
        std::string url;
        bool listed;
    } cases[] = {
        {"file://" + apps + "/Notes.app/", true},  {"file://localhost" + apps + "/Notes.app/", true},
        {"FILE://" + apps + "/Notes.app/", false}, {"File://" + apps + "/Notes.app/", false},
        {"file:" + apps + "/Notes.app/", false},   {" file://" + apps + "/Notes.app/", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        writeDock(sandbox, {dockTile(c.url, "Notes", "com.example.notes")});
        auto result = sandbox.run({"apps", "--dock", "--json"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(namesIn(result.out),
                  c.listed ? std::vector<std::string>{"Notes"} : std::vector<std::string>{});
    }
}

TEST(AppsCommand, MissingOrBrokenDockFileListsNothing) {
    Sandbox sandbox;
    sandbox.addApp({.name = "Safari"});
    auto missing = sandbox.run({"apps", "--dock"});
    EXPECT_EQ(missing.status, 0);
    EXPECT_EQ(missing.out, "No apps found.\n");

    std::string dockFile = sandbox.homePath("Library/Preferences/com.apple.dock.plist");
    auto notTiles = platform::Plist::dictionary();
    notTiles.set("persistent-apps", platform::Plist::string("not a list"));
    for (const std::string& bytes :
         {std::string("<?xml version=\"1.0\"?><plist><dict><key>persistent-apps</key><arr"),
          std::string("bplist00garbage"), notTiles.toXML()}) {
        sandbox.writeFile(dockFile, bytes);
        auto result = sandbox.run({"apps", "--dock", "--json"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(json::parse(result.out), json::parse(R"({"apps": [], "count": 0, "source": "dock"})"));
    }
}

} // namespace
} // namespace mivora::testing
