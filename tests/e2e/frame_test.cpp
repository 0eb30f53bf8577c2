// The frame as the real binary shows it: help, version, usage errors, statuses.
#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

TEST(Frame, VersionPrintsAndExitsZero) {
    Sandbox sandbox;
    auto result = sandbox.run({"--version"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "2.3.0\n");
    EXPECT_EQ(result.err, "");
}

TEST(Frame, NoArgumentsPrintsRootHelp) {
    Sandbox sandbox;
    auto result = sandbox.run({});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind("OVERVIEW: Command-line interface for Mivora — manage macOS app icons\n\n"
                               "USAGE: mivora <subcommand>\n\nOPTIONS:\n"
                               "  --version               Show the version.\n"
                               "  -h, --help              Show help information.\n\nSUBCOMMANDS:\n",
                               0),
              0u)
        << result.out;
    EXPECT_NE(result.out.find("\n  See 'mivora help <subcommand>' for detailed help.\n"), std::string::npos);
    EXPECT_EQ(sandbox.run({"--help"}).out, result.out);
    EXPECT_EQ(sandbox.run({"help"}).out, result.out);
}

TEST(Frame, HelpListsSubcommandsInRootOrder) {
    // The fixed order of the root; commands not built yet are simply absent.
    const std::vector<std::string> order = {"status",
                                            "list",
                                            "apps",
                                            "extract-icon",
                                            "quit-app",
                                            "search-icons",
                                            "apply-from-catalog",
                                            "collections",
                                            "set-icon",
                                            "remove-icon",
                                            "remove-dark-icon",
                                            "restore",
                                            "import",
                                            "export",
                                            "validate",
                                            "escape-jail",
                                            "refresh-dock",
                                            "completions"};
    Sandbox sandbox;
    std::string help = sandbox.run({}).out;
    auto section = help.substr(help.find("SUBCOMMANDS:\n"));
    size_t last = 0;
    std::string previous;
    for (const auto& name : order) {
        auto at = section.find("\n  " + name + " ");
        if (at == std::string::npos) continue;
        EXPECT_GT(at, last) << name << " listed before " << previous;
        last = at;
        previous = name;
    }
    EXPECT_NE(section.find("\n  completions             Generate shell completion scripts\n"),
              std::string::npos);
}

TEST(Frame, UnknownSubcommandIsAUsageError) {
    Sandbox sandbox;
    auto result = sandbox.run({"frobnicate"});
    EXPECT_EQ(result.status, 64);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: Unexpected argument 'frobnicate'\nUsage: mivora <subcommand>\n"
                          "  See 'mivora --help' for more information.\n");
}

TEST(Frame, HelpSubcommandAndFlagShowCommandHelp) {
    Sandbox sandbox;
    auto byFlag = sandbox.run({"completions", "--help"});
    auto bySubcommand = sandbox.run({"help", "completions"});
    EXPECT_EQ(byFlag.status, 0);
    EXPECT_EQ(bySubcommand.status, 0);
    EXPECT_EQ(byFlag.out, bySubcommand.out);
    EXPECT_EQ(byFlag.out.rfind(
                  "OVERVIEW: Generate shell completion scripts\n\nInstall completions for your shell:\n", 0),
              0u);
    EXPECT_NE(byFlag.out.find("USAGE: mivora completions <shell-name>\n\nARGUMENTS:\n"
                              "  <shell-name>            Shell type: zsh, bash, or fish\n"),
              std::string::npos);
}

TEST(Frame, HelpAndCompletionsShowTheCommandTextsWhole) {
    struct Case {
        std::vector<std::string> arguments;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{"--help"}, "\n  import                  Import a Mivora configuration\n"},
        {{"set-icon", "--help"},
         "\n  <icon-path>             Path or URL of the icon image (PNG, ICNS, JPEG, or a\n"
         "                          catalog.mivora.example link)\n"},
        {{"completions", "zsh"}, "'import:Import a Mivora configuration'"},
        {{"completions", "fish"}, "-a 'import' -d 'Import a Mivora configuration'"},
    };
    Sandbox sandbox;
    for (const auto& c : cases) {
        auto result = sandbox.run(c.arguments);
        EXPECT_EQ(result.status, 0) << c.arguments[0] << result.err;
        EXPECT_NE(result.out.find(c.text), std::string::npos) << c.arguments[0] << "\n" << result.out;
    }
}

} // namespace
} // namespace mivora::testing
