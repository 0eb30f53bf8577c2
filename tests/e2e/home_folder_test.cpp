// Where the home folder comes from when HOME is missing, empty or relative: the
// user database, as the platform does, or else a clear error before anything
// is read or written; never "/" and never the current folder.
#include "core/json.h"
#include "platform/filesystem.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace mivora::testing {
namespace {

const std::string kDatabaseError = " and the user database gives no home folder for user " +
                                   std::to_string(::getuid()) +
                                   ". Set HOME to the absolute path of your home folder.\n";

// The user-database stand-in for runs: our user id mapped to `home`. Nothing
// when the wrapper library is not installed.
std::optional<std::string> nssWrapperLibrary() {
    for (const char* path :
         {"/usr/lib/x86_64-linux-gnu/libnss_wrapper.so", "/usr/lib/aarch64-linux-gnu/libnss_wrapper.so",
          "/usr/lib64/libnss_wrapper.so", "/usr/lib/libnss_wrapper.so"}) {
        if (platform::fileExists(path)) return std::string(path);
    }
    return std::nullopt;
}

bool useUserDatabase(Sandbox& sandbox, const std::string& home) {
    auto library = nssWrapperLibrary();
    if (!library) return false;
    std::string uid = std::to_string(::getuid()), gid = std::to_string(::getgid());
    sandbox.writeFile(sandbox.dir() + "/passwd",
                      "someone:x:" + uid + ":" + gid + ":Someone:" + home + ":/bin/sh\n");
    sandbox.writeFile(sandbox.dir() + "/group", "someone:x:" + gid + ":\n");
    sandbox.environment["LD_PRELOAD"] = *library;
    // Under AddressSanitizer the preloaded library comes before its runtime; that is fine here.
    sandbox.environment["ASAN_OPTIONS"] = "detect_leaks=0:verify_asan_link_order=0";
    sandbox.environment["NSS_WRAPPER_PASSWD"] = sandbox.dir() + "/passwd";
    sandbox.environment["NSS_WRAPPER_GROUP"] = sandbox.dir() + "/group";
    return true;
}

// Runs with HOME unset (nothing) or set to the text.
RunResult runWithHome(Sandbox& sandbox, const std::optional<std::string>& home,
                      const std::vector<std::string>& arguments, const std::string& workingDirectory = "") {
    std::vector<std::string> argv = {"/usr/bin/env"};
    if (home)
        sandbox.environment["HOME"] = *home;
    else
        argv.insert(argv.end(), {"-u", "HOME"});
    argv.push_back(mivoraBinary());
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return sandbox.runProgram(argv, workingDirectory);
}

TEST(HomeFolder, ARelativeHomeEndsEveryCommandBeforeAnythingIsTouched) {
    Sandbox sandbox;
    const std::string cwd = sandbox.tmp() + "/work";
    // A legacy folder that the start-up migration would move, relative to the current folder.
    sandbox.writeFile(cwd + "/home/.mivora/cache/a.png", "legacy");
    for (const std::string home : {"home", "./home", "~"}) {
        for (const std::vector<std::string>& arguments :
             {std::vector<std::string>{"status", "--json"}, {"list"}, {"collections", "list"}}) {
            SCOPED_TRACE(home + " " + arguments[0]);
            auto result = runWithHome(sandbox, home, arguments, cwd);
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, "Error: HOME is set to a relative path (\"" + home +
                                      "\"); set it to the absolute path of your home folder.\n");
        }
    }
    EXPECT_EQ(platform::listDirectory(cwd), std::vector<std::string>{"home"});
    EXPECT_EQ(platform::listDirectory(cwd + "/home"), std::vector<std::string>{".mivora"});
    EXPECT_EQ(sandbox.readFile(cwd + "/home/.mivora/cache/a.png"), "legacy");
}

TEST(HomeFolder, UnsetOrEmptyHomeIsTakenFromTheUserDatabase) {
    Sandbox sandbox;
    if (!useUserDatabase(sandbox, sandbox.home() + "/")) GTEST_SKIP() << "libnss_wrapper is not installed";
    sandbox.writeFile(sandbox.homePath(".mivora/config/settings.json"), "{}");
    for (const std::optional<std::string>& home :
         {std::optional<std::string>{}, std::optional<std::string>{""}}) {
        SCOPED_TRACE(home ? "empty" : "unset");
        auto result = runWithHome(sandbox, home, {"status", "--json"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(core::Json::parse(result.out).at("paths").at("cacheDir"),
                  sandbox.home() + "/Library/Caches/com.quartelmisko.Mivora/cache");
    }
    EXPECT_EQ(sandbox.readFile(sandbox.homePath(
                  "Library/Application Support/com.quartelmisko.Mivora/config/settings.json")),
              "{}")
        << "the migration ran in the database's home folder";
}

TEST(HomeFolder, NoUsableHomeAnywhereIsAnErrorNeverTheRootFolder) {
    const std::string rootData = "/Library/Application Support/com.quartelmisko.Mivora";
    const bool rootDataExisted = platform::fileExists(rootData);
    for (const std::string databaseHome : {"/", "/nonexistent-home-of-nobody", "relative"}) {
        Sandbox sandbox;
        if (!useUserDatabase(sandbox, databaseHome)) GTEST_SKIP() << "libnss_wrapper is not installed";
        for (const std::optional<std::string>& home :
             {std::optional<std::string>{}, std::optional<std::string>{""}}) {
            SCOPED_TRACE(databaseHome + (home ? " empty" : " unset"));
            auto result = runWithHome(sandbox, home, {"list", "--json"});
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, std::string("Error: Cannot find your home folder: HOME is ") +
                                      (home ? "empty" : "not set") + kDatabaseError);

            // Help and version need no home folder.
            for (const std::vector<std::string>& arguments :
                 {std::vector<std::string>{"--version"}, {"--help"}, {"help", "list"}}) {
                auto info = runWithHome(sandbox, home, arguments);
                EXPECT_EQ(info.status, 0) << arguments[0] << ": " << info.err;
                EXPECT_EQ(info.err, "");
            }
        }
    }
    EXPECT_EQ(platform::fileExists(rootData), rootDataExisted);
}

} // namespace
} // namespace mivora::testing
