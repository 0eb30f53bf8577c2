// The frame against a small command tree of its own: parsing, help layout,
// usage errors and the mapping of thrown errors to output and exit status.
#include "cli/frame.h"
#include "cli/help_formatter.h"
#include "core/errors.h"
#include "core/output.h"

#include <gtest/gtest.h>

namespace mivora::cli {
namespace {

enum class Shade { light, dark };

} // namespace
} // namespace mivora::cli

template <> struct mivora::core::ArgumentValue<mivora::cli::Shade> {
    static std::optional<mivora::cli::Shade> parse(const std::string& text) {
        if (text == "light") return mivora::cli::Shade::light;
        if (text == "dark") return mivora::cli::Shade::dark;
        return std::nullopt;
    }
    static std::string describe(mivora::cli::Shade shade) {
        return shade == mivora::cli::Shade::dark ? "dark" : "light";
    }
    static std::vector<std::string> allValues() { return {"light", "dark"}; }
};

namespace mivora::cli {
namespace {

// What the last run command saw.
struct Seen {
    std::string app;
    std::optional<std::string> icon;
    double wait = 0;
    int size = 0;
    bool json = false;
    bool verbose = false;
    std::optional<Shade> shade;
    std::string ran;
    std::optional<std::string> label;
};
Seen seen;

class PickCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override {
        return {
            .commandName = "pick", .abstract = "Pick an app", .discussion = "Examples:\n  tool pick Notes"};
    }
    void declare(core::Arguments& a) override {
        a.positional("app-path", app, "App name, .app path, or folder path");
        a.positional("icon", icon, "Icon");
        a.option("wait", wait, "Seconds to wait after quit (default: 2)", {.hasDefault = true});
        a.option("size", size, "Output size", {.shortName = 's', .hasDefault = true});
        a.option("appearance", shade, "Appearance slot");
        a.option("label", label, "Label", {.shortName = 'l'});
        a.flag("verbose", verbose, "Show detailed output", {.shortName = 'v'});
        a.flag("json", json, "Output JSON for agents");
    }
    void run() override {
        seen = {app, icon, wait, size, json, verbose, shade, "pick", label};
        core::printLine("picked " + app);
    }
    std::string app;
    std::optional<std::string> icon;
    double wait = 2.0;
    int size = 1024;
    bool verbose = false;
    bool json = false;
    std::optional<Shade> shade;
    std::optional<std::string> label;
};

class FailCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override {
        return {.commandName = "fail", .abstract = "Fail"};
    }
    void declare(core::Arguments& a) override { a.option("how", how, "How to fail", {.hasDefault = true}); }
    void run() override {
        if (how == "shell") throw core::CLIError::shellFailed("Exit code 2: boom");
        if (how == "validation") throw core::ValidationError("Target must be an .app bundle: /x");
        if (how == "exit") {
            core::printLine("File already exists: /x");
            throw core::ExitCode::failure();
        }
    }
    std::string how = "shell";
};

class ListCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override {
        return {.commandName = "list", .abstract = "List things"};
    }
    void declare(core::Arguments& a) override { a.flag("json", json, "Output JSON for agents"); }
    void run() override { seen = {.json = json, .ran = "group list"}; }
    bool json = false;
};

class ShowCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override {
        return {.commandName = "show", .abstract = "Show one"};
    }
    void declare(core::Arguments& a) override { a.positional("slug", slug, "Slug"); }
    void run() override { seen = {.app = slug, .ran = "group show"}; }
    std::string slug;
};

class GroupCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override {
        return {.commandName = "group",
                .abstract = "A group",
                .subcommands = {core::makeCommand<ListCommand>, core::makeCommand<ShowCommand>},
                .defaultSubcommand = 0};
    }
};

class RootCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override {
        return {.commandName = "tool",
                .abstract = "A tool",
                .version = "9.9.9",
                .subcommands = {core::makeCommand<PickCommand>, core::makeCommand<FailCommand>,
                                core::makeCommand<GroupCommand>}};
    }
};

struct Run {
    int status;
    std::string out, err;
};

Run run(const std::vector<std::string>& arguments) {
    seen = {};
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    int status = runCommandLine(core::makeCommand<RootCommand>, arguments);
    std::string out = ::testing::internal::GetCapturedStdout();
    std::string err = ::testing::internal::GetCapturedStderr();
    return {status, out, err};
}

