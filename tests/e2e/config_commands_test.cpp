// import, export and validate of the configuration exchange document, run in a sandbox.
#include "platform/filesystem.h"
#include "support/config_document_fixture.h"
#include "support/sandbox.h"

#include <chrono>
#include <gtest/gtest.h>
#include <unistd.h>

namespace mivora::testing {
namespace {

const std::string kConfigFolder = "Library/Application Support/com.quartelmisko.Mivora/config";

class ConfigCommands : public ::testing::Test {
protected:
    void SetUp() override { sandbox.environment["TZ"] = "UTC"; }

    std::string configPath(const std::string& name) const {
        return sandbox.homePath(kConfigFolder + "/" + name);
    }
    std::string writeDocument(const std::string& name, const std::string& text) const {
        std::string path = sandbox.dir() + "/" + name;
        sandbox.writeFile(path, text);
        return path;
    }

    // Two aliases and two icons: one whose application exists, one with empty data.
    ConfigDocument sample() const {
        ConfigDocument document;
        document.aliases = {{"Safari", "web"}, {"Notes", "jot"}};
        document.icons = {
            {sandbox.addApp({.name = "Notes"}), "Notes", "notes.png", std::string(1500, 'x')},
            {sandbox.rootPath("/Applications/Notes.app"), "Notes", "dark.png", std::string(500, 'y')}};
        return document;
    }

    Sandbox sandbox;
};

TEST_F(ConfigCommands, ImportDryRunPrintsTheSummaryAndWritesNothing) {
    std::string path = writeDocument("c.json", sample().text());
    auto result = sandbox.run({"import", path, "--dry-run"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Configuration: v1.0\n"
                          "  Aliases: 2\n"
                          "  Icons:   2\n"
                          "\n"
                          "Dry run — no changes made.\n");
    EXPECT_FALSE(platform::fileExists(configPath("imported_config.json")));
    EXPECT_FALSE(platform::fileExists(configPath("pending_import")));
}

TEST_F(ConfigCommands, ImportStagesTheBytesUnchangedWithAnEmptyMarker) {
    // Unusual key order, CRLF line ends, an unknown key and a trailing blank: all must survive.
    std::string text =
        "{\r\n  \"version\" : \"2.1\",\r\n  \"cachedIcons\" : [],\r\n  \"future\" : {\"k\": [1]},\r\n"
        "  \"exportDate\" : 7.26e8,\r\n  \"appAliases\" : [ {\"aliasName\":\"w\",\"appName\":\"Web\"} "
        "]\r\n} ";
    std::string path = writeDocument("c.json", text);
    sandbox.writeFile(configPath("imported_config.json"), "an older staged import");
    auto result = sandbox.run({"import", "-d", path}); // a dry run leaves the older one alone
    EXPECT_EQ(*sandbox.readFile(configPath("imported_config.json")), "an older staged import");

    result = sandbox.run({"import", path});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Configuration: v2.1\n"
                          "  Aliases: 1\n"
                          "  Icons:   0\n"
                          "\n"
                          "✓ Configuration staged for import.\n"
                          "  Restart Mivora to apply changes.\n");
    EXPECT_EQ(*sandbox.readFile(configPath("imported_config.json")), text);
    EXPECT_EQ(sandbox.readFile(configPath("pending_import")), std::optional<std::string>(""));
    // No temporary files left beside them.
    EXPECT_EQ(platform::listDirectory(sandbox.homePath(kConfigFolder))->size(), 2u);
}

TEST_F(ConfigCommands, PathArgumentsExpandTildeAndFollowTheCurrentFolder) {
    sandbox.writeFile(sandbox.homePath("docs/c.json"), sample().text());
    auto fromHome = sandbox.run({"import", "-d", "~/docs/c.json"});
    EXPECT_EQ(fromHome.status, 0) << fromHome.err;
    auto relative = sandbox.run({"validate", "c.json"}, sandbox.homePath("docs"));
    EXPECT_EQ(relative.status, 0) << relative.err;
    auto exported = sandbox.run({"export", "../out/c.json"}, sandbox.homePath("docs"));
    EXPECT_EQ(exported.err, "Error: No exported configuration found.\n"
                            "Use the Mivora app to export your configuration first,\n"
                            "or use: mivora export-direct <path>\n");
    auto missing = sandbox.run({"validate", "gone.json"}, sandbox.homePath("docs"));
    EXPECT_EQ(missing.err, "Error: File not found: " + sandbox.homePath("docs/gone.json") + "\n");
}

TEST_F(ConfigCommands, ImportFailures) {
    auto broken = sample().toJson();
    broken["cachedIcons"][1].erase("iconData");
    std::string brokenPath = writeDocument("broken.json", broken.dump());
    std::string folderPath = sandbox.dir() + "/folder.json";
    platform::createDirectories(folderPath);
    struct Case {
        std::string path, err;
    };
    for (const auto& c : std::vector<Case>{
             {sandbox.dir() + "/none.json",
              "Error: Configuration file not found: " + sandbox.dir() + "/none.json\n"},
             {brokenPath,
              "Error: Invalid configuration file: Missing required key at cachedIcons[1].iconData\n"},
             {folderPath,
              "Error: Invalid configuration file: Cannot read " + folderPath + ": Is a directory\n"},
         }) {
        auto result = sandbox.run({"import", c.path});
        EXPECT_EQ(result.status, 1) << c.path;
        EXPECT_EQ(result.out, "") << c.path;
        EXPECT_EQ(result.err, c.err);
        EXPECT_FALSE(platform::fileExists(configPath("pending_import")));
    }
}

TEST_F(ConfigCommands, ImportStagingFailureEndsWithTheWriteError) {
    std::string path = writeDocument("c.json", sample().text());
    // A file where the configuration folder belongs makes both writes impossible.
    sandbox.writeFile(sandbox.homePath(kConfigFolder), "not a folder");
    auto result = sandbox.run({"import", path});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "Configuration: v1.0\n  Aliases: 2\n  Icons:   2\n");
    EXPECT_EQ(result.err.rfind("Error: Cannot write " + configPath("imported_config.json") + ": ", 0), 0u)
        << result.err;
}

TEST_F(ConfigCommands, ExportCopiesTheLastExportIntoNewFolders) {
    std::string text = sample().text() + "\n\n"; // trailing blank lines are part of the bytes
    sandbox.writeFile(configPath("latest_export.json"), text);
    std::string out = sandbox.dir() + "/a/b/c/mine.json";
    auto result = sandbox.run({"export", out});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "✓ Configuration exported to " + out + "\n");
    EXPECT_EQ(*sandbox.readFile(out), text);
}

