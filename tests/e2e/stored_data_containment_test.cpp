// Hostile or damaged stored data (a hand-edited icon cache, a proxy record from
// a crashed run, a collection copied from someone else, links planted where the
// tool keeps its files) never makes a command delete, replace, read, upload or
// hand to the helper anything outside the tool's own folders, and the command's
// reply stays honest about what it did.
#include "core/json.h"
#include "platform/file_url.h"
#include "platform/filesystem.h"
#include "platform/property_list.h"
#include "support/catalog_server.h"
#include "support/collection_fixture.h"
#include "support/dock_fixture.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/icon_fixtures.h"
#include "support/sandbox.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>

namespace mivora::testing {
namespace {

using Tree = std::map<std::string, std::string>;

// Every entry under `folder`, links as "-> target", files with their bytes.
Tree treeOf(const std::string& folder) {
    Tree tree;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string path = it->path().string();
        if (it->is_symlink())
            tree[path] = "-> " + platform::readSymbolicLink(path).value_or("");
        else if (it->is_regular_file())
            tree[path] = platform::readFile(path, kTestReadLimit).value_or("?");
        else
            tree[path] = "folder";
    }
    return tree;
}

std::string nul(const std::string& before, const std::string& after) {
    return before + '\0' + after;
}

// Every argument the helper was ever given, in order.
std::vector<std::string> helperArguments(const Sandbox& sandbox) {
    std::vector<std::string> all;
    for (const auto& call : sandbox.loggedCalls("helper.log"))
        all.insert(all.end(), call.begin(), call.end());
    return all;
}

// --- the icon cache ------------------------------------------------------------

class CacheNames : public ::testing::Test {
protected:
    Sandbox sandbox;
    std::string outside = sandbox.dir() + "/outside";
    std::string notes, other, icon;

    void SetUp() override {
        prepareIconCommands(sandbox, true);
        notes = sandbox.addApp({.name = "Notes"});
        other = sandbox.addApp({.name = "Other"});
        icon = writeIcon(sandbox, sandbox.tmp() + "/new.png");
        sandbox.writeFile(outside + "/marker", "precious");
        sandbox.writeFile(outside + "/marker2", "precious too");
    }

