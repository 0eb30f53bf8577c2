// Start-up migration of ~/.mivora into the current storage locations.
#include "platform/filesystem.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

const std::string kSupport = "Library/Application Support/com.quartelmisko.Mivora";
const std::string kCaches = "Library/Caches/com.quartelmisko.Mivora";

TEST(Migration, NoLegacyFolderCreatesNothing) {
    Sandbox sandbox;
    for (const auto& arguments : std::vector<std::vector<std::string>>{{"--version"}, {}, {"nonsense"}}) {
        sandbox.run(arguments);
        EXPECT_FALSE(platform::fileExists(sandbox.homePath(kSupport)));
        EXPECT_FALSE(platform::fileExists(sandbox.homePath(kCaches)));
    }
}

struct MigrationCase {
    std::string name;
    std::map<std::string, std::string> before;               // home-relative path -> content
    std::map<std::string, std::optional<std::string>> after; // content, or nothing for "must not exist"
};

TEST(Migration, MovesLegacyItemsByTheTable) {
    const std::vector<MigrationCase> cases = {
        {"destination copy wins",
         {{".mivora/history/h.json", "legacy"}, {kSupport + "/history/h.json", "current"}},
         {{kSupport + "/history/h.json", "current"}, {".mivora", std::nullopt}}},
        {"every table item moves",
         {{".mivora/cache/A.png", "a"},
          {".mivora/favorites/f", "f"},
          {".mivora/config/latest_export.json", "{}"},
          {".mivora/icon_fetch_cache.json", "fetch"}},
         {{kCaches + "/cache/A.png", "a"},
          {kSupport + "/favorites/f", "f"},
          {kSupport + "/config/latest_export.json", "{}"},
          {kCaches + "/icon_fetch_cache.json", "fetch"},
          {kCaches + "/cache/icon_fetch_cache.json", std::nullopt},
          {".mivora", std::nullopt}}},
        {"a lone .DS_Store in a sub-folder is moved and the folder goes",
         {{".mivora/cache/.DS_Store", "ds"}},
         {{kCaches + "/cache/.DS_Store", "ds"}, {".mivora/cache", std::nullopt}, {".mivora", std::nullopt}}},
        {"a top-level .DS_Store alone does not keep the folder",
         {{".mivora/.DS_Store", "ds"}, {".mivora/config/x", "x"}},
         {{kSupport + "/config/x", "x"}, {".mivora", std::nullopt}}},
        {"an extra item keeps the folder",
         {{".mivora/notes.txt", "keep"}, {".mivora/history/h", "h"}},
         {{".mivora/notes.txt", "keep"}, {".mivora/history", std::nullopt}, {kSupport + "/history/h", "h"}}},
        {"legacy fetch cache deleted when the destination has one",
         {{".mivora/icon_fetch_cache.json", "old"}, {kCaches + "/icon_fetch_cache.json", "new"}},
         {{kCaches + "/icon_fetch_cache.json", "new"}, {".mivora", std::nullopt}}},
    };
    for (const auto& c : cases) {
        Sandbox sandbox;
        for (const auto& [path, content] : c.before)
            sandbox.writeFile(sandbox.homePath(path), content);
        // Migration runs before parsing, so even a failed parse migrates.
        auto result = sandbox.run({"no-such-command"});
        EXPECT_EQ(result.status, 64) << c.name;
        for (const auto& [path, content] : c.after) {
            auto actual = platform::readFile(sandbox.homePath(path), testing::kTestReadLimit);
            if (content)
                EXPECT_EQ(actual, content) << c.name << ": " << path;
            else
                EXPECT_FALSE(platform::fileExists(sandbox.homePath(path))) << c.name << ": " << path;
        }
        // The four folders exist once there was a legacy folder.
        for (const auto& folder : {kSupport, kSupport + "/config", kCaches, kCaches + "/cache"})
            EXPECT_TRUE(platform::isDirectory(sandbox.homePath(folder))) << c.name << ": " << folder;
    }
}

} // namespace
} // namespace mivora::testing
