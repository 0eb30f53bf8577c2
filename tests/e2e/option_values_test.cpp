// Values on the command line as the platform reads them: whole-number options
// span the 64-bit range (a command's own bound then speaks), flags take no value,
// an option never takes another option as its value, and an empty default is
// not shown in help.
#include "support/catalog_fixture.h"
#include "support/catalog_server.h"
#include "support/collection_fixture.h"
#include "support/help_screens.h"
#include "support/icon_fixtures.h"
#include "support/sandbox.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

namespace mivora::testing {
namespace {

using nlohmann::json;

const std::string kInt64Max = "9223372036854775807";
const std::string kInt64Min = "-9223372036854775808";
const std::string kBeyondInt64 = "9223372036854775808";

// Three catalog icons for Notion, all on page one; a local collection "sunlight"
// with two done icons for Notes and Mail; Notion with a real icon for extraction.
class OptionValues : public ::testing::Test {
protected:
    void SetUp() override {
        useCatalog(sandbox, server);
        std::string page = searchAnswer(server, {{"Notion", 30}, {"Notion Dark", 20}, {"Notion Blue", 10}});
        server.route("POST", "/api/search", [page](const LoggedRequest& request) {
            return ScriptedResponse{200, requestedPage(request) == 1 ? page : R"({"hits":[]})"};
        });
        addAppWithIcon(sandbox, "Notion", typicalIcns());
        sandbox.addApp({.name = "Notes"});
        sandbox.addApp({.name = "Mail"});
        writeCollection(sandbox, "sunlight",
                        manifestDocument("sunlight", "Sunlight",
                                         {{.key = "notes", .appName = "Notes", .status = "done"},
                                          {.key = "mail", .appName = "Mail", .status = "done"}}));
    }

    CatalogServer server;
    Sandbox sandbox;
};

TEST_F(OptionValues, WholeNumbersSpanSixtyFourBitsAndTheCommandsOwnBoundsSpeak) {
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        int status;
        std::string errorStart; // "" for a run that succeeds
    } cases[] = {
        {"search limit above 32 bits", {"search-icons", "notion", "--limit", "3000000000"}, 0, ""},
        {"search limit at the top", {"search-icons", "notion", "--limit", kInt64Max}, 0, ""},
        {"search limit with a plus", {"search-icons", "notion", "--limit", "+3"}, 0, ""},
        {"search limit beyond",
         {"search-icons", "notion", "--limit", kBeyondInt64},
         64,
         "Error: The value '" + kBeyondInt64 + "' is invalid for '--limit <limit>'\n"},
        {"search limit negative",
         {"search-icons", "notion", "--limit", "-3000000000"},
         64,
         "Error: The limit must be zero or more, not -3000000000.\n"},
        {"search limit plus minus",
         {"search-icons", "notion", "--limit", "+-3"},
         64,
         "Error: The value '+-3' is invalid for '--limit <limit>'\n"},
        {"pick above 32 bits",
         {"apply-from-catalog", "Notion", "--pick", "3000000000"},
         64,
         "Error: Index 3000000000 out of range (0..<3)\nUsage: mivora apply-from-catalog"},
        {"pick at the top",
         {"apply-from-catalog", "Notion", "--pick", kInt64Max},
         64,
         "Error: Index " + kInt64Max + " out of range (0..<3)\n"},
        {"pick at the bottom",
         {"apply-from-catalog", "Notion", "--pick", kInt64Min},
         64,
         "Error: Index " + kInt64Min + " out of range (0..<3)\n"},
        {"pick beyond",
         {"apply-from-catalog", "Notion", "--pick", kBeyondInt64},
         64,
         "Error: The value '" + kBeyondInt64 + "' is invalid for '--pick <pick>'\n"},
        {"size beyond the image limit",
         {"extract-icon", "Notion", "--out", "x.png", "--size", "99999999999"},
         1,
         "Error: Exit code "},
        {"size beyond",
         {"extract-icon", "Notion", "--out", "x.png", "--size", kBeyondInt64},
         64,
         "Error: The value '" + kBeyondInt64 + "' is invalid for '--size <size>'\n"},
        {"apply limit negative",
         {"collections", "apply", "sunlight", "--limit", "-3000000000"},
         64,
         "Error: --limit must be greater than zero\n"},
        {"apply limit beyond",
         {"collections", "apply", "sunlight", "--limit", kBeyondInt64},
         64,
         "Error: The value '" + kBeyondInt64 + "' is invalid for '--limit <limit>'\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = sandbox.run(c.arguments, sandbox.tmp());
        EXPECT_EQ(result.status, c.status) << result.err;
        if (c.status == 0) {
            EXPECT_EQ(result.err, "");
            EXPECT_EQ(result.out.rfind("Catalog results for \"notion\" (3):\n", 0), 0u) << result.out;
        } else {
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err.rfind(c.errorStart, 0), 0u) << result.err;
        }
    }
}

TEST_F(OptionValues, ACollectionLimitAboveThirtyTwoBitsKeepsEveryPair) {
    for (const std::string& limit : {std::string("3000000000"), kInt64Max}) {
        auto result =
            sandbox.run({"collections", "apply", "sunlight", "--dry-run", "--json", "--limit", limit});
        ASSERT_EQ(result.status, 0) << result.err;
        json reply = json::parse(result.out);
        EXPECT_EQ(reply["matched"], 2) << limit;
        EXPECT_EQ(reply["skipped"], 0) << limit;
    }
}

TEST_F(OptionValues, AFlagGivenAValueIsAUsageError) {
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
        std::string usage;
    } cases[] = {
        {{"apps", "--dock=false"},
         "The option '--dock' does not take any value, but 'false' was specified.",
         "mivora apps"},
        {{"apps", "--json=0"},
         "The option '--json' does not take any value, but '0' was specified.",
         "mivora apps"},
        {{"list", "--json=1"},
         "The option '--json' does not take any value, but '1' was specified.",
         "mivora list"},
        {{"status", "--verbose="},
         "The option '--verbose' does not take any value, but '' was specified.",
         "mivora status"},
        {{"status", "-v=1"},
         "The option '-v' does not take any value, but '1' was specified.",
         "mivora status"},
        {{"restore", "-dv=yes"},
         "The option '-v' does not take any value, but 'yes' was specified.",
         "mivora restore"},
        {{"apps", "--help=1"},
         "The option '--help' does not take any value, but '1' was specified.",
         "mivora apps"},
        {{"--version=2"},
         "The option '--version' does not take any value, but '2' was specified.",
         "mivora <subcommand>"},
        {{"collections", "apply", "sunlight", "--dry-run=true"},
         "The option '--dry-run' does not take any value, but 'true' was specified.",
         "mivora collections apply"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        auto result = sandbox.run(c.arguments);
        EXPECT_EQ(result.status, 64);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("Error: " + c.message + "\nUsage: " + c.usage, 0), 0u) << result.err;
    }
    EXPECT_TRUE(server.requests().empty());