    // Notes's entry names the hostile pair; Other's entry and image are a bystander.
    void writeCache(const std::string& light, const std::string& dark) {
        FixtureCacheEntry bystander{.appPath = other, .appName = "Other", .iconFileName = "other.png"};
        writeIconCache(
            sandbox,
            {FixtureCacheEntry{
                 .appPath = notes, .appName = "Notes", .iconFileName = light, .darkIconFileName = dark},
             bystander});
        writeCachedImages(sandbox, {bystander});
    }
};

TEST_F(CacheNames, NamesThatLeaveTheCacheFolderAreNeverDeletedOrHandedToTheHelper) {
    const std::string cache = cachedImagesFolder(sandbox);
    platform::createDirectories(cache);
    platform::createSymbolicLink(cache + "/linked.png", outside + "/marker");
    platform::createSymbolicLink(cache + "/linked2.png", outside + "/marker2");
    struct Case {
        const char* name;
        std::string light, dark;
    } cases[] = {
        {"NUL alone (the cache folder)", nul("", ""), nul("", "x")},
        {"dot-dot before a NUL (its parent)", nul("..", "a"), nul("..", "b")},
        {"dot-dot", "..", "."},
        {"climbing out", "../../../../../outside/marker", "../../../../../outside/marker2"},
        {"absolute path elsewhere", outside + "/marker", outside + "/marker2"},
        {"link to a file outside", "linked.png", "linked2.png"},
    };
    struct Command {
        std::vector<std::string> arguments;
        std::string reply; // a fragment of standard output
    };
    const Command commands[] = {
        {{"remove-dark-icon", "Notes", "--json"}, R"("removedFromBundle" : false)"},
        {{"remove-icon", "Notes", "--no-refresh", "--json"}, R"("removedCache" : true)"},
        {{"set-icon", "Notes", "<icon>", "--appearance", "dark", "--no-refresh", "--json"},
         R"("appliedToBundle" : true)"},
        {{"set-icon", "Notes", "<icon>", "--appearance", "light", "--no-refresh", "--json"},
         R"("appliedToBundle" : false)"},
        {{"restore", "-v"}, "  ⊘ Notes — cached icon file missing\n"},
        {{"list", "--json"}, R"("iconFileName" : "other.png")"},
        {{"status", "--json"}, "\"cachedIcons\""},
    };
    const Tree outsideBefore = treeOf(outside);
    for (const auto& c : cases) {
        for (const auto& command : commands) {
            SCOPED_TRACE(std::string(c.name) + ": " + command.arguments[0]);
            writeCache(c.light, c.dark);
            platform::removeItemQuietly(sandbox.tmp() + "/helper.log");
            auto arguments = command.arguments;
            for (auto& argument : arguments)
                if (argument == "<icon>") argument = icon;

            auto result = sandbox.run(arguments);
            EXPECT_EQ(result.status, 0) << result.err;
            EXPECT_NE(result.out.find(command.reply), std::string::npos) << result.out;
            EXPECT_EQ(treeOf(outside), outsideBefore);
            EXPECT_EQ(sandbox.readFile(cache + "/other.png"), "png other.png") << "the cache folder survives";
            EXPECT_TRUE(platform::isSymbolicLink(cache + "/linked.png"));
            for (const auto& argument : helperArguments(sandbox)) {
                EXPECT_TRUE(argument == fileiconIn(sandbox) || argument == notes || argument == other ||
                            argument == "--remove" || argument == icon ||
                            platform::parentPath(argument) == cache)
                    << "the helper got " << argument;
                EXPECT_NE(argument, cache + "/linked.png");
            }
        }
    }
}

// --- system-app proxy records --------------------------------------------------

class ProxyRecords : public ::testing::Test {
protected:
    Sandbox sandbox;
    PinnedSystemApp safari;
    std::string outside = sandbox.dir() + "/outside";
    std::string bystander; // another application's proxy bundle

    void SetUp() override {
        prepareIconCommands(sandbox, true);
        safari = addPinnedSystemApp(sandbox, "Safari", "com.apple.Safari");
        sandbox.writeFile(outside + "/marker", "precious");
        bystander = safari.proxyFolder + "/Maps.app";
        platform::createDirectories(bystander + "/Contents");
        platform::createDirectories(safari.proxy);
        platform::createSymbolicLink(safari.proxy + "/Contents", safari.path + "/Contents");
    }