TEST_F(ConfigCommands, ExportRefusesToOverwriteWithoutForce) {
    std::string text = sample().text();
    sandbox.writeFile(configPath("latest_export.json"), text);
    std::string out = writeDocument("existing.json", "keep me");
    auto refused = sandbox.run({"export", out});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "File already exists: " + out + "\nUse --force to overwrite.\n");
    EXPECT_EQ(refused.err, "");
    EXPECT_EQ(*sandbox.readFile(out), "keep me");

    for (const char* flag : {"-f", "--force"}) {
        sandbox.writeFile(out, "keep me");
        auto forced = sandbox.run({"export", out, flag});
        EXPECT_EQ(forced.status, 0) << forced.err;
        EXPECT_EQ(*sandbox.readFile(out), text);
    }
}

TEST_F(ConfigCommands, ExportOfABrokenLastExportCopiesNothing) {
    sandbox.writeFile(configPath("latest_export.json"), "{\"appAliases\": []}");
    std::string out = writeDocument("existing.json", "keep me");
    auto result = sandbox.run({"export", out, "--force"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: Missing required key at cachedIcons\n");
    EXPECT_EQ(*sandbox.readFile(out), "keep me");
    auto fresh = sandbox.run({"export", sandbox.dir() + "/new/x.json"});
    EXPECT_EQ(fresh.status, 1);
    EXPECT_FALSE(platform::fileExists(sandbox.dir() + "/new"));
}

TEST_F(ConfigCommands, ValidatePrintsTheSummaryAndWarningsInOrder) {
    ConfigDocument document = sample();
    document.aliases = {{"", ""}, {"Safari", ""}, {"", "x"}, {"Notes", "jot"}};
    document.icons.push_back({"/nowhere/Gone.app", "Gone", "gone.png", ""});
    std::string path = writeDocument("c.json", document.text());
    auto result = sandbox.run({"validate", path});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "✓ Valid configuration file\n"
                          "  Version:     1.0\n"
                          "  Export date: Jan 3, 2024, 6:40:00\u202FPM\n"
                          "  Aliases:     4\n"
                          "  Icons:       3\n"
                          "  Icon data:   2 KB\n"
                          "\n"
                          "Warnings:\n"
                          "  ⚠ Empty app name in alias entry\n"
                          "  ⚠ Empty alias name for ''\n"
                          "  ⚠ Empty alias name for 'Safari'\n"
                          "  ⚠ Empty app name in alias entry\n"
                          "  ⚠ Empty icon data for 'Gone'\n"
                          "  ⚠ App not found: /nowhere/Gone.app (Gone)\n");
}

TEST_F(ConfigCommands, ValidateOfACleanDocumentHasNoWarningsSection) {
    ConfigDocument document;
    std::string path = writeDocument("c.json", document.text());
    sandbox.environment["LANG"] = "de_DE.UTF-8";
    auto result = sandbox.run({"validate", path});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "✓ Valid configuration file\n"
                          "  Version:     1.0\n"
                          "  Export date: 03.01.2024, 18:40:00\n"
                          "  Aliases:     0\n"
                          "  Icons:       0\n"
                          "  Icon data:   Zero KB\n");
}

