// A store that cannot be written or read (a read-only or unreadable folder, a
// locked file) makes every writing command fail honestly: status 1, "Error: "
// with the real cause, and nothing half-changed in the home folder. The tool
// runs as the unprivileged user nobody, since root writes through any folder
// permission (setpriv, util-linux); a locked file is an immutable one (chattr +i, e2fsprogs).
#include "platform/filesystem.h"
#include "platform/property_list.h"
#include "support/catalog_server.h"
#include "support/collection_fixture.h"
#include "support/config_document_fixture.h"
#include "support/dock_fixture.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/sandbox.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace mivora::testing {
namespace {

constexpr const char* kNobody = "65534";

bool canRunUnprivileged() {
    return ::geteuid() == 0 && platform::fileExists("/usr/bin/setpriv");
}

RunResult runAsNobody(const Sandbox& sandbox, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {"/usr/bin/setpriv", std::string("--reuid=") + kNobody,
                                     std::string("--regid=") + kNobody, "--clear-groups", mivoraBinary()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return sandbox.runProgram(argv);
}

// Every file, folder and link under `folder`; property lists in their XML form,
// so that a file rewritten with the same values compares equal.
std::map<std::string, std::string> snapshot(const std::string& folder) {
    std::map<std::string, std::string> items;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        std::string path = entry.path().string();
        std::string relative = path.substr(folder.size());
        if (entry.is_symlink()) {
            items[relative] = "-> " + platform::readSymbolicLink(path).value_or("");
        } else if (entry.is_directory()) {
            items[relative] = "<folder>";
        } else {
            std::string bytes = platform::readFile(path, kTestReadLimit).value_or("<unreadable>");
            if (auto plist = platform::parsePropertyList(bytes); plist && bytes.rfind("bplist", 0) == 0)
                bytes = plist->toXML();
            items[relative] = bytes;
        }
    }
    return items;
}

enum class LockKind { readOnlyFolder, unreadableFolder, lockedFile };

// A store made unusable for one run, and put back afterwards (an immutable
// file could not even be deleted with its sandbox).
class StoreLock {
public:
    StoreLock(const Sandbox& sandbox, LockKind kind, std::string path)
        : sandbox_(sandbox), kind_(kind), path_(std::move(path)) {}
    ~StoreLock() { release(); }