    // Safari's record naming `proxyPath`, and a cache entry with a dark slot under it.
    void writeRecord(const std::string& proxyPath) const {
        auto records = core::Json::object();
        records[safari.path] = {
            {"originalPath", safari.path}, {"proxyPath", proxyPath}, {"appName", "Safari"}, {"createdAt", 7}};
        auto preferences = platform::Plist::dictionary();
        preferences.set("com.mivora.systemAppProxies", platform::Plist::data(records.dump()));
        sandbox.writePlist(sandbox.homePath("Library/Preferences/com.quartelmisko.Mivora.plist"),
                           preferences);
        FixtureCacheEntry entry{
            .appPath = proxyPath, .appName = "Safari", .iconFileName = "l.png", .darkIconFileName = "d.png"};
        writeIconCache(sandbox, {entry});
        writeCachedImages(sandbox, {entry});
    }
};

TEST_F(ProxyRecords, AProxyPathOutsideTheProxyFolderIsTreatedAsNamingNothing) {
    const std::string folder = safari.proxyFolder;
    const std::string cases[] = {
        folder + "/../../../outside",
        folder + "/Safari.app/../../../../outside/marker",
        nul(folder + "/", "Safari.app"),
        nul(folder + "/..", ""),
        folder + "/Safari.app/..",
        outside,
        folder + "/Safari.app/Contents/Info.plist",
        folder + "/Safari.app/Contents",
    };
    const Tree outsideBefore = treeOf(outside);
    const Tree originalBefore = treeOf(safari.path);
    for (const auto& proxyPath : cases) {
        SCOPED_TRACE(proxyPath);
        writeRecord(proxyPath);
        platform::removeItemQuietly(sandbox.tmp() + "/helper.log");

        // The helper is handed the application's own path, never the record's.
        auto dark = sandbox.run({"remove-dark-icon", safari.path, "--json"});
        EXPECT_EQ(dark.status, 0) << dark.err;
        EXPECT_EQ(core::Json::parse(dark.out).at("message"), "No dark icon variant cached for Safari");
        EXPECT_TRUE(sandbox.loggedCalls("helper.log").empty());

        auto remove = sandbox.run({"remove-icon", safari.path, "--no-refresh", "--json"});
        EXPECT_EQ(remove.status, 0) << remove.err;
        EXPECT_TRUE(sandbox.loggedCalls("helper.log").empty());
        EXPECT_TRUE(systemProxyRecords(sandbox).empty()) << "the record is dropped";

        EXPECT_EQ(treeOf(outside), outsideBefore);
        EXPECT_EQ(treeOf(safari.path), originalBefore);
        EXPECT_TRUE(platform::isDirectory(bystander + "/Contents"));
        EXPECT_TRUE(platform::isSymbolicLink(safari.proxy + "/Contents"));
    }
}

TEST_F(ProxyRecords, LinksAtTheProxyFolderOrBundleAreNeverFollowed) {
    std::string icon = writeIcon(sandbox, sandbox.tmp() + "/icon.png");
    platform::removeItem(safari.proxyFolder);

    // The proxy folder itself is a link: set-icon refuses, nothing lands outside.
    platform::createDirectories(outside + "/Safari.app/Contents");
    sandbox.writeFile(outside + "/Safari.app/Contents/Info.plist", "someone else's bundle");
    platform::createSymbolicLink(safari.proxyFolder, outside);
    const Tree outsideBefore = treeOf(outside);
    const std::string dockBefore = dockTilesXML(sandbox);
    auto set = sandbox.run({"set-icon", safari.path, icon, "--no-refresh"});
    EXPECT_EQ(set.status, 1);
    EXPECT_EQ(set.out, "");
    EXPECT_EQ(set.err,
              "Error: " + safari.proxyFolder +
                  " is a symbolic link, not a folder; Mivora does not follow it. Remove the link, then "
                  "set the icon again.\n");
    EXPECT_EQ(treeOf(outside), outsideBefore);
    EXPECT_EQ(dockTilesXML(sandbox), dockBefore);
    EXPECT_TRUE(sandbox.loggedCalls("helper.log").empty());

    // A record of a proxy reached through that link is not deleted.
    writeRecord(safari.proxy);
    auto remove = sandbox.run({"remove-icon", safari.path, "--no-refresh"});
    EXPECT_EQ(remove.status, 0) << remove.err;
    EXPECT_EQ(treeOf(outside), outsideBefore);
    EXPECT_TRUE(platform::isSymbolicLink(safari.proxyFolder));

    // The proxy bundle is a link to someone else's bundle: remove-icon leaves it
    // alone, set-icon replaces the link (never what it points at) by the proxy.
    platform::removeItem(safari.proxyFolder);
    platform::createDirectories(safari.proxyFolder);
    platform::createSymbolicLink(safari.proxy, outside + "/Safari.app");
    writeRecord(safari.proxy);
    remove = sandbox.run({"remove-icon", safari.path, "--no-refresh"});
    EXPECT_EQ(remove.status, 0) << remove.err;
    EXPECT_EQ(treeOf(outside), outsideBefore);
    set = sandbox.run({"set-icon", safari.path, icon, "--no-refresh"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(treeOf(outside), outsideBefore);
    EXPECT_FALSE(platform::isSymbolicLink(safari.proxy));
    EXPECT_EQ(platform::readSymbolicLink(safari.proxy + "/Contents"), safari.path + "/Contents");
}

TEST_F(CacheNames, TheDesktopApplicationsCopyOfTheCacheFollowsTheSameRule) {
    const std::string cache = cachedImagesFolder(sandbox);
    FixtureCacheEntry bystander{.appPath = other, .appName = "Other", .iconFileName = "other.png"};
    writeCachedImages(sandbox, {bystander});
    writeAppDefaults(sandbox, {{"com.mivora.cachedIcons",
                                iconCacheJson({FixtureCacheEntry{.appPath = notes,
                                                                 .appName = "Notes",
                                                                 .iconFileName = nul("..", ""),
                                                                 .darkIconFileName = nul("", "")},
                                               bystander})
                                    .dump()}});
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"remove-dark-icon", "Notes"}, {"remove-icon", "Notes", "--no-refresh"}}) {
        auto result = sandbox.run(arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(sandbox.readFile(cache + "/other.png"), "png other.png") << arguments[0];
    }
    EXPECT_EQ(sandbox.loggedCalls("helper.log"), (Calls{helperCall(sandbox, notes, "--remove")}));
}

TEST_F(CacheNames, AnApplicationPathHoldingANulIsNeverCutShort) {
    // Cut at the NUL, the path would name Notes, and "/.." after it the folder above.
    FixtureCacheEntry entry{.appPath = nul(notes, "/../.."), .appName = "Notes", .iconFileName = "n.png"};
    writeIconCache(sandbox, {entry});
    writeCachedImages(sandbox, {entry});
    auto result = sandbox.run({"restore", "-v"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("  ✗ Notes — Failed to start process: an operand holds a NUL character\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("0 restored, 1 failed, 0 skipped"), std::string::npos) << result.out;
    EXPECT_TRUE(sandbox.loggedCalls("sudo.log").empty());
}

TEST_F(CacheNames, ALinkAtTheCacheFolderIsNeitherWrittenThroughNorFollowedToDelete) {
    const std::string cache = cachedImagesFolder(sandbox);
    platform::createDirectories(platform::parentPath(cache));
    platform::createSymbolicLink(cache, outside);
    writeIconCache(
        sandbox,
        {FixtureCacheEntry{
            .appPath = notes, .appName = "Notes", .iconFileName = "marker", .darkIconFileName = "marker2"}});
    const Tree outsideBefore = treeOf(outside);
    auto set = sandbox.run({"set-icon", "Notes", icon, "--appearance", "light", "--no-refresh"});
    EXPECT_EQ(set.status, 1);
    EXPECT_EQ(set.err, "Error: Cannot write into " + cache +
                           ": it is a symbolic link or lies outside its own folder\n");
    EXPECT_EQ(treeOf(outside), outsideBefore);
    platform::removeItemQuietly(sandbox.tmp() + "/helper.log");
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"remove-dark-icon", "Notes"},
                                                      {"restore"},
                                                      {"remove-icon", "Notes", "--no-refresh"}}) {
        SCOPED_TRACE(arguments[0]);
        auto result = sandbox.run(arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(treeOf(outside), outsideBefore);
        for (const auto& argument : helperArguments(sandbox))
            EXPECT_EQ(argument.find(outside), std::string::npos) << argument;
    }
}

// --- an application's own Info.plist -------------------------------------------------

TEST(BundleIconName, ExtractIconNeverReadsAnIconFileOutsideTheBundle) {
    Sandbox sandbox;
    sandbox.writeFile(sandbox.dir() + "/outside/Secret.icns", typicalIcns());
    std::string app = sandbox.addApp(
        {.name = "Tool", .extraStrings = {{"CFBundleIconFile", "../../../../../outside/Secret"}}});
    auto result = sandbox.run({"extract-icon", app, "--out", sandbox.tmp() + "/out.png"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: No .icns file found in app bundle\n");
    EXPECT_FALSE(platform::fileExists(sandbox.tmp() + "/out.png"));

    // With an icon of its own, that one is used instead.
    sandbox.writeFile(app + "/Contents/Resources/Own.icns", typicalIcns());
    result = sandbox.run({"extract-icon", app, "--out", sandbox.tmp() + "/out.png"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("  Source: " + app + "/Contents/Resources/Own.icns\n"), std::string::npos)
        << result.out;
}

// --- collections -----------------------------------------------------------------

class CollectionData : public ::testing::Test {
protected:
    Sandbox sandbox;
    CatalogServer server;
    std::string outside = sandbox.dir() + "/outside";
    std::string folder = collectionFolder(sandbox, "naruto");
    const std::string hostileKey = "../../../../../../../outside/secret";

    void SetUp() override {
        prepareIconCommands(sandbox, false);
        sandbox.environment["MIVORA_API_BASE_URL"] = server.url("/api");
        sandbox.addApp({.name = "Xcode"});
        sandbox.writeFile(outside + "/secret", "the user's secret");
        sandbox.writeFile(outside + "/secret.png", "the user's secret");
        sandbox.writeFile(outside + "/icons/xcode.png", "an image outside");
        server.route("POST", "/api/collections",
                     ScriptedResponse{201, R"({"slug": "naruto", "name": "Naruto", "publishToken": "tok"})"});
        server.route("POST", "/api/collections/naruto/finalize",
                     ScriptedResponse{200,
                                      R"({"ok": true, "slug": "naruto", "iconCount": 1, "listed": false,)"
                                      R"( "shareUrl": "https://x/c/naruto"})"});
        server.route(
            "PUT", "/api/collections/naruto/icons/xcode",
            ScriptedResponse{200, R"({"ok": true, "slug": "naruto", "appSlug": "xcode", "iconUrl": "u"})"});
    }

    // The manifest's own slug climbs out of the collections folder, and one key does too.
    void writeHostileManifest() {
        auto manifest = manifestDocument("../../../../../outside", "Naruto",
                                         {{.key = "xcode", .appName = "Xcode", .status = "done"},
                                          {.key = hostileKey, .appName = "Secret", .status = "done"},
                                          {.key = nul("a", "b"), .appName = "Nul", .status = "done"}});
        writeCollection(sandbox, "naruto", manifest);
        sandbox.writeFile(folder + "/icons/xcode.png", "the staged xcode icon");
    }

    void expectNothingOutsideWasSent() const {
        for (const auto& request : server.requests()) {
            EXPECT_EQ(request.body.find("secret"), std::string::npos) << request.target;
            EXPECT_EQ(request.body.find("an image outside"), std::string::npos) << request.target;
            EXPECT_EQ(request.target.find("outside"), std::string::npos) << request.target;
            EXPECT_EQ(request.target.find("secret"), std::string::npos) << request.target;
        }
    }
};

TEST_F(CollectionData, IconsAreAddressedThroughTheFolderAndBadKeysAreSkipped) {
    writeHostileManifest();
    const std::string staged = folder + "/icons/xcode.png";

    auto show = sandbox.run({"collections", "show", "naruto", "--json"});
    ASSERT_EQ(show.status, 0) << show.err;
    auto icons = core::Json::parse(show.out).at("icons");
    ASSERT_EQ(icons.size(), 1u) << icons.dump();
    EXPECT_EQ(icons[0].at("appSlug"), "xcode");
    EXPECT_EQ(icons[0].at("iconUrl"), platform::fileURLString(staged, false));

    // Every entry is an entry, whether or not its key could name a staged icon.
    auto status = sandbox.run({"collections", "status", "naruto", "--json"});
    ASSERT_EQ(status.status, 0) << status.err;
    auto reply = core::Json::parse(status.out);
    EXPECT_EQ(reply.at("total"), 3);
    EXPECT_EQ(reply.at("done"), 3);
    ASSERT_EQ(reply.at("icons").size(), 3u);

    auto apply =
        sandbox.run({"collections", "apply", "naruto", "--appearance", "dark", "--no-refresh", "--json"});
    ASSERT_EQ(apply.status, 0) << apply.err;
    EXPECT_EQ(core::Json::parse(apply.out).at("applied"), 1);
    EXPECT_EQ(sandbox.loggedCalls("helper.log"), std::vector<std::vector<std::string>>{})
        << "light appearance: the dark icon is only cached";
    auto cachedFile = core::Json::parse(apply.out).at("results")[0].at("cachedFile").get<std::string>();
    EXPECT_EQ(sandbox.readFile(cachedFile), "the staged xcode icon");

    auto publish = sandbox.run({"collections", "publish", "naruto", "--json"});
    ASSERT_EQ(publish.status, 0) << publish.err;
    auto published = core::Json::parse(publish.out);
    EXPECT_EQ(published.at("uploaded"), 1);
    EXPECT_EQ(published.at("errors"), core::Json::array({hostileKey + ": staged icon file missing",
                                                         nul("a", "b") + ": staged icon file missing"}));
    auto uploads = server.requests();
    ASSERT_EQ(uploads.size(), 3u);
    EXPECT_EQ(uploads[1].target, "/api/collections/naruto/icons/xcode");
    EXPECT_EQ(uploads[1].body, "the staged xcode icon");
    expectNothingOutsideWasSent();
    EXPECT_EQ(sandbox.readFile(outside + "/secret"), "the user's secret");
}

TEST_F(CollectionData, LinksInsideACollectionAreNotFollowedOutOfIt) {
    writeCollection(
        sandbox, "naruto",
        manifestDocument("naruto", "Naruto", {{.key = "xcode", .appName = "Xcode", .status = "done"}}));
    struct Case {
        const char* name;
        std::function<void()> plant;
    } cases[] = {
        {"icons folder is a link",
         [&] {
             platform::removeItem(folder + "/icons");
             platform::createSymbolicLink(folder + "/icons", outside + "/icons");
         }},
        {"staged icon is a link",
         [&] {
             platform::removeItem(folder + "/icons");
             platform::createDirectories(folder + "/icons");
             platform::createSymbolicLink(folder + "/icons/xcode.png", outside + "/secret");
         }},
    };
    const Tree outsideBefore = treeOf(outside);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.plant();
        platform::removeItemQuietly(folder + "/publish-token");

        auto publish = sandbox.run({"collections", "publish", "naruto", "--json"});
        ASSERT_EQ(publish.status, 0) << publish.err;
        auto reply = core::Json::parse(publish.out);
        EXPECT_EQ(reply.at("uploaded"), 0);
        EXPECT_EQ(reply.at("errors"), core::Json::array({"xcode: staged icon file missing"}));

        auto apply = sandbox.run({"collections", "apply", "naruto", "--no-refresh", "--json"});
        ASSERT_EQ(apply.status, 0) << apply.err;
        auto applied = core::Json::parse(apply.out);
        EXPECT_EQ(applied.at("failed"), 1);
        EXPECT_EQ(applied.at("results")[0].at("error"),
                  "Icon file not found: " + folder + "/icons/xcode.png");
        EXPECT_TRUE(cachedImageNames(sandbox).empty());
        expectNothingOutsideWasSent();
        EXPECT_EQ(treeOf(outside), outsideBefore);
    }
}

TEST_F(CollectionData, ALinkedTokenOrCollectionFolderIsNeitherReadNorWritten) {
    writeCollection(
        sandbox, "naruto",
        manifestDocument("naruto", "Naruto", {{.key = "xcode", .appName = "Xcode", .status = "done"}}));
    sandbox.writeFile(folder + "/icons/xcode.png", "the staged xcode icon");
    core::Json manifest = readManifest(sandbox, "naruto");
    manifest["publish"] = {{"remoteSlug", "naruto"}};
    writeCollection(sandbox, "naruto", manifest);
    server.route("GET", "/api/collections/naruto", ScriptedResponse{200, "{}"});
    platform::createSymbolicLink(folder + "/publish-token", outside + "/secret");

    // The linked token is not sent: the run creates a fresh remote collection.
    auto publish = sandbox.run({"collections", "publish", "naruto", "--json"});
    ASSERT_EQ(publish.status, 0) << publish.err;
    for (const auto& request : server.requests()) {
        auto authorization = request.headers.find("Authorization");
        if (authorization != request.headers.end()) {
            EXPECT_EQ(authorization->second, "Bearer tok");
        }
    }
    EXPECT_EQ(sandbox.readFile(outside + "/secret"), "the user's secret");

    // The whole collection folder is a link: nothing is written through it.
    platform::createDirectories(outside + "/naruto");
    sandbox.writeFile(outside + "/naruto/manifest.json", readManifest(sandbox, "naruto").dump(2));
    platform::removeItem(folder);
    platform::createSymbolicLink(folder, outside + "/naruto");
    const Tree outsideBefore = treeOf(outside);
    auto mark = sandbox.run({"collections", "mark", "naruto", "Xcode", "--status", "skipped"});
    EXPECT_EQ(mark.status, 1);
    EXPECT_NE(mark.err.find("symbolic link"), std::string::npos) << mark.err;
    EXPECT_EQ(treeOf(outside), outsideBefore);
}

// --- path segments in requests ---------------------------------------------------

TEST_F(CollectionData, EveryPathSegmentIsSentEncodedAndDotSegmentsAreNotCollapsed) {
    server.route("GET", "/api/collections", ScriptedResponse{200, R"({"collections": []})"});
    server.route("GET", "/api/", ScriptedResponse{200, R"({"collections": []})"});
    struct Case {
        std::string slug;
        std::string target;
    } cases[] = {
        {"..", "/api/collections/%2E%2E"},
        {".", "/api/collections/%2E"},
        {"a;b?c#d%e/f", "/api/collections/a%3Bb%3Fc%23d%25e%2Ff"},
        {"../../x", "/api/collections/..%2F..%2Fx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.slug);
        auto before = server.requests().size();
        auto show = sandbox.run({"collections", "show", c.slug, "--json"});
        EXPECT_EQ(show.status, 1);
        auto requests = server.requests();
        ASSERT_EQ(requests.size(), before + 1);
        EXPECT_EQ(requests.back().target, c.target);
    }

    // Slugs and keys of a publish, the remote slug being whatever the service assigned.
    writeCollection(sandbox, "naruto",
                    manifestDocument("naruto", "Naruto", {{.key = "x;y", .appName = "X", .status = "done"}}));
    sandbox.writeFile(folder + "/icons/x;y.png", "png");
    server.route("POST", "/api/collections",
                 ScriptedResponse{201, R"({"slug": "../a b", "name": "Naruto", "publishToken": "tok"})"});
    server.route("PUT", "/api/collections/../a b/icons/x;y",
                 ScriptedResponse{200, R"({"ok": true, "slug": "s", "appSlug": "x;y", "iconUrl": "u"})"});
    server.route("POST", "/api/collections/../a b/finalize",
                 ScriptedResponse{200, R"({"ok": true, "slug": "s", "iconCount": 1, "listed": false,)"
                                       R"( "shareUrl": "https://x/c/s"})"});
    auto before = server.requests().size();
    auto publish = sandbox.run({"collections", "publish", "naruto", "--json"});
    ASSERT_EQ(publish.status, 0) << publish.err;
    auto requests = server.requests();
    std::vector<std::string> targets;
    for (size_t i = before; i < requests.size(); ++i)
        targets.push_back(requests[i].method + " " + requests[i].target);
    EXPECT_EQ(targets, (std::vector<std::string>{"POST /api/collections",
                                                 "PUT /api/collections/..%2Fa%20b/icons/x%3By",
                                                 "POST /api/collections/..%2Fa%20b/finalize"}));
}

} // namespace
} // namespace mivora::testing
