// Every file the tool writes whole gets the mode that the user's umask gives a
// new file; the publish token is the owner's alone whatever the umask.
#include "support/catalog_server.h"
#include "support/collection_fixture.h"
#include "support/config_document_fixture.h"
#include "support/dock_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/icon_fixtures.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace mivora::testing {
namespace {

RunResult runUnder(const Sandbox& sandbox, const std::string& umask,
                   const std::vector<std::string>& arguments) {
    return runAfter(sandbox, "umask " + umask, arguments);
}

unsigned modeOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return 0;
    return info.st_mode & 07777;
}

TEST(FileModes, WrittenFilesFollowTheUmaskAndTheTokenStaysPrivate) {
    struct Case {
        std::string umask;
        unsigned mode;
    } cases[] = {{"022", 0644}, {"077", 0600}, {"027", 0640}};
    for (const auto& c : cases) {
        SCOPED_TRACE("umask " + c.umask);
        Sandbox sandbox;
        CatalogServer server;
        sandbox.environment["MIVORA_API_BASE_URL"] = server.url("/api");
        prepareIconCommands(sandbox, /*dark=*/false);
        std::string notes = sandbox.addApp({.name = "Notes"});
        auto safari = addPinnedSystemApp(sandbox, "Safari", "com.apple.Safari");
        addAppWithIcon(sandbox, "Notion", typicalIcns());
        std::string icon = writeIcon(sandbox, sandbox.homePath("icon.png"));
        std::string art = sandbox.homePath("art.png");
        sandbox.writeFile(art, pngBytes(squareOnWhite(256)));
        std::string config = sandbox.homePath("Library/Application Support/com.quartelmisko.Mivora/config");
        sandbox.writeFile(config + "/latest_export.json", ConfigDocument{}.text());
        sandbox.writeFile(sandbox.homePath("import.json"), ConfigDocument{}.text());
        serveFirstPublish(server, "naruto", "notion", "t0k3n");

        for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
                 {"set-icon", notes, icon, "--appearance", "light", "--no-refresh"},
                 {"set-icon", safari.path, icon, "--appearance", "light", "--no-refresh"},
                 {"export", sandbox.homePath("out/exported.json")},
                 {"import", sandbox.homePath("import.json")},
                 {"collections", "create", "naruto"},
                 {"collections", "add", "naruto", "Notion", art},
                 {"collections", "publish", "naruto"},
                 {"extract-icon", "Notion", "--out", sandbox.homePath("extracted.png"), "--size", "32"},
             }) {
            auto result = runUnder(sandbox, c.umask, arguments);
            ASSERT_EQ(result.status, 0) << arguments[0] << ": " << result.err;
        }

        std::string support = sandbox.homePath("Library/Application Support/com.quartelmisko.Mivora");
        std::string collection = collectionFolder(sandbox, "naruto");
        for (const std::string& path : {
                 support + "/icon-cache.json",
                 sandbox.homePath("Library/Preferences/com.quartelmisko.Mivora.plist"),
                 dockPreferencesPath(sandbox),
                 sandbox.homePath("out/exported.json"),
                 config + "/imported_config.json",
                 config + "/pending_import",
                 collection + "/manifest.json",
                 collection + "/icons/notion.png",
                 collection + "/raw/notion.png",
                 sandbox.homePath("extracted.png"),
             }) {
            EXPECT_EQ(modeOf(path), c.mode) << path;
        }
        EXPECT_EQ(modeOf(collection + "/publish-token"), 0600u);
    }
}

// A copied or converted image is a new file: the source's bits, set-uid
// included, never reach the cache, where the root helper reads it later.
TEST(FileModes, CachedImagesTakeTheUmasksModeNeverTheSourcesBits) {
    struct Umask {
        std::string mask;
        unsigned mode;
    };
    struct Source {
        std::string name; // a PNG is copied, an ICNS file converted by sips
        std::string bytes;
    };
    for (const Umask& umask : {Umask{"022", 0644}, Umask{"077", 0600}}) {
        for (unsigned sourceMode : {0666u, 0777u, 04755u}) {
            for (const Source& source :
                 {Source{"icon.png", solidPNG(16, 16, kIconRed)}, Source{"icon.icns", typicalIcns()}}) {
                SCOPED_TRACE("umask " + umask.mask + ", " + source.name + " at " +
                             std::to_string(sourceMode));
                Sandbox sandbox;
                prepareIconCommands(sandbox, /*dark=*/false);
                std::string notes = sandbox.addApp({.name = "Notes"});
                std::string icon = sandbox.tmp() + "/" + source.name;
                sandbox.writeFile(icon, source.bytes);
                ASSERT_EQ(::chmod(icon.c_str(), sourceMode), 0);
                auto result = runUnder(sandbox, umask.mask,
                                       {"set-icon", notes, icon, "--appearance", "light", "--no-refresh"});
                ASSERT_EQ(result.status, 0) << result.err;
                std::string cached = lightImageOf(sandbox, notes);
                ASSERT_NE(cached, "");
                EXPECT_EQ(modeOf(cached), umask.mode);
            }
        }
    }
}

} // namespace
} // namespace mivora::testing
