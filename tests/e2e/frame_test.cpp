// The frame as the real binary shows it: help, version, usage errors, statuses.
#include "support/help_screens.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <sstream>

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

// Characters, not bytes: "—" is one column.
size_t columns(const std::string& line) {
    size_t count = 0;
    for (unsigned char byte : line)
        count += (byte & 0xC0) != 0x80;
    return count;
}

size_t firstWordColumns(const std::string& line) {
    size_t start = line.find_first_not_of(' ');
    return columns(line.substr(start, line.find(' ', start) - start));
}

TEST(Frame, HelpScreensBreakLinesAtTheWidthAsTheParserDoes) {
    constexpr size_t kWidth = 80; // a pipe has no terminal width
    Sandbox sandbox;
    for (const auto& screen : allHelpScreens(sandbox)) {
        SCOPED_TRACE(screen.commandLine());
        std::vector<std::string> lines;
        std::istringstream in(screen.text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_LE(columns(lines[i]), kWidth) << lines[i];
            // Where a line goes on below (an entry's description at column 26, the
            // usage at column 7), it leaves the last column free, and the word that
            // went down would not have fitted.
            if (i + 1 == lines.size()) continue;
            const std::string& next = lines[i + 1];
            // The first line of an entry has its description at column 26 too
            // (a long label stands alone on its line, which is no break).
            bool entryGoesOn = lines[i].starts_with("  ") && lines[i].size() > 26 && lines[i][25] == ' ' &&
                               lines[i][26] != ' ' && next.starts_with(std::string(26, ' ')) &&
                               next.size() > 26 && next[26] != ' ';
            bool usageGoesOn = (lines[i].starts_with("USAGE: ") || lines[i].starts_with("       ")) &&
                               next.starts_with("       ") && next.size() > 7 && next[7] != ' ';
            if (!entryGoesOn && !usageGoesOn) continue;
            EXPECT_LT(columns(lines[i]), kWidth) << lines[i];
            bool wordEndsParagraph =
                next.find(' ', next.find_first_not_of(' ')) == std::string::npos &&
                (i + 2 == lines.size() || !lines[i + 2].starts_with(std::string(7, ' ')));
            size_t joined = columns(lines[i]) + 1 + firstWordColumns(next);
            EXPECT_GE(joined, wordEndsParagraph ? kWidth + 1 : kWidth) << lines[i] << "\n" << next;
        }
    }

    // The lines that fill the width exactly, and so break, on the screens where they occur.
    struct Case {
        std::vector<std::string> arguments;
        std::string text;
    } cases[] = {
        {{"help", "apply-from-catalog"},
         "  --style <style>         Style/color/variant keywords to match in catalog\n"
         "                          names (e.g. yellow, purple, ukraine)\n"},
        {{"help", "apply-from-catalog"},
         "  --no-refresh            Skip the post-apply refresh (run `mivora\n"
         "                          refresh-dock` once after batching)\n"},
        {{"help", "set-icon"},
         "  --no-refresh            Skip the post-apply refresh (run `mivora\n"
         "                          refresh-dock` once after batching)\n"},
        {{"help", "collections", "apply"},
         "  --no-refresh            Skip the post-apply refresh (run `mivora\n"
         "                          refresh-dock` once after batching)\n"},
        {{"help", "collections", "create"},
         "  --apps <apps>           Seed pending entries for a comma-separated list of\n"
         "                          app names\n"},
        {{"help", "collections", "mark"},
         "  mivora collections mark naruto Xcode --status skipped --reason \"no\n"
         "extractable icon\"\n"},
        // A paragraph's last line may fill the width.
        {{"help", "extract-icon"},
         "\n  mivora extract-icon /Applications/Cursor.app --out /tmp/cursor.png --size 1024\n\n"},
        {{"help", "quit-app"},
         "\n  --wait <wait>           Seconds to wait after quit (default: 2) (default: 2.0)\n"},
    };
    for (const auto& c : cases) {
        auto result = sandbox.run(c.arguments);
        EXPECT_EQ(result.status, 0);
        EXPECT_NE(result.out.find(c.text), std::string::npos) << c.text << "\n" << result.out;
    }
}

TEST(Frame, AHelpFlagAmongGroupedShortFlagsShowsHelp) {
    Sandbox sandbox;
    const std::string screen = sandbox.run({"help", "restore"}).out;
    ASSERT_TRUE(screen.starts_with("OVERVIEW: Restore cached custom icons to apps\n")) << screen;
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"restore", "-dh"}, {"restore", "-hd"}, {"restore", "-vdh"}, {"restore", "Notes", "-dh"}}) {
        SCOPED_TRACE(arguments.back());
        auto result = sandbox.run(arguments);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out, screen);
    }
    // With a value, "-h" is a flag given a value, as "--help=1" is.
    auto valued = sandbox.run({"restore", "-dh=1"});
    EXPECT_EQ(valued.status, 64);
    EXPECT_TRUE(
        valued.err.starts_with("Error: The option '-h' does not take any value, but '1' was specified.\n"))
        << valued.err;
}

} // namespace
} // namespace mivora::testing