    // False when this file system cannot lock files.
    bool apply() {
        switch (kind_) {
        case LockKind::readOnlyFolder:
            return ::chmod(path_.c_str(), 0555) == 0;
        case LockKind::unreadableFolder:
            return ::chmod(path_.c_str(), 0000) == 0;
        case LockKind::lockedFile:
            locked_ = sandbox_.runProgram({"/usr/bin/chattr", "+i", path_}).status == 0;
            return locked_;
        }
        return false;
    }
    void release() {
        if (kind_ == LockKind::lockedFile) {
            if (locked_) sandbox_.runProgram({"/usr/bin/chattr", "-i", path_});
            locked_ = false;
        } else {
            ::chmod(path_.c_str(), 0755);
        }
    }

private:
    const Sandbox& sandbox_;
    LockKind kind_;
    std::string path_;
    bool locked_ = false;
};

// One home with something in every store: a pinned Apple application with a
// proxy (Calculator), one without yet (Chess), an ordinary application with a
// light and a dark icon (Notes), the desktop application's preferences, a
// configuration export and a local collection ready to publish.
class StoreFailures : public ::testing::Test {
protected:
    void SetUp() override {
        if (!canRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv to run as nobody";
        prepareIconCommands(sandbox, true);
        sandbox.environment["MIVORA_API_BASE_URL"] = server.url("/api");
        calculator = addPinnedSystemApp(sandbox, "Calculator", "com.apple.calculator");
        chess = sandbox.addApp({.name = "Chess",
                                .folder = sandbox.rootPath("/System/Applications"),
                                .bundleId = "com.apple.Chess"});
        writeDock(sandbox, {dockTile(calculator.path, "Calculator", "com.apple.calculator", 2),
                            dockTile(chess, "Chess", "com.apple.Chess", 4)});
        sandbox.addApp({.name = "Notes", .bundleId = "com.example.notes"});
        icon = writeIcon(sandbox, sandbox.tmp() + "/icon.png");
        writeAppDefaults(sandbox, {{"AliasName", "{}"}});
        platform::createDirectories(sandbox.homePath("Applications"));
        for (const std::vector<std::string>& command :
             {std::vector<std::string>{"set-icon", calculator.path, icon, "--no-refresh"},
              {"set-icon", "Notes", icon, "--appearance", "light", "--no-refresh"},
              {"set-icon", "Notes", icon, "--appearance", "dark", "--no-refresh"}}) {
            auto result = sandbox.run(command);
            ASSERT_EQ(result.status, 0) << result.err;
        }
        sandbox.writeFile(configFolder() + "/latest_export.json", ConfigDocument{}.text());
        sandbox.writeFile(sandbox.tmp() + "/config.json", ConfigDocument{}.text());
        writeCollection(
            sandbox, "naruto",
            manifestDocument("naruto", "Naruto", {{.key = "notes", .appName = "Notes", .status = "done"}}));
        sandbox.writeFile(collectionFolder(sandbox, "naruto") + "/icons/notes.png", "png bytes");
        platform::createDirectories(sandbox.homePath("Exports"));
        ASSERT_EQ(
            sandbox.runProgram({"/bin/chown", "-R", std::string(kNobody) + ":" + kNobody, sandbox.dir()})
                .status,
            0);
    }

    std::string supportFolder() const {
        return sandbox.homePath("Library/Application Support/com.quartelmisko.Mivora");
    }
    std::string configFolder() const { return supportFolder() + "/config"; }
    std::string preferences() const { return sandbox.homePath("Library/Preferences"); }

    Sandbox sandbox;
    CatalogServer server;
    PinnedSystemApp calculator;
    std::string chess, icon;
};

TEST_F(StoreFailures, CommandsReportTheRealCauseAndChangeNothing) {
    struct Case {
        const char* name;
        std::vector<std::string> command;
        LockKind kind;
        std::string store; // relative to the home folder
        std::string cause;
    };
    const std::string support = "Library/Application Support/com.quartelmisko.Mivora";
    const std::string appPreferences = "Library/Preferences/com.quartelmisko.Mivora.plist";
    const std::string dock = "Library/Preferences/com.apple.dock.plist";
    const std::string images = "Library/Caches/com.quartelmisko.Mivora/cache";
    const std::string collection = support + "/collections/naruto";
    const std::string denied = "Permission denied", locked = "Operation not permitted";
    const std::vector<std::string> setChess = {"set-icon", "<chess>", "<icon>", "--no-refresh"};
    const std::vector<std::string> removeCalculator = {"remove-icon", "<calculator>", "--no-refresh"};
    const std::vector<std::string> publish = {"collections", "publish", "naruto"};
    const std::vector<std::string> add = {"collections", "add",   "naruto", "Notes",
                                          "<icon>",      "--raw", "--force"};
    const std::vector<std::string> mark = {"collections", "mark", "naruto", "Notes", "--status", "skipped"};
    const Case cases[] = {
        {"pinned app, preferences folder read-only", setChess, LockKind::readOnlyFolder,
         "Library/Preferences", denied},
        {"pinned app, proxy records locked", setChess, LockKind::lockedFile, appPreferences, locked},
        {"pinned app, Dock locked", setChess, LockKind::lockedFile, dock, locked},
        {"pinned app, icon cache folder read-only", setChess, LockKind::readOnlyFolder, support, denied},
        {"pinned app, cached images read-only", setChess, LockKind::readOnlyFolder, images, denied},
        {"ordinary app, icon cache locked",
         {"set-icon", "Notes", "<icon>", "--no-refresh"},
         LockKind::lockedFile,
         support + "/icon-cache.json",
         locked},
        {"remove proxy, preferences folder read-only", removeCalculator, LockKind::readOnlyFolder,
         "Library/Preferences", denied},
        {"remove proxy, proxy records locked", removeCalculator, LockKind::lockedFile, appPreferences,
         locked},
        {"remove proxy, Dock locked", removeCalculator, LockKind::lockedFile, dock, locked},
        {"remove proxy, icon cache locked", removeCalculator, LockKind::lockedFile,
         support + "/icon-cache.json", locked},
        {"remove proxy, proxy folder read-only", removeCalculator, LockKind::readOnlyFolder,
         "Applications/Mivora System Apps", denied},
        {"remove icon, icon cache folder read-only",
         {"remove-icon", "Notes", "--no-refresh"},
         LockKind::readOnlyFolder,
         support,
         denied},
        {"remove dark icon, icon cache locked",
         {"remove-dark-icon", "Notes"},
         LockKind::lockedFile,
         support + "/icon-cache.json",
         locked},
        {"import, configuration folder read-only",
         {"import", "<tmp>/config.json"},
         LockKind::readOnlyFolder,
         support + "/config",
         denied},
        {"import, folder of the document unreadable",
         {"import", "<home>/Exports/in.json"},
         LockKind::unreadableFolder,
         "Exports",
         denied},
        {"export, target folder read-only",
         {"export", "<home>/Exports/out.json"},
         LockKind::readOnlyFolder,
         "Exports",
         denied},
        {"export, configuration folder unreadable",
         {"export", "<home>/Exports/out.json"},
         LockKind::unreadableFolder,
         support + "/config",
         denied},
        {"add, collection folder read-only", add, LockKind::readOnlyFolder, collection, denied},
        {"add, manifest locked", add, LockKind::lockedFile, collection + "/manifest.json", locked},
        {"mark, manifest locked", mark, LockKind::lockedFile, collection + "/manifest.json", locked},
        {"mark, collections folder unreadable", mark, LockKind::unreadableFolder, support + "/collections",
         denied},
        {"publish, collection folder read-only", publish, LockKind::readOnlyFolder, collection, denied},
        {"publish, manifest locked", publish, LockKind::lockedFile, collection + "/manifest.json", locked},
    };
    sandbox.writeFile(sandbox.homePath("Exports/in.json"), ConfigDocument{}.text());
    ::chown(sandbox.homePath("Exports/in.json").c_str(), 65534, 65534);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> command = c.command;
        for (auto& argument : command) {
            if (argument == "<icon>") argument = icon;
            if (argument == "<chess>") argument = chess;
            if (argument == "<calculator>") argument = calculator.path;
            if (argument.rfind("<tmp>", 0) == 0) argument = sandbox.tmp() + argument.substr(5);
            if (argument.rfind("<home>", 0) == 0) argument = sandbox.home() + argument.substr(6);
        }
        std::string store = sandbox.homePath(c.store);
        std::string marker =
            (c.kind == LockKind::lockedFile ? platform::parentPath(store) : store) + "/marker";
        sandbox.writeFile(marker, "kept");
        auto before = snapshot(sandbox.home());
        auto requestsBefore = server.requests().size();

        StoreLock lock(sandbox, c.kind, store);
        if (!lock.apply()) {
            // Only the immutable flag can be missing (a file system without it).
            EXPECT_EQ(c.kind, LockKind::lockedFile);
            continue;
        }
        auto result = runAsNobody(sandbox, command);
        lock.release();

        EXPECT_EQ(result.status, 1) << result.out << result.err;
        EXPECT_EQ(result.err.rfind("Error: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(c.cause), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("not found"), std::string::npos) << result.err;
        EXPECT_EQ(result.out.find("✓"), std::string::npos) << result.out;
        EXPECT_EQ(snapshot(sandbox.home()), before) << "nothing half-changed";
        EXPECT_EQ(sandbox.readFile(marker), "kept");
        EXPECT_EQ(server.requests().size(), requestsBefore) << "nothing sent before the check";
    }
}

// The helper has put the icon on the bundle when the cache refuses it: the
// error says so, with the real cause.
TEST_F(StoreFailures, CacheRefusedAfterTheHelperRanIsReportedAsSuch) {
    std::string images = cachedImagesFolder(sandbox);
    // A helper that sets the icon and then makes the cache folder read-only.
    sandbox.writeScript(helperIn(sandbox), "chmod 555 '" + images + "'\nexit 0\n");
    std::string notes = sandbox.rootPath("/Applications/Notes.app");
    auto cacheBefore = sandbox.readFile(iconCacheFile(sandbox));

    auto result = runAsNobody(sandbox, {"set-icon", "Notes", icon, "--appearance", "dark", "--no-refresh"});
    ::chmod(images.c_str(), 0755);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("Error: The dark icon is on Notes but could not be cached: ", 0), 0u)
        << result.err;
    EXPECT_NE(result.err.find("Permission denied"), std::string::npos) << result.err;
    EXPECT_EQ(sandbox.readFile(iconCacheFile(sandbox)), cacheBefore);
}

// Publishing whose local save fails after the remote collection was made
// shows the remote slug and its token, the only copy of it.
TEST_F(StoreFailures, PublishThatCannotSaveShowsTheRemoteSlugAndToken) {
    std::string collection = collectionFolder(sandbox, "naruto");
    // The folder turns read-only while the service creates the collection.
    server.route("POST", "/api/collections", [&](const LoggedRequest&) {
        ::chmod(collection.c_str(), 0555);
        return ScriptedResponse{201, R"({"slug": "naruto-2", "name": "Naruto", "publishToken": "tok-123"})"};
    });
    auto result = runAsNobody(sandbox, {"collections", "publish", "naruto"});
    ::chmod(collection.c_str(), 0755);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("\"naruto-2\""), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("tok-123"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("Permission denied"), std::string::npos) << result.err;
    EXPECT_EQ(server.requests().size(), 1u) << "no upload after the failed save";
}

} // namespace
} // namespace mivora::testing
