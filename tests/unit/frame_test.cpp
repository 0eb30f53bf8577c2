// The frame against a small command tree of its own: parsing, help layout,
// usage errors and the mapping of thrown errors to output and exit status.
#include <gtest/gtest.h>

#include "cli/frame.h"
#include "core/errors.h"
#include "core/output.h"

namespace mivora::cli {
namespace {

enum class Shade { light, dark };

} // namespace
} // namespace mivora::cli

template <>
struct mivora::core::ArgumentValue<mivora::cli::Shade> {
    static std::optional<mivora::cli::Shade> parse(const std::string& text) {
        if (text == "light") return mivora::cli::Shade::light;
        if (text == "dark") return mivora::cli::Shade::dark;
        return std::nullopt;
    }
    static std::string describe(mivora::cli::Shade shade) { return shade == mivora::cli::Shade::dark ? "dark" : "light"; }
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
};
Seen seen;

class PickCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override {
        return {.commandName = "pick", .abstract = "Pick an app", .discussion = "Examples:\n  tool pick Notes"};
    }
    void declare(core::Arguments& a) override {
        a.positional("app-path", app, "App name, .app path, or folder path");
        a.positional("icon", icon, "Icon");
        a.option("wait", wait, "Seconds to wait after quit (default: 2)", {.hasDefault = true});
        a.option("size", size, "Output size", {.hasDefault = true});
        a.option("appearance", shade, "Appearance slot");
        a.flag("verbose", verbose, "Show detailed output", {.shortName = 'v'});
        a.flag("json", json, "Output JSON for agents");
    }
    void run() override {
        seen = {app, icon, wait, size, json, verbose, shade, "pick"};
        core::printLine("picked " + app);
    }
    std::string app;
    std::optional<std::string> icon;
    double wait = 2.0;
    int size = 1024;
    bool verbose = false;
    bool json = false;
    std::optional<Shade> shade;
};

class FailCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override { return {.commandName = "fail", .abstract = "Fail"}; }
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
    core::CommandConfiguration configuration() const override { return {.commandName = "list", .abstract = "List things"}; }
    void declare(core::Arguments& a) override { a.flag("json", json, "Output JSON for agents"); }
    void run() override { seen = {.json = json, .ran = "group list"}; }
    bool json = false;
};

class ShowCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override { return {.commandName = "show", .abstract = "Show one"}; }
    void declare(core::Arguments& a) override { a.positional("slug", slug, "Slug"); }
    void run() override { seen = {.app = slug, .ran = "group show"}; }
    std::string slug;
};

class GroupCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override {
        return {.commandName = "group", .abstract = "A group", .subcommands = {core::makeCommand<ListCommand>, core::makeCommand<ShowCommand>}, .defaultSubcommand = 0};
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
    const std::string pickUsage = "Usage: tool pick <app-path> [<icon>] [--wait <wait>] [--size <size>]\n"
                                  "       [--appearance <appearance>] [--verbose] [--json]\n";
    const UsageCase cases[] = {
        {{"pick"}, "Missing expected argument '<app-path>'", pickUsage, "tool pick"},
        {{"pick", "a", "b", "c"}, "Unexpected argument 'c'", pickUsage, "tool pick"},
        {{"pick", "a", "--foo"}, "Unknown option '--foo'", pickUsage, "tool pick"},
        {{"pick", "a", "--wait"}, "Missing value for '--wait <wait>'", pickUsage, "tool pick"},
        {{"pick", "a", "--size", "big"}, "The value 'big' is invalid for '--size <size>'", pickUsage, "tool pick"},
        {{"pick", "a", "--appearance", "Dark"},
         "The value 'Dark' is invalid for '--appearance <appearance>'. Please provide one of 'light' or 'dark'.",
         pickUsage, "tool pick"},
        {{"nothing"}, "Unexpected argument 'nothing'", "Usage: tool <subcommand>\n", "tool"},
        // A sibling's name inside a command is an argument, never a second subcommand.
        {{"fail", "pick"}, "Unexpected argument 'pick'", "Usage: tool fail [--how <how>]\n", "tool fail"},
        {{"group", "show"}, "Missing expected argument '<slug>'", "Usage: tool group show <slug>\n", "tool group show"},
    };
    for (const auto& c : cases) {
        auto r = run(c.arguments);
        EXPECT_EQ(r.status, 64) << c.message;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Error: " + c.message + "\n" + c.usage + "  See '" + c.see + " --help' for more information.\n");
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

    auto extra = run({"pick", "--", "a", "b", "c"});
    EXPECT_EQ(extra.status, 64);
    EXPECT_EQ(extra.err.substr(0, extra.err.find('\n')), "Error: Unexpected argument 'c'");
}

TEST(Frame, HelpFlagAnywhereWinsOverUsageErrors) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"pick", "--help"}, {"pick", "--foo", "-h"}, {"help", "pick"}, {"pick", "a", "b", "c", "--help"}}) {
        auto r = run(arguments);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.rfind("OVERVIEW: Pick an app\n\nExamples:\n  tool pick Notes\n\nUSAGE: tool pick", 0), 0u) << r.out;
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
                     "       [--appearance <appearance>] [--verbose] [--json]\n"
                     "\n"
                     "ARGUMENTS:\n"
                     "  <app-path>              App name, .app path, or folder path\n"
                     "  <icon>                  Icon\n"
                     "\n"
                     "OPTIONS:\n"
                     "  --wait <wait>           Seconds to wait after quit (default: 2) (default: 2.0)\n"
                     "  --size <size>           Output size (default: 1024)\n"
                     "  --appearance <appearance>\n"
                     "                          Appearance slot (values: light, dark)\n"
                     "  -v, --verbose           Show detailed output\n"
                     "  --json                  Output JSON for agents\n"
                     "  -h, --help              Show help information.\n");
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
    EXPECT_NE(r.out.find("SUBCOMMANDS:\n  list (default)          List things\n  show                    Show one\n\n"
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
