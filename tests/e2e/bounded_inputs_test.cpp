// Damaged and hostile files and answers through the real binary: nothing hangs,
// crashes or takes the machine's memory. A FIFO or a device in place of a file,
// a huge sparse file, property lists nested far beyond any real one or whose
// binary references lie, a catalog answer of nothing but brackets, and a full disk.
#include "core/json.h"
#include "platform/filesystem.h"
#include "support/catalog_fixture.h"
#include "support/catalog_server.h"
#include "support/collection_fixture.h"
#include "support/config_document_fixture.h"
#include "support/hostile_inputs.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mivora::testing {
namespace {

using core::Json;
using Kind = BinaryPlistObject::Kind;

// Bounds that a sound run stays far below and a hanging one passes.
constexpr double kTimeLimitSeconds = 10;

// One way of putting something hostile at a path.
struct HostileFile {
    const char* name;
    std::function<void(const Sandbox&, const std::string&)> place;
};

void writeBytes(const std::string& bytes, const Sandbox& sandbox, const std::string& path) {
    sandbox.writeFile(path, bytes);
}

std::vector<HostileFile> hostilePropertyLists() {
    auto bytes = [](std::string content) {
        return [content](const Sandbox& sandbox, const std::string& path) {
            writeBytes(content, sandbox, path);
        };
    };
    // Each level holds the next one twice: 2^64 objects once unfolded.
    std::vector<BinaryPlistObject> shared;
    for (uint64_t i = 0; i < 64; ++i)
        shared.push_back({Kind::array, "", {i + 1, i + 1}, std::nullopt});
    shared.push_back({Kind::text, "leaf", {}, std::nullopt});
    return {
        {"deep XML", bytes(deeplyNestedPlist(200'000, false))},
        {"deep binary", bytes(deeplyNestedPlist(100'000, true))},
        {"binary array that holds itself", bytes(binaryPlist({{Kind::array, "", {0}, std::nullopt}}))},
        {"binary references shared level by level", bytes(binaryPlist(shared))},
        {"binary array that claims more elements than the file holds",
         bytes(
             binaryPlist({{Kind::array, "", {1}, uint64_t{1} << 40}, {Kind::text, "x", {}, std::nullopt}}))},
        {"binary reference past the last object",
         bytes(binaryPlist({{Kind::array, "", {7}, std::nullopt}, {Kind::text, "x", {}, std::nullopt}}))},
        {"FIFO",
         [](const Sandbox&, const std::string& path) {
             platform::createDirectories(platform::parentPath(path));
             ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
         }},
        {"link to /dev/zero",
         [](const Sandbox&, const std::string& path) {
             platform::createDirectories(platform::parentPath(path));
             platform::createSymbolicLink(path, "/dev/zero");
         }},
        {"sparse 2 GB file",
         [](const Sandbox& sandbox, const std::string& path) {
             sandbox.writeFile(path, "<?xml version=\"1.0\"?><plist><dict>");
             ASSERT_EQ(::truncate(path.c_str(), off_t{2} << 30), 0);
         }},
    };
}

RunResult runBounded(const Sandbox& sandbox, const std::vector<std::string>& arguments) {
    auto result = sandbox.run(arguments, "", kTimeLimitSeconds);
    EXPECT_FALSE(result.timedOut) << arguments[0];
    return result;
}

TEST(BoundedInputs, PropertyListReadersNeverFail) {
    for (const auto& hostile : hostilePropertyLists()) {
        SCOPED_TRACE(hostile.name);
        Sandbox sandbox;
        sandbox.addApp({.name = "Good", .bundleId = "com.example.good"});
        std::string bad = sandbox.addApp({.name = "Bad", .writeInfoPlist = false});
        hostile.place(sandbox, bad + "/Contents/Info.plist");
        hostile.place(sandbox, sandbox.homePath("Library/Preferences/com.apple.dock.plist"));
        hostile.place(sandbox, sandbox.homePath("Library/Preferences/com.quartelmisko.Mivora.plist"));

        // The bundle is listed without an identifier; the Dock and the aliases read as empty.
        auto apps = runBounded(sandbox, {"apps", "--json"});
        ASSERT_EQ(apps.status, 0) << apps.err;
        Json listed = Json::parse(apps.out).at("apps");
        ASSERT_EQ(listed.size(), 2u);
        EXPECT_EQ(listed[0].at("name"), "Bad");
        EXPECT_FALSE(listed[0].contains("bundleId"));
        EXPECT_EQ(listed[1].at("bundleId"), "com.example.good");

        auto found = runBounded(sandbox, {"quit-app", "Bad", "--json"});
        EXPECT_EQ(found.status, 0) << found.err;

        auto dock = runBounded(sandbox, {"apps", "--dock", "--json"});
        ASSERT_EQ(dock.status, 0) << dock.err;
        EXPECT_EQ(Json::parse(dock.out).at("apps"), Json::array());

        auto status = runBounded(sandbox, {"status", "--json"});
        ASSERT_EQ(status.status, 0) << status.err;
        EXPECT_EQ(Json::parse(status.out).at("aliases"), 0);

        auto list = runBounded(sandbox, {"list", "--json"});
        EXPECT_EQ(list.status, 0) << list.err;
    }
}

// Another place of the same kind still works beside the hostile one.
TEST(BoundedInputs, AManifestThatIsNoRegularFileIsSkippedOrNamed) {
    Sandbox sandbox;
    sandbox.environment["MIVORA_API_BASE_URL"] = "http://127.0.0.1:9/api";
    writeCollection(sandbox, "good", manifestDocument("good", "Good"));
    writeCollection(sandbox, "piped", manifestDocument("piped", "Piped"));
    std::string manifest = collectionFolder(sandbox, "piped") + "/manifest.json";
    platform::removeItem(manifest);
    ASSERT_EQ(::mkfifo(manifest.c_str(), 0644), 0);

    auto list = runBounded(sandbox, {"collections", "list", "--json"});
    ASSERT_EQ(list.status, 0) << list.err;
    Json local = Json::parse(list.out).at("localCollections");
    ASSERT_EQ(local.size(), 1u);
    EXPECT_EQ(local[0].at("slug"), "good");

    for (std::vector<std::string> command :
         {std::vector<std::string>{"collections", "status", "piped"},
          {"collections", "show", "piped"},
          {"collections", "apply", "piped", "--dry-run"},
          {"collections", "mark", "piped", "Notes", "--status", "skipped"}}) {
        auto result = runBounded(sandbox, command);
        EXPECT_EQ(result.status, 1) << command[1];
        EXPECT_EQ(result.err, "Error: Cannot read " + manifest + ": not a regular file\n") << command[1];
    }
}

// The files named on the command line: a style prompt and a configuration document.
TEST(BoundedInputs, FilesNamedByTheUserAreRefusedWithTheFileAndTheCap) {
    Sandbox sandbox;
    std::string fifo = sandbox.dir() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::string zero = sandbox.dir() + "/zero";
    platform::createSymbolicLink(zero, "/dev/zero");
    std::string sparse = sandbox.dir() + "/sparse";
    sandbox.writeFile(sparse, "{");
    ASSERT_EQ(::truncate(sparse.c_str(), off_t{1'100'000'000}), 0);
    std::string prompt = sandbox.dir() + "/prompt.txt";
    sandbox.writeFile(prompt, std::string(1'000'001, 'p'));

    struct Case {
        std::vector<std::string> arguments;
        std::string out, err;
    };
    const std::vector<Case> cases = {
        {{"collections", "create", "a", "--prompt-file", fifo},
         "",
         "Error: Cannot read " + fifo + ": not a regular file\n"},
        {{"collections", "create", "b", "--prompt-file", zero},
         "",
         "Error: Cannot read " + zero + ": not a regular file\n"},
        {{"collections", "create", "c", "--prompt-file", prompt},
         "",
         "Error: Cannot read " + prompt + ": larger than 1 MB, the limit for a style prompt\n"},
        {{"validate", fifo}, "✗ Invalid configuration: Cannot read " + fifo + ": not a regular file\n", ""},
        {{"validate", zero}, "✗ Invalid configuration: Cannot read " + zero + ": not a regular file\n", ""},
        {{"validate", sparse},
         "✗ Invalid configuration: Cannot read " + sparse +
             ": larger than 1 GB, the limit for a configuration "
             "document\n",
         ""},
        {{"import", sparse},
         "",
         "Error: Invalid configuration file: Cannot read " + sparse +
             ": larger than 1 GB, the limit for a configuration document\n"},
    };
    for (const auto& c : cases) {
        auto result = runBounded(sandbox, c.arguments);
        EXPECT_EQ(result.status, 1) << c.arguments[0];
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, c.err);
    }
    EXPECT_FALSE(platform::fileExists(collectionFolder(sandbox, "a")));
}

TEST(BoundedInputs, ACatalogAnswerNestedBeyondReasonIsNoResults) {
    CatalogServer server;
    Sandbox sandbox;
    useCatalog(sandbox, server);
    server.route("POST", "/api/search", ScriptedResponse{200, std::string(4'000'000, '[')});
    server.route("GET", "/api/icons", ScriptedResponse{200, "{\"icons\":" + std::string(4'000'000, '[')});
    auto result = runMeasured(sandbox, {"search-icons", "notion"}, kTimeLimitSeconds);
    EXPECT_FALSE(result.result.timedOut);
    EXPECT_EQ(result.result.status, 1);
    EXPECT_EQ(result.result.err, "Error: No icons found for this search.\n");
    EXPECT_LT(result.peakKilobytes, 100'000);
}

// A full disk, stood in for by the file-size limit: an error, and no temporary file left.
TEST(BoundedInputs, AWriteBeyondTheFileSizeLimitIsAnError) {
    Sandbox sandbox;
    std::string config = sandbox.homePath("Library/Application Support/com.quartelmisko.Mivora/config");
    ConfigDocument document;
    document.icons = {{"/Applications/Notes.app", "Notes", "notes.png", std::string(300'000, 'x')}};
    sandbox.writeFile(config + "/latest_export.json", document.text());
    std::string out = sandbox.dir() + "/out/export.json";

    auto run = runMeasured(sandbox, {"export", out}, kTimeLimitSeconds, 100'000);
    EXPECT_EQ(run.result.status, 1) << run.result.err;
    EXPECT_EQ(run.result.err, "Error: Cannot write " + out + ": File too large\n");
    EXPECT_EQ(platform::listDirectory(sandbox.dir() + "/out"), std::vector<std::string>());
}

} // namespace
} // namespace mivora::testing