TEST(Frame, ParsesPositionalsOptionsAndFlagsInAnyOrder) {
    auto r = run({"pick", "--wait", "0.5", "Notes", "-v", "--size=256", "--appearance", "dark", "icon.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "picked Notes\n");
    EXPECT_EQ(seen.app, "Notes");
    EXPECT_EQ(seen.icon, "icon.png");
    EXPECT_DOUBLE_EQ(seen.wait, 0.5);
    EXPECT_EQ(seen.size, 256);
    EXPECT_TRUE(seen.verbose);
    EXPECT_EQ(seen.shade, Shade::dark);
}

TEST(Frame, DefaultsApplyWhenOptionsAreAbsent) {
    auto r = run({"pick", "Notes"});
    ASSERT_EQ(r.status, 0);
    EXPECT_DOUBLE_EQ(seen.wait, 2.0);
    EXPECT_EQ(seen.size, 1024);
    EXPECT_FALSE(seen.icon);
    EXPECT_FALSE(seen.shade);
}

struct UsageCase {
    std::vector<std::string> arguments;
    std::string message;
    std::string usage;
    std::string see;
};

TEST(Frame, UsageErrorsNameTheProblemAndExit64) {
    const std::string pickUsage =
        "Usage: tool pick <app-path> [<icon>] [--wait <wait>] [--size <size>]\n"
        "       [--appearance <appearance>] [--label <label>] [--verbose] [--json]\n";
    const UsageCase cases[] = {
        {{"pick"}, "Missing expected argument '<app-path>'", pickUsage, "tool pick"},
        {{"pick", "a", "b", "c"}, "Unexpected argument 'c'", pickUsage, "tool pick"},
        {{"pick", "a", "--foo"}, "Unknown option '--foo'", pickUsage, "tool pick"},
        {{"pick", "a", "--wait"}, "Missing value for '--wait <wait>'", pickUsage, "tool pick"},
        {{"pick", "a", "--size", "big"},
         "The value 'big' is invalid for '--size <size>'",
         pickUsage,
         "tool pick"},
        {{"pick", "a", "--appearance", "Dark"},
         "The value 'Dark' is invalid for '--appearance <appearance>'. Please provide one of 'light' or "
         "'dark'.",
         pickUsage,
         "tool pick"},
        {{"nothing"}, "Unexpected argument 'nothing'", "Usage: tool <subcommand>\n", "tool"},
        // A sibling's name inside a command is an argument, never a second subcommand.
        {{"fail", "pick"}, "Unexpected argument 'pick'", "Usage: tool fail [--how <how>]\n", "tool fail"},
        {{"group", "show"},
         "Missing expected argument '<slug>'",
         "Usage: tool group show <slug>\n",
         "tool group show"},
    };
    for (const auto& c : cases) {
        auto r = run(c.arguments);
        EXPECT_EQ(r.status, 64) << c.message;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Error: " + c.message + "\n" + c.usage + "  See '" + c.see +
                             " --help' for more information.\n");
    }
}

TEST(Frame, DoubleDashEndsTheOptions) {
    // Operands that begin with "-" (a file named "-rf.app") are reachable after "--".
    auto r = run({"pick", "--json", "--", "-rf.app", "--verbose"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(seen.app, "-rf.app");
    EXPECT_EQ(seen.icon, "--verbose");
    EXPECT_TRUE(seen.json);
    EXPECT_FALSE(seen.verbose);

    auto help = run({"pick", "--", "-h", "-vh"});
    ASSERT_EQ(help.status, 0) << help.err;
    EXPECT_EQ(seen.app, "-h");
    EXPECT_EQ(seen.icon, "-vh");

    auto extra = run({"pick", "--", "a", "b", "c"});
    EXPECT_EQ(extra.status, 64);
    EXPECT_EQ(extra.err.substr(0, extra.err.find('\n')), "Error: Unexpected argument 'c'");
}

TEST(Frame, EveryOptionTakesItsValueByOneRule) {
    struct Case {
        std::vector<std::string> arguments;
        std::optional<std::string> label;
        int size = 1024;
        double wait = 2.0;
        bool verbose = false;
    } cases[] = {
        {{"pick", "a", "--label", "x"}, "x"},
        {{"pick", "a", "-l", "x"}, "x"},
        {{"pick", "a", "-lx"}, "x"},
        {{"pick", "a", "-l=x"}, "x"},
        {{"pick", "a", "-vl", "x"}, "x", 1024, 2.0, true},
        // Given with "=", the value is taken as it stands: empty, or looking like an option.
        {{"pick", "a", "--label="}, ""},
        {{"pick", "a", "-l="}, ""},
        {{"pick", "a", "--label=--json"}, "--json"},
        {{"pick", "a", "--label=--"}, "--"},
        {{"pick", "a", "--label=-h"}, "-h"},
        // "-" alone is a value (standard input, by custom).
        {{"pick", "a", "--label", "-"}, "-"},
        // Where a number is expected, a negative number is a value.
        {{"pick", "a", "--size", "-3"}, std::nullopt, -3},
        {{"pick", "a", "-s", "-3"}, std::nullopt, -3},
        {{"pick", "a", "--wait", "-0.5"}, std::nullopt, 1024, -0.5},
        {{"pick", "a", "--wait", "-.5"}, std::nullopt, 1024, -0.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        auto r = run(c.arguments);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(seen.label, c.label);
        EXPECT_EQ(seen.size, c.size);
        EXPECT_DOUBLE_EQ(seen.wait, c.wait);
        EXPECT_EQ(seen.verbose, c.verbose);
        EXPECT_FALSE(seen.json);
    }
}

TEST(Frame, AnOptionFollowedByAnOptionHasNoValue) {
    const std::string pickEnd = "Usage: tool pick <app-path> [<icon>] [--wait <wait>] [--size <size>]\n"
                                "       [--appearance <appearance>] [--label <label>] [--verbose] [--json]\n"
                                "  See 'tool pick --help' for more information.\n";
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{"pick", "a", "--label", "--json"}, "Missing value for '--label <label>'"},
        {{"pick", "a", "--label", "-v"}, "Missing value for '--label <label>'"},
        {{"pick", "a", "--label", "--", "x"}, "Missing value for '--label <label>'"},
        {{"pick", "a", "--label"}, "Missing value for '--label <label>'"},
        {{"pick", "a", "-l", "--json"}, "Missing value for '--label <label>'"},
        {{"pick", "a", "-vl"}, "Missing value for '--label <label>'"},
        // A negative number is an option where no number is expected, and "-x" where one is.
        {{"pick", "a", "--label", "-5"}, "Missing value for '--label <label>'"},
        {{"pick", "a", "--size", "-x"}, "Missing value for '--size <size>'"},
        {{"pick", "a", "--appearance", "--json"}, "Missing value for '--appearance <appearance>'"},
        {{"pick", "a", "--wait", "--json"}, "Missing value for '--wait <wait>'"},
        // The first problem in word order speaks.
        {{"pick", "a", "--label", "--json=1"}, "Missing value for '--label <label>'"},
        {{"pick", "a", "--json=1", "--label"},
         "The option '--json' does not take any value, but '1' was specified."},
        // A number that is no number is the value's own error.
        {{"pick", "a", "--size", "-3x"}, "The value '-3x' is invalid for '--size <size>'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        auto r = run(c.arguments);
        EXPECT_EQ(r.status, 64);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Error: " + c.message + "\n" + pickEnd);
        EXPECT_EQ(seen.ran, "");
    }
}

TEST(Frame, HelpFlagAnywhereWinsOverUsageErrors) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"pick", "--help"},
             {"pick", "--foo", "-h"},
             {"help", "pick"},
             {"pick", "a", "b", "c", "--help"},
             // Among short flags run together, and where an option's value is missing.
             {"pick", "-vh"},
             {"pick", "-hv"},
             {"pick", "a", "--label", "-h"},
             {"pick", "a", "--size", "--help"}}) {
        auto r = run(arguments);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.rfind("OVERVIEW: Pick an app\n\nExamples:\n  tool pick Notes\n\nUSAGE: tool pick", 0),
                  0u)
            << r.out;
        EXPECT_EQ(seen.ran, "");
    }
}

