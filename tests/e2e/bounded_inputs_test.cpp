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

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mivora::testing {
namespace {

using core::Json;
using Kind = BinaryPlistObject::Kind;

// Bounds that a sound run stays far below and a hanging one passes.
constexpr double kTimeLimitSeconds = 10 * kSlowdown;

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

// The cap in that message reads as the tool's other sizes do, in the user's
// locale; the stand-ins, which carry no locale data, write it plainly in every locale.
TEST(BoundedInputs, TheCapReadsInTheUserLocaleInTheToolAndPlainlyInTheStandIns) {
    Sandbox sandbox;
    std::string prompt = sandbox.dir() + "/prompt.txt";
    sandbox.writeFile(prompt, "p");
    ASSERT_EQ(::truncate(prompt.c_str(), off_t{1'000'001}), 0);
    std::string image = sandbox.dir() + "/huge.png";
    sandbox.writeFile(image, "\x89PNG");
    ASSERT_EQ(::truncate(image.c_str(), off_t{128'000'001}), 0);
    std::string folder = sandbox.homePath("Target");
    platform::createDirectories(folder);

    struct Case {
        const char* locale;
        const char* one; // 1 in the locale's digits
    };
    for (const Case& c : {Case{"C", "1"}, Case{"de_DE.UTF-8", "1"}, Case{"ar_EG.UTF-8", "\u0661"},
                          Case{"bn_BD.UTF-8", "\u09e7"}}) {
        SCOPED_TRACE(c.locale);
        sandbox.environment["LC_ALL"] = c.locale;
        auto tool = runBounded(sandbox, {"collections", "create", "a", "--prompt-file", prompt});
        EXPECT_EQ(tool.status, 1);
        EXPECT_EQ(tool.err, "Error: Cannot read " + prompt + ": larger than " + c.one +
                                " MB, the limit for a style prompt\n");
        auto standin = sandbox.runProgram({standinsDirectory() + "/fileicon", "set", folder, image});
        EXPECT_EQ(standin.status, 1);
        EXPECT_EQ(standin.err,
                  "fileicon: Cannot read " + image + ": larger than 128 MB, the limit for an image\n");
    }
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
    if (kPeaksAreMeaningful) {
        EXPECT_LT(result.peakKilobytes, 100'000);
    }
}

// A large export, many small aliases and some large images: decoded without
// holding a tree of it beside its bytes.
TEST(BoundedInputs, AConfigurationDocumentIsDecodedWithinAboutThreeTimesItsSize) {
    Sandbox sandbox;
    // Written piece by piece: the child's peak counts what the test holds when it starts it.
    std::string path = sandbox.dir() + "/export.json";
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs(R"({"appAliases":[)", file);
    for (int i = 0; i < 400'000; ++i)
        std::fprintf(file, R"(%s{"appName":"App %d","aliasName":"a"})", i ? "," : "", i);
    std::fputs(R"(],"cachedIcons":[)", file);
    const std::string data(2'000'000, 'A'); // Base64 of 1.5 MB
    for (int i = 0; i < 8; ++i) {
        std::fprintf(file, R"(%s{"appPath":"/A.app","appName":"A","iconFileName":"a.png","iconData":"%s"})",
                     i ? "," : "", data.c_str());
    }
    std::fputs(R"(],"version":"1.0","exportDate":1})", file);
    long size = std::ftell(file);
    std::fclose(file);

    auto run = runMeasured(sandbox, {"validate", path}, kTimeLimitSeconds);
    EXPECT_EQ(run.result.status, 0) << run.result.out;
    EXPECT_NE(run.result.out.find("  Aliases:     400000\n"), std::string::npos) << run.result.out;
    // Beyond three times the document, a few tens of MB for the process itself.
    if (kPeaksAreMeaningful) {
        EXPECT_LT(run.peakKilobytes * 1024, 3 * size + 40'000'000) << size;
    }
}

// UTF-8 to UTF-16 or UTF-32 code units, in either byte order, with or without a mark.
std::string encodedAs(const std::string& utf8, size_t width, bool bigEndian, bool mark) {
    std::vector<uint32_t> scalars;
    for (size_t i = 0; i < utf8.size();) {
        auto lead = static_cast<unsigned char>(utf8[i]);
        size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        uint32_t scalar = length == 1 ? lead : lead & (0xFF >> (length + 1));
        for (size_t k = 1; k < length; ++k)
            scalar = scalar << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        scalars.push_back(scalar);
        i += length;
    }
    std::vector<uint32_t> units;
    if (mark) units.push_back(0xFEFF);
    for (uint32_t scalar : scalars) {
        if (width == 2 && scalar >= 0x10000) {
            units.push_back(0xD800 + ((scalar - 0x10000) >> 10));
            units.push_back(0xDC00 + ((scalar - 0x10000) & 0x3FF));
        } else {
            units.push_back(scalar);
        }
    }
    std::string out;
    for (uint32_t unit : units) {
        for (size_t k = 0; k < width; ++k) {
            size_t shift = 8 * (bigEndian ? width - 1 - k : k);
            out += static_cast<char>(unit >> shift & 0xFF);
        }
    }
    return out;
}

TEST(BoundedInputs, AConfigurationDocumentInUTF16OrUTF32ReadsAsInUTF8) {
    Sandbox sandbox;
    ConfigDocument document;
    document.aliases = {{"Caf\u00e9 \U0001F5D2", ""}};
    std::string utf8 = document.text();
    std::string path = sandbox.dir() + "/c.json";
    sandbox.writeFile(path, utf8);
    auto expected = runBounded(sandbox, {"validate", path});
    ASSERT_EQ(expected.status, 0) << expected.out;
    ASSERT_NE(expected.out.find("Empty alias name for 'Caf\u00e9 \U0001F5D2'"), std::string::npos);

    for (size_t width : {2, 4}) {
        for (bool bigEndian : {false, true}) {
            for (bool mark : {false, true}) {
                SCOPED_TRACE(std::to_string(width * 8) + (bigEndian ? " BE" : " LE") +
                             (mark ? " with mark" : ""));
                sandbox.writeFile(path, encodedAs(utf8, width, bigEndian, mark));
                auto result = runBounded(sandbox, {"validate", path});
                EXPECT_EQ(result.status, 0);
                EXPECT_EQ(result.out, expected.out);
            }
        }
    }
    // A lone surrogate is no text.
    sandbox.writeFile(path,
                      encodedAs("{\"a\":1}", 2, false, false).replace(4, 2, std::string("\x00\xD8", 2)));
    auto broken = runBounded(sandbox, {"validate", path});
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.out,
              "✗ Invalid configuration: Not valid JSON: the UTF-16 text is malformed at byte 4\n");
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