    // An option still takes its value after "=", and after "--" such a word is an argument.
    auto option = sandbox.run({"search-icons", "notion", "--limit=1", "--json"});
    ASSERT_EQ(option.status, 0) << option.err;
    EXPECT_EQ(json::parse(option.out)["count"], 1);
    auto argument = sandbox.run({"quit-app", "--", "--json=1"});
    EXPECT_EQ(argument.status, 1);
    EXPECT_EQ(argument.err, "Error: No app matching '--json=1' found in /Applications.\n");
}

// Every file and folder in the sandbox, with its size: what a run must leave alone.
std::map<std::string, std::uintmax_t> filesIn(const Sandbox& sandbox) {
    std::map<std::string, std::uintmax_t> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(sandbox.dir())) {
        files[entry.path().string()] = entry.is_regular_file() ? entry.file_size() : 0;
    }
    return files;
}

// Arguments that would let each command run, put before the option under test.
std::vector<std::string> operandsFor(const HelpScreen& screen) {
    static const std::map<std::string, std::vector<std::string>> operands = {
        {"mivora extract-icon", {"Notion", "--out", "x.png"}},
        {"mivora quit-app", {"Notion"}},
        {"mivora search-icons", {"notion"}},
        {"mivora apply-from-catalog", {"Notion"}},
        {"mivora set-icon", {"Notion", "icon.png"}},
        {"mivora collections apply", {"sunlight"}},
        {"mivora collections create", {"sea"}},
        {"mivora collections add", {"sunlight", "Notes", "icon.png"}},
        {"mivora collections mark", {"sunlight", "Notes", "--status", "skipped"}},
    };
    auto found = operands.find(screen.commandLine());
    return found == operands.end() ? std::vector<std::string>{} : found->second;
}

