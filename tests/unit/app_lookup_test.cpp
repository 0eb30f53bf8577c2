#include "apps/app_lookup.h"
#include "core/text.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace mivora::apps {
namespace {

TEST(ResolveAppArgument, ExistingPathsAreTakenAsTheyAre) {
    testing::Sandbox sandbox;
    std::string bundle =
        sandbox.addApp({.name = "Notes", .folder = sandbox.dir() + "/apps", .bundleId = "com.apple.Notes"});
    std::string capitals = sandbox.dir() + "/apps/Shouting.App";
    sandbox.writeFile(capitals + "/Contents/Info.plist", "");
    std::string folder = sandbox.dir() + "/Projects/Site";
    sandbox.writeFile(folder + "/index.html", "");
    std::string file = sandbox.dir() + "/notes.txt";
    sandbox.writeFile(file, "");
    struct Case {
        std::string argument;
        InstalledApp expected;
    } cases[] = {
        {bundle, {"Notes", bundle, std::nullopt, std::nullopt}}, // no identifier: not read for a path
        {capitals, {"Shouting.App", capitals, std::nullopt, std::nullopt}},
        {folder, {"Site", folder, std::nullopt, std::nullopt}},
        {folder + "/", {"Site", folder, std::nullopt, std::nullopt}}, // one trailing "/" dropped
        {file, {"notes.txt", file, std::nullopt, std::nullopt}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(resolveAppArgument(c.argument), c.expected) << c.argument;
}

TEST(SplitWords, Table) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"Visual Studio Code", {"visual", "studio", "code"}},
        {"Photo Studio 2024", {"photo", "studio", "2024"}},
        {"1Password 7", {"1password", "7"}},
        {"Foo-Bar", {"foo", "bar"}},
        {"Foo—Bar", {"foo", "bar"}},
        {"  Über   Café. ", {"über", "café"}},
        {"Ⅻ Numerals", {"ⅻ", "numerals"}},
        {"", {}},
        {"--", {}},
    };
    for (const auto& [text, words] : cases)
        EXPECT_EQ(core::splitWords(text), words) << text;
}

} // namespace
} // namespace mivora::apps