TEST(Frame, HelpScreenLayout) {
    auto r = run({"help", "pick"});
    EXPECT_EQ(r.out, "OVERVIEW: Pick an app\n"
                     "\n"
                     "Examples:\n"
                     "  tool pick Notes\n"
                     "\n"
                     "USAGE: tool pick <app-path> [<icon>] [--wait <wait>] [--size <size>]\n"
                     "       [--appearance <appearance>] [--label <label>] [--verbose] [--json]\n"
                     "\n"
                     "ARGUMENTS:\n"
                     "  <app-path>              App name, .app path, or folder path\n"
                     "  <icon>                  Icon\n"
                     "\n"
                     "OPTIONS:\n"
                     "  --wait <wait>           Seconds to wait after quit (default: 2) (default: 2.0)\n"
                     "  -s, --size <size>       Output size (default: 1024)\n"
                     "  --appearance <appearance>\n"
                     "                          Appearance slot (values: light, dark)\n"
                     "  -l, --label <label>     Label\n"
                     "  -v, --verbose           Show detailed output\n"
                     "  --json                  Output JSON for agents\n"
                     "  -h, --help              Show help information.\n");
}

TEST(Frame, WrappingLeavesTheLastColumnFreeWhereTextGoesOn) {
    struct Case {
        std::string text;
        int width;
        int indent;
        std::string wrapped;
    } cases[] = {
        // "aaaa bbbb" fills 9 columns: with more after it, "bbbb" goes down.
        {"aaaa bbbb cc", 9, 0, "aaaa\nbbbb cc"},
        {"aaaa bbb cc", 9, 0, "aaaa bbb\ncc"},
        // The last line may fill the width, at the text's end and at a line break.
        {"aaaa bbbb", 9, 0, "aaaa bbbb"},
        {"aaaa bbbb\ncc", 9, 0, "aaaa bbbb\ncc"},
        {"aaaa bbbb c", 9, 2, "aaaa\n  bbbb c"},
        {"aaaa b cccc dd", 9, 2, "aaaa b\n  cccc dd"},
        // Columns are characters.
        {"ééé — ddd e", 9, 0, "ééé —\nddd e"},
        // A word wider than the line stands alone.
        {"a bbbbbbbbbbbb c", 9, 0, "a\nbbbbbbbbbbbb\nc"},
        // A line's own leading blanks stay.
        {"  aa bbb c", 9, 4, "  aa bbb\n    c"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wrapText(c.text, c.width, c.indent), c.wrapped) << c.text;
}

TEST(Frame, RootAloneShowsHelpWithSubcommandsInOrder) {
    auto r = run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "OVERVIEW: A tool\n"
                     "\n"
                     "USAGE: tool <subcommand>\n"
                     "\n"
                     "OPTIONS:\n"
                     "  --version               Show the version.\n"
                     "  -h, --help              Show help information.\n"
                     "\n"
                     "SUBCOMMANDS:\n"
                     "  pick                    Pick an app\n"
                     "  fail                    Fail\n"
                     "  group                   A group\n"
                     "\n"
                     "  See 'tool help <subcommand>' for detailed help.\n");
    EXPECT_EQ(run({"--version"}).out, "9.9.9\n");
    EXPECT_EQ(run({"pick", "--version"}).status, 64);
}

