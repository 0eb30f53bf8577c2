// What set-icon, remove-icon and remove-dark-icon hand to the privileged helper
// is exactly the paths they were given, whatever characters those hold, and a
// helper run that fails leaves the icon cache and its images as they were.
#include "platform/filesystem.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

// Names that a shell line would misread if an operand were not quoted.
const std::vector<std::pair<std::string, std::string>> kAwkwardNames = {
    {"apostrophe", "Bob's"},        {"double quote", "say \"hi\""},
    {"backslash", "back\\slash\\"}, {"command substitution", "$(touch pwned)"},
    {"back-tick", "`touch pwned`"}, {"newline", "two\nlines"},
    {"leading dash", "-rf"},
};

TEST(IconCommandsSafety, AwkwardPathsReachTheHelperByteForByte) {
    for (const auto& [label, name] : kAwkwardNames) {
        SCOPED_TRACE(label);
        Sandbox sandbox;
        prepareIconCommands(sandbox, true);
        installNulRecordingHelper(sandbox);
        std::string app = sandbox.addApp({.name = name});
        std::string icon = writeIcon(sandbox, sandbox.tmp() + "/" + name + ".png");
        // The light image as the desktop application may have named it.
        FixtureCacheEntry entry{.appPath = app,
                                .appName = name,
                                .iconFileName = name + ".png",
                                .darkIconFileName = name + "-dark.png"};

        auto set = sandbox.run({"set-icon", app, icon, "--no-refresh"});
        EXPECT_EQ(set.status, 0) << set.err;
        writeIconCache(sandbox, {entry});
        writeCachedImages(sandbox, {entry});
        auto removeDark = sandbox.run({"remove-dark-icon", app});
        EXPECT_EQ(removeDark.status, 0) << removeDark.err;
        auto remove = sandbox.run({"remove-icon", app, "--no-refresh"});
        EXPECT_EQ(remove.status, 0) << remove.err;
        // A leading "-" typed as a relative path, after the end of the options.
        auto relative = sandbox.run({"remove-icon", "--no-refresh", "--", name + ".app"},
                                    sandbox.rootPath("/Applications"));
        EXPECT_EQ(relative.status, 0) << relative.err;

        EXPECT_EQ(nulSeparatedCalls(sandbox),
                  (Calls{helperCall(sandbox, app, icon),
                         helperCall(sandbox, app, cachedImage(sandbox, name + ".png")),
                         helperCall(sandbox, app, "--remove"), helperCall(sandbox, app, "--remove")}));
        EXPECT_TRUE(findNamed(sandbox.dir(), "pwned").empty()) << "nothing else ran";
    }
}

TEST(IconCommandsSafety, AFailedHelperNeverChangesTheIconCache) {
    struct Failure {
        const char* name;
        std::string error;
    };
    const Failure failures[] = {
        {"helper exits 1", "Error: Exit code 1: helper failed\n"},
        {"sudo wants a password", "Error: Exit code 1: sudo: a password is required\n"},
    };
    const std::vector<std::vector<std::string>> commands = {
        {"set-icon", "Notes", "<icon>", "--appearance", "dark"},
        {"remove-icon", "Notes"},
        {"remove-dark-icon", "Notes"},
    };
    for (const auto& failure : failures) {
        for (auto command : commands) {
            SCOPED_TRACE(std::string(failure.name) + ": " + ::testing::PrintToString(command));
            Sandbox sandbox;
            prepareIconCommands(sandbox, true);
            if (std::string(failure.name) == "helper exits 1")
                sandbox.writeFile(sandbox.bin() + "/helper.status", "1");
            else
                sandbox.writeFile(sandbox.bin() + "/sudo.refuse", "");
            std::string notes = sandbox.addApp({.name = "Notes"});
            std::vector<FixtureCacheEntry> entries = {
                {.appPath = notes,
                 .appName = "Notes",
                 .iconFileName = "n.png",
                 .darkIconFileName = "n-dark.png"},
                {.appPath = sandbox.addApp({.name = "Arc"}), .appName = "Arc", .iconFileName = "arc.png"},
            };
            writeIconCache(sandbox, entries);
            writeCachedImages(sandbox, entries);
            auto cacheBefore = sandbox.readFile(iconCacheFile(sandbox));
            auto imagesBefore = cachedImageNames(sandbox);
            for (auto& argument : command)
                if (argument == "<icon>") argument = writeIcon(sandbox, sandbox.tmp() + "/icon.png");

            auto result = sandbox.run(command);
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, failure.error);
            EXPECT_EQ(sandbox.readFile(iconCacheFile(sandbox)), cacheBefore);
            EXPECT_EQ(cachedImageNames(sandbox), imagesBefore);
            EXPECT_TRUE(sandbox.loggedCalls("killall.log").empty());
        }
    }
}

} // namespace
} // namespace mivora::testing