TEST_F(ConfigCommands, ValidateRefusesAnIsoDateOnStandardOutput) {
    auto json = sample().toJson();
    json["exportDate"] = "2024-01-03T18:40:00Z";
    auto result = sandbox.run({"validate", writeDocument("c.json", json.dump())});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(
        result.out,
        "✗ Invalid configuration: Expected a number (seconds since 1 January 2001) at exportDate but found a "
        "string\n");
    EXPECT_EQ(result.err, "");
}

// Hostile input: each is refused clearly, quickly and without a crash, by validate
// (on standard output) and by import (on standard error), and import stages nothing.
TEST_F(ConfigCommands, BadInputIsRefusedQuickly) {
    auto withIconData = [&](const std::string& data) {
        auto json = sample().toJson();
        json["cachedIcons"][0]["iconData"] = data;
        return json.dump();
    };
    std::string deep = std::string(5'000'000, '[') + std::string(5'000'000, ']');
    std::string invalidUTF8 = sample().text();
    invalidUTF8.replace(invalidUTF8.find("Safari"), 6, "Saf\xC3\x28ri");
    struct Case {
        std::string name, bytes, description;
        off_t sparseSize = 0; // extended with a hole to this size
    };
    const std::vector<Case> cases = {
        // Larger than any export: refused before a byte of it is read.
        {"huge", "{",
         "Cannot read " + sandbox.dir() +
             "/huge.json: larger than 1 GB, the limit for a configuration document",
         1'100'000'000},
        {"deep", deep, "Not valid JSON at line 1, column 257: nested more than 256 levels deep"},
        {"utf8", invalidUTF8,
         "Not valid JSON at line 4, column 23: syntax error while parsing value - invalid string: ill-formed "
         "UTF-8 "
         "byte"},
        {"whitespace", withIconData("eHh4\neHh4"),
         "Invalid Base64 at cachedIcons[0].iconData: white space at character 5"},
        {"padding", withIconData("eHh4eA="),
         "Invalid Base64 at cachedIcons[0].iconData: length of 7 characters is not a multiple of 4 (missing "
         "or "
         "extra '=' padding)"},
        {"overpadded", withIconData("eA==="),
         "Invalid Base64 at cachedIcons[0].iconData: more than two '=' padding "
         "characters"},
    };
    for (const auto& c : cases) {
        std::string path = writeDocument(c.name + ".json", c.bytes);
        if (c.sparseSize > 0) {
            ASSERT_EQ(::truncate(path.c_str(), c.sparseSize), 0);
        }
        for (const char* command : {"validate", "import"}) {
            auto start = std::chrono::steady_clock::now();
            auto result = sandbox.run({command, path});
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            EXPECT_LT(seconds, 2.0) << c.name << " " << command;
            EXPECT_EQ(result.status, 1) << c.name << " " << command << result.err;
            if (std::string(command) == "validate") {
                EXPECT_EQ(result.out, "✗ Invalid configuration: " + c.description + "\n") << c.name;
            } else {
                EXPECT_EQ(result.err, "Error: Invalid configuration file: " + c.description + "\n") << c.name;
            }
        }
        platform::removeItem(path);
    }
    EXPECT_FALSE(platform::fileExists(configPath("imported_config.json")));
}

} // namespace
} // namespace mivora::testing
