// Application lookup as every command that names an application meets it,
// seen through `quit-app --json` (the applications are not running, so the
// reply only reports which application the argument named).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/filesystem.h"
#include "support/sandbox.h"

namespace mivora::testing {
namespace {

struct LookupCase {
    std::string title;
    std::vector<AppBundle> apps;
    std::string argument;
    // Found: the application's path ("<root>", "<home>" and "<dir>" stand for the sandbox's).
    std::string path;
    // Not found: the whole error message.
    std::string error;
    std::string workingDirectory = "<dir>";
};

std::string expand(std::string text, const Sandbox& sandbox) {
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"<root>", sandbox.root()},
                                      {"<home>", sandbox.home()},
                                      {"<dir>", sandbox.dir()}}) {
        for (size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, mark.size(), value);
    }
    return text;
}

AppBundle app(std::string name, std::optional<std::string> bundleId = std::nullopt, std::string folder = "") {
    return AppBundle{.name = std::move(name), .folder = std::move(folder), .bundleId = std::move(bundleId)};
}

TEST(AppLookup, Table) {
    const std::string similar = "Use the exact name or the full .app path.";
    const std::vector<LookupCase> cases = {
        {"exact name beats names holding the word",
         {app("Sticky Notes"), app("Notes"), app("Notes Pro")},
         "notes",
         "<root>/Applications/Notes.app",
         ""},
        {"full bundle identifier in another case",
         {app("Notes", "com.apple.Notes"), app("Notes Pro", "com.example.notespro")},
         "COM.APPLE.NOTES",
         "<root>/Applications/Notes.app",
         ""},
        {"single whole-word match",
         {app("Visual Studio Code"), app("Xcode")},
         "code",
         "<root>/Applications/Visual Studio Code.app",
         ""},
        {"two whole-word matches",
         {app("Visual Studio Code"), app("Photo Studio")},
         "studio",
         "",
         "No app is named exactly 'studio'. Similar: Photo Studio, Visual Studio Code. " + similar},
        {"only candidate whose word starts with the argument",
         {app("Visual Studio Code"), app("Xcode")},
         "vis",
         "<root>/Applications/Visual Studio Code.app",
         ""},
        {"two candidates, no choice",
         {app("Visual Studio Code"), app("Vista Viewer")},
         "vis",
         "",
         "No app is named exactly 'vis'. Similar: Vista Viewer, Visual Studio Code. " + similar},
        {"only candidate, but the argument is inside a word",
         {app("Visual Studio Code")},
         "isual",
         "",
         "No app is named exactly 'isual'. Similar: Visual Studio Code. " + similar},
        {"seven candidates name the first five",
         {app("Tool G"), app("Tool B"), app("Tool E"), app("Tool A"), app("Tool F"), app("Tool C"),
          app("Tool D")},
         "Tool",
         "",
         "No app is named exactly 'Tool'. Similar: Tool A, Tool B, Tool C, Tool D, Tool E. " + similar},
        {"no candidate quotes the argument as typed",
         {app("Safari")},
         "Chrome",
         "",
         "No app matching 'Chrome' found in /Applications."},
        {"empty argument with one application", {app("Solo")}, "", "<root>/Applications/Solo.app", ""},
        {"empty argument with several",
         {app("B"), app("A"), app("C")},
         "",
         "",
         "No app is named exactly ''. Similar: A, B, C. " + similar},
        {"the user's folder is searched too",
         {app("Mine", std::nullopt, "<home>/Applications")},
         "mine",
         "<home>/Applications/Mine.app",
         ""},
        {"an app outside the folders is not found by name",
         {app("Calculator", std::nullopt, "<root>/System/Applications")},
         "Calculator",
         "",
         "No app matching 'Calculator' found in /Applications."},
        {"but by its path",
         {app("Calculator", std::nullopt, "<root>/System/Applications")},
         "<root>/System/Applications/Calculator.app",
         "<root>/System/Applications/Calculator.app",
         ""},
        {"relative bundle path",
         {app("Notes")},
         "Notes.app",
         "<root>/Applications/Notes.app",
         "",
         "<root>/Applications"},
        {"relative bundle path with ..",
         {app("Notes")},
         "../Applications/./Notes.app",
         "<root>/Applications/Notes.app",
         "",
         "<root>/System"},
        {"bundle path with ~",
         {app("Mine", std::nullopt, "<home>/Applications")},
         "~/Applications/Mine.app",
         "<home>/Applications/Mine.app",
         ""},
        {"missing bundle path names the resolved path",
         {app("Notes")},
         "Missing.app",
         "",
         "App not found: <dir>/Missing.app"},
        {"missing bundle path with ~",
         {},
         "~/Applications/Gone.app",
         "",
         "App not found: <home>/Applications/Gone.app"},
        {"a path must end in .app exactly",
         {app("Notes")},
         "Notes.APP",
         "",
         "No app matching 'Notes.APP' found in /Applications."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        Sandbox sandbox;
        for (auto bundle : c.apps) {
            bundle.folder = expand(bundle.folder, sandbox);
            sandbox.addApp(bundle);
        }
        std::string cwd = expand(c.workingDirectory, sandbox);
        platform::tryCreateDirectories(cwd);
        auto result = sandbox.run({"quit-app", expand(c.argument, sandbox), "--json"}, cwd);
        if (c.error.empty()) {
            ASSERT_EQ(result.status, 0) << result.err;
            auto reply = nlohmann::json::parse(result.out);
            EXPECT_EQ(reply["app"]["path"], expand(c.path, sandbox));
            EXPECT_EQ(reply["wasRunning"], false);
        } else {
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, "Error: " + expand(c.error, sandbox) + "\n");
        }
    }
}

TEST(AppLookup, BundlePathTakesNameFromFileAndIdentifierFromInfo) {
    Sandbox sandbox;
    std::string path = sandbox.addApp({.name = "Photo Studio 2024",
                                       .folder = sandbox.dir() + "/elsewhere",
                                       .bundleId = "com.example.photo"});
    auto result = sandbox.run({"quit-app", path, "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    auto reply = nlohmann::json::parse(result.out);
    nlohmann::json expected = {
        {"name", "Photo Studio 2024"}, {"path", path}, {"bundleId", "com.example.photo"}};
    EXPECT_EQ(reply["app"], expected);
    EXPECT_EQ(reply["message"], "Photo Studio 2024 is not running");
}

} // namespace
} // namespace mivora::testing
