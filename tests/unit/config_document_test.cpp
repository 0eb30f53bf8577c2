// Decoding the configuration exchange document: what reads, and for what does not,
// a description that names the problem and the key path.
#include "icons/commands/config_document.h"
#include "support/config_document_fixture.h"

#include <functional>
#include <gtest/gtest.h>

namespace mivora::icons {
namespace {

using testing::ConfigDocument;

ConfigDocument sampleDocument() {
    ConfigDocument document;
    document.aliases = {{"Safari", "web"}, {"Notes", "jot"}};
    document.icons = {
        {"/Applications/Notes.app", "Notes", "notes.png", std::string("\x89PNG\r\n\x1A\n\x00", 9)},
        {"/Applications/Arc.app", "Arc", "arc.icns", ""}};
    return document;
}

std::string errorOf(std::string_view bytes) {
    try {
        decodeAppConfiguration(bytes);
    } catch (const ConfigurationReadError& error) {
        return error.what();
    }
    return "(decoded)";
}

TEST(ConfigDocument, DecodesEveryFieldInOrder) {
    auto configuration = decodeAppConfiguration(sampleDocument().text());
    ASSERT_EQ(configuration.appAliases.size(), 2u);
    EXPECT_EQ(configuration.appAliases[1].appName, "Notes");
    EXPECT_EQ(configuration.appAliases[1].aliasName, "jot");
    ASSERT_EQ(configuration.cachedIcons.size(), 2u);
    EXPECT_EQ(configuration.cachedIcons[0].appPath, "/Applications/Notes.app");
    EXPECT_EQ(configuration.cachedIcons[0].iconFileName, "notes.png");
    EXPECT_EQ(configuration.cachedIcons[0].iconData, std::string("\x89PNG\r\n\x1A\n\x00", 9));
    EXPECT_EQ(configuration.cachedIcons[1].iconData, ""); // empty Base64 is empty bytes
    EXPECT_EQ(configuration.version, "1.0");
    EXPECT_DOUBLE_EQ(configuration.exportDate, 726'000'000.5);
}

TEST(ConfigDocument, EmptyListsWholeDatesAndUnknownKeysDecode) {
    auto json = ConfigDocument{}.toJson();
    json["exportDate"] = 700000000; // an integer is a number too
    json["themes"] = {{"nested", {1, 2, {{"deep", true}}}}};
    json["cachedIcons"] = {
        {{"appPath", "/a"}, {"appName", "a"}, {"iconFileName", "a"}, {"iconData", ""}, {"tint", 3}}};
    auto configuration = decodeAppConfiguration(json.dump());
    EXPECT_TRUE(configuration.appAliases.empty());
    EXPECT_EQ(configuration.cachedIcons.size(), 1u);
    EXPECT_DOUBLE_EQ(configuration.exportDate, 700000000);
}

struct BrokenCase {
    const char* name;
    std::function<void(core::Json&)> breakIt;
    const char* description;
};

void PrintTo(const BrokenCase& c, std::ostream* out) {
    *out << c.name;
}

class BrokenDocument : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenDocument, NamesTheProblemAndKeyPath) {
    auto json = sampleDocument().toJson();
    GetParam().breakIt(json);
    EXPECT_EQ(errorOf(json.dump()), GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BrokenDocument,
    ::testing::Values(
        BrokenCase{"MissingTopLevelKey", [](core::Json& j) { j.erase("version"); },
                   "Missing required key at version"},
        BrokenCase{"MissingList", [](core::Json& j) { j.erase("appAliases"); },
                   "Missing required key at appAliases"},
        BrokenCase{"MissingAliasKey", [](core::Json& j) { j["appAliases"][1].erase("aliasName"); },
                   "Missing required key at appAliases[1].aliasName"},
        BrokenCase{"MissingIconData", [](core::Json& j) { j["cachedIcons"][0].erase("iconData"); },
                   "Missing required key at cachedIcons[0].iconData"},
        BrokenCase{"IsoDate", [](core::Json& j) { j["exportDate"] = "2024-01-03T18:40:00Z"; },
                   "Expected a number (seconds since 1 January 2001) at exportDate but found a string"},
        BrokenCase{"NumericVersion", [](core::Json& j) { j["version"] = 1.0; },
                   "Expected a string at version but found a number"},
        BrokenCase{"NullName", [](core::Json& j) { j["cachedIcons"][1]["appName"] = nullptr; },
                   "Expected a string at cachedIcons[1].appName but found null"},
        BrokenCase{"ListAsObject", [](core::Json& j) { j["cachedIcons"] = core::Json::object(); },
                   "Expected an array at cachedIcons but found an object"},
        BrokenCase{"ElementNotObject", [](core::Json& j) { j["appAliases"][0] = "Safari"; },
                   "Expected an object at appAliases[0] but found a string"},
        BrokenCase{"IconDataNumber", [](core::Json& j) { j["cachedIcons"][0]["iconData"] = 5; },
                   "Expected a Base64 string at cachedIcons[0].iconData but found a number"},
        BrokenCase{"IconDataWithLineBreaks",
                   [](core::Json& j) { j["cachedIcons"][0]["iconData"] = "iVBO\nRw0K"; },
                   "Invalid Base64 at cachedIcons[0].iconData: white space at character 5"},
        BrokenCase{"IconDataWithoutPadding", [](core::Json& j) { j["cachedIcons"][1]["iconData"] = "QQ"; },
                   "Invalid Base64 at cachedIcons[1].iconData: length of 2 characters is not a multiple of 4 "
                   "(missing or extra '=' padding)"},
        BrokenCase{"TopLevelArray", [](core::Json& j) { j = core::Json::array({j}); },
                   "Expected an object at the top level but found an array"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct SyntaxCase {
    const char* name;
    std::string bytes;
    const char* description;
};

void PrintTo(const SyntaxCase& c, std::ostream* out) {
    *out << c.name;
}

class UnreadableJSON : public ::testing::TestWithParam<SyntaxCase> {};

TEST_P(UnreadableJSON, IsRefusedWithAPosition) {
    EXPECT_EQ(errorOf(GetParam().bytes), GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnreadableJSON,
    ::testing::Values(
        SyntaxCase{"Empty", "", "Not valid JSON: the file is empty"},
        SyntaxCase{"Blank", " \n\t", "Not valid JSON: the file is empty"},
        SyntaxCase{"Truncated", "{\"appAliases\": [",
                   "Not valid JSON at line 1, column 17: syntax error while parsing value - unexpected end "
                   "of input; "
                   "expected '[', '{', or a literal"},
        // The offending byte itself never reaches the message.
        SyntaxCase{"InvalidUTF8", "{\n  \"version\": \"1\xFF\"\n}",
                   "Not valid JSON at line 2, column 16: syntax error while parsing value - invalid string: "
                   "ill-formed UTF-8 byte"},
        SyntaxCase{"TooDeep", std::string(300, '[') + std::string(300, ']'),
                   "Not valid JSON at line 1, column 257: nested more than 256 levels deep"},
        SyntaxCase{"NumberOverflow", "{\"exportDate\": 1e400}",
                   "Not valid JSON: number overflow parsing '1e400'"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(ConfigDocument, DeepNestingInsideStringsIsOnlyText) {
    auto json = sampleDocument().toJson();
    json["version"] = std::string(1000, '[') + "\\\"{";
    EXPECT_EQ(decodeAppConfiguration(json.dump()).version, std::string(1000, '[') + "\\\"{");
}

} // namespace
} // namespace mivora::icons