TEST(Frame, GroupRunsItsDefaultSubcommandUnlessOnlyHelpIsAsked) {
    auto r = run({"group", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(seen.ran, "group list");
    EXPECT_TRUE(seen.json);

    r = run({"group"});
    EXPECT_EQ(seen.ran, "group list");

    r = run({"group", "show", "list"});
    EXPECT_EQ(seen.ran, "group show");
    EXPECT_EQ(seen.app, "list");

    r = run({"group", "--help"});
    EXPECT_EQ(seen.ran, "");
    EXPECT_NE(
        r.out.find(
            "SUBCOMMANDS:\n  list (default)          List things\n  show                    Show one\n\n"
            "  See 'tool help group <subcommand>' for detailed help.\n"),
        std::string::npos)
        << r.out;
    EXPECT_EQ(run({"help", "group", "show"}).out.rfind("OVERVIEW: Show one", 0), 0u);
}

TEST(Frame, ThrownErrorsMapToOutputAndStatus) {
    auto r = run({"fail"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: Exit code 2: boom\n");

    r = run({"fail", "--how", "validation"});
    EXPECT_EQ(r.status, 64);
    EXPECT_EQ(r.err, "Error: Target must be an .app bundle: /x\nUsage: tool fail [--how <how>]\n"
                     "  See 'tool fail --help' for more information.\n");

    r = run({"fail", "--how", "exit"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "File already exists: /x\n");
    EXPECT_EQ(r.err, "");
}

} // namespace
} // namespace mivora::cli