TEST_F(OptionValues, AnOptionWithoutItsValueIsAUsageErrorAndNothingRuns) {
    sandbox.writeFile(sandbox.tmp() + "/icon.png", "not read");
    sandbox.run({"--help"}); // the start-up migration's folders, made once
    const auto before = filesIn(sandbox);
    // What follows the option: a flag, a short flag, the end of the options, nothing.
    const std::vector<std::vector<std::string>> followers = {{"--json"}, {"-d"}, {"--", "x"}, {}};
    size_t options = 0;
    for (const auto& screen : allHelpScreens(sandbox)) {
        for (const auto& option : screen.options) {
            if (option.label.empty()) continue;
            ++options;
            for (const auto& follower : followers) {
                std::vector<std::string> arguments = screen.path;
                for (const auto& operand : operandsFor(screen))
                    arguments.push_back(operand);
                arguments.push_back(option.name);
                arguments.insert(arguments.end(), follower.begin(), follower.end());
                SCOPED_TRACE(screen.commandLine() + " " + option.name + " " +
                             (follower.empty() ? "(end)" : follower.front()));
                auto result = sandbox.run(arguments, sandbox.tmp());
                EXPECT_EQ(result.status, 64);
                EXPECT_EQ(result.out, "");
                EXPECT_TRUE(result.err.starts_with("Error: Missing value for '" + option.displayName() +
                                                   "'\nUsage: " + screen.commandLine() + " "))
                    << result.err;
                EXPECT_TRUE(result.err.ends_with("\n  See '" + screen.commandLine() +
                                                 " --help' for more information.\n"))
                    << result.err;
            }
        }
    }
    EXPECT_GE(options, 1u); // the walk found the options at all
    EXPECT_EQ(filesIn(sandbox), before);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(OptionValues, AValueGivenWithEqualsIsTakenAsItStandsEvenEmpty) {
    // The review's lines, with the value written out: taken whole, whatever it looks like.
    auto named = sandbox.run({"collections", "create", "sea", "--name=--json", "--prompt=", "--json"});
    ASSERT_EQ(named.status, 0) << named.err;
    json manifest = readManifest(sandbox, "sea");
    EXPECT_EQ(manifest["name"], "--json");
    EXPECT_EQ(manifest["stylePrompt"], "");
    auto marked =
        sandbox.run({"collections", "mark", "sunlight", "Notes", "--status=skipped", "--reason=", "--json"});
    ASSERT_EQ(marked.status, 0) << marked.err;
    EXPECT_EQ(json::parse(marked.out)["reason"], "");
    auto dashed = sandbox.run({"collections", "create", "--name=--", "dash", "--json"});
    ASSERT_EQ(dashed.status, 0) << dashed.err;
    EXPECT_EQ(readManifest(sandbox, "dash")["name"], "--");

    // Every option takes "--opt=": an empty value, which a number or a closed list refuses by name.
    for (const auto& screen : allHelpScreens(sandbox)) {
        for (const auto& option : screen.options) {
            if (option.label.empty()) continue;
            std::vector<std::string> arguments = screen.path;
            for (const auto& operand : operandsFor(screen))
                arguments.push_back(operand);
            arguments.push_back(option.name + "=");
            SCOPED_TRACE(screen.commandLine() + " " + option.name + "=");
            auto result = sandbox.run(arguments, sandbox.tmp());
            EXPECT_EQ(result.err.find("Missing value"), std::string::npos) << result.err;
            static const std::set<std::string> refusedEmpty = {"--limit", "--pick", "--size", "--wait",
                                                               "--appearance"};
            if (refusedEmpty.contains(option.name)) {
                EXPECT_EQ(result.status, 64);
                EXPECT_TRUE(result.err.starts_with("Error: The value '' is invalid for '" +
                                                   option.displayName() + "'"))
                    << result.err;
            }
        }
    }
}

TEST_F(OptionValues, ANegativeNumberIsAValueWhereANumberIsExpected) {
    const std::string out = sandbox.tmp() + "/x.png";
    expectRefusals(
        sandbox,
        {
            {"pick",
             {"apply-from-catalog", "Notion", "--pick", "-1"},
             64,
             "Error: Index -1 out of range (0..<3)\n"},
            {"pick=",
             {"apply-from-catalog", "Notion", "--pick=-1"},
             64,
             "Error: Index -1 out of range (0..<3)\n"},
            {"search limit",
             {"search-icons", "notion", "--limit", "-3"},
             64,
             "Error: The limit must be zero or more, not -3.\n"},
            {"apply limit",
             {"collections", "apply", "sunlight", "--limit", "-1"},
             64,
             "Error: --limit must be greater than zero\n"},
            {"size", {"extract-icon", "Notion", "--out", out, "--size", "-5"}, 1, "Error: "},
            // Only a number is a value here: another word is an option, a broken number an invalid value.
            {"pick word",
             {"apply-from-catalog", "Notion", "--pick", "-x"},
             64,
             "Error: Missing value for '--pick <pick>'\n"},
            {"pick broken",
             {"apply-from-catalog", "Notion", "--pick", "-1x"},
             64,
             "Error: The value '-1x' is invalid for '--pick <pick>'\n"},
            {"wait broken",
             {"quit-app", "Notion", "--wait", "-.5x"},
             64,
             "Error: The value '-.5x' is invalid for '--wait <wait>'\n"},
            // Where a number is not expected, "-1" is an option like any other.
            {"name",
             {"collections", "create", "sea", "--name", "-1"},
             64,
             "Error: Missing value for '--name <name>'\n"},
        });
    EXPECT_FALSE(sandbox.readFile(out));
    // A negative wait is taken and the command runs (no pause before a quit that needs none).
    auto wait = sandbox.run({"quit-app", "Notion", "--wait", "-0.5", "--json"});
    EXPECT_EQ(wait.status, 0) << wait.err;
    EXPECT_EQ(wait.err, "");
}

TEST_F(OptionValues, HelpShowsNoEmptyDefault) {
    auto result = sandbox.run({"help", "collections", "create"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.find("(default: )"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("(default: #"), std::string::npos) << result.out;
}

} // namespace
} // namespace mivora::testing
