// Text as the platform treats it, through the commands: decomposed and
// precomposed forms are the same text, case-insensitive order holds in every
// locale (and each locale variable governs its own category), white space is
// Unicode's, and nothing ill-formed reaches a reply or a request.
#include "core/text.h"
#include "platform/property_list.h"
#include "support/catalog_fixture.h"
#include "support/catalog_server.h"
#include "support/collection_fixture.h"
#include "support/config_document_fixture.h"
#include "support/icon_cache_fixture.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace mivora::testing {
namespace {

using nlohmann::json;

const std::string kComposed = "Caf\xC3\xA9";    // Café, é as one scalar
const std::string kDecomposed = "Cafe\xCC\x81"; // Café, e + combining acute
const std::string kNoBreakSpace = "\xC2\xA0";
const std::string kLineSeparator = "\xE2\x80\xA8";
const std::string kIdeographicSpace = "\xE3\x80\x80";

std::vector<std::string> appNames(const RunResult& result) {
    std::vector<std::string> names;
    const json reply = json::parse(result.out);
    for (const auto& app : reply.at("apps"))
        names.push_back(app.at("name").get<std::string>());
    return names;
}

// Runs the binary with some variables removed from the sandbox's environment.
RunResult runWithout(const Sandbox& sandbox, const std::vector<std::string>& unset,
                     const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {"/usr/bin/env"};
    for (const auto& name : unset) {
        argv.push_back("-u");
        argv.push_back(name);
    }
    argv.push_back(mivoraBinary());
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return sandbox.runProgram(argv);
}

TEST(CanonicalEquivalence, LookupAndQueriesFindEitherForm) {
    struct Case {
        const char* title;
        std::string installed; // the bundle's name on disk
        std::vector<std::string> arguments;
    };
    const std::vector<Case> cases = {
        {"decomposed bundle, precomposed name", kDecomposed, {"quit-app", kComposed, "--json"}},
        {"precomposed bundle, decomposed lower-case name", kComposed, {"quit-app", "cafe\xCC\x81", "--json"}},
        {"decomposed bundle, whole word", kDecomposed + " Noir", {"quit-app", "caf\xC3\xA9", "--json"}},
        {"apps query", kDecomposed, {"apps", "f\xC3\xA9", "--json"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        Sandbox sandbox;
        sandbox.addApp({.name = "Other"});
        std::string path = sandbox.addApp({.name = c.installed});
        auto result = sandbox.run(c.arguments);
        ASSERT_EQ(result.status, 0) << result.err;
        auto reply = json::parse(result.out);
        // The application keeps its own bytes.
        const json& app = reply.contains("app") ? reply.at("app") : reply.at("apps").at(0);
        EXPECT_EQ(app.at("path"), path);
        EXPECT_EQ(app.at("name"), c.installed);
        if (reply.contains("apps")) {
            EXPECT_EQ(reply.at("count"), 1);
        }
    }
}

TEST(CanonicalEquivalence, CollectionIconsPairWithApplicationsInEitherForm) {
    struct Case {
        const char* title;
        std::string key;     // the manifest's application slug
        std::string appName; // the installed bundle
    };
    const std::vector<Case> cases = {
        {"precomposed slug, decomposed bundle", "caf\xC3\xA9-noir", kDecomposed + " Noir"},
        {"decomposed slug, precomposed bundle", "cafe\xCC\x81-noir", kComposed + " Noir"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        Sandbox sandbox;
        std::string path = sandbox.addApp({.name = c.appName});
        writeCollection(sandbox, "sunlight",
                        manifestDocument("sunlight", "Sunlight",
                                         {{.key = c.key, .appName = c.appName, .status = "done"}}));
        auto result = sandbox.run({"collections", "apply", "sunlight", "--dry-run", "--json"});
        ASSERT_EQ(result.status, 0) << result.err;
        auto reply = json::parse(result.out);
        ASSERT_EQ(reply.at("matches").size(), 1u) << result.out;
        EXPECT_EQ(reply.at("matches").at(0).at("app").at("path"), path);
        EXPECT_EQ(reply.at("matches").at(0).at("icon").at("appSlug"), c.key);

        // status finds the entry for the installed application, in either form.
        auto status = sandbox.run({"collections", "status", "sunlight", "--json"});
        ASSERT_EQ(status.status, 0) << status.err;
        EXPECT_EQ(json::parse(status.out).at("installedAppsWithoutEntry"), json::array());
    }
}

TEST(CanonicalEquivalence, CollectionStatusSortsNamesByTheirCanonicalForms) {
    Sandbox sandbox;
    sandbox.environment["LANG"] = "C";
    // Installed without an entry: plain order, capitals first, forms alike.
    sandbox.addApp({.name = "\xC3\x89"
                            "b"}); // Éb precomposed
    sandbox.addApp({.name = "E\xCC\x81"
                            "a"}); // Éa decomposed
    sandbox.addApp({.name = "zoom"});
    sandbox.addApp({.name = "Arc"});
    writeCollection(sandbox, "sunlight",
                    manifestDocument("sunlight", "Sunlight",
                                     {{.key = "eb",
                                       .appName = "E\xCC\x81"
                                                  "b"},
                                      {.key = "ea",
                                       .appName = "\xC3\x89"
                                                  "a"},
                                      {.key = "beta", .appName = "beta"},
                                      {.key = "alpha", .appName = "Alpha"}}));
    auto result = sandbox.run({"collections", "status", "sunlight", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    auto reply = json::parse(result.out);
    std::vector<std::string> icons;
    for (const auto& item : reply.at("icons"))
        icons.push_back(item.at("appName").get<std::string>());
    EXPECT_EQ(icons, (std::vector<std::string>{"Alpha", "beta",
                                               "\xC3\x89"
                                               "a",
                                               "E\xCC\x81"
                                               "b"}));
    EXPECT_EQ(reply.at("installedAppsWithoutEntry"), json({"Arc", "zoom",
                                                           "E\xCC\x81"
                                                           "a",
                                                           "\xC3\x89"
                                                           "b"}));
}

TEST(CanonicalEquivalence, CachedIconsAndAliasesListInThePlainOrderOfCanonicalForms) {
    Sandbox sandbox;
    const std::string composed = "\xC3\x89"
                                 "a",
                      decomposed = "E\xCC\x81"
                                   "b"; // Éa, Éb
    writeAliases(sandbox, {{decomposed, "Second"}, {composed, "First"}, {"Zed", "Editor"}});
    writeIconCache(sandbox, {{.appPath = "/x/B.app", .appName = decomposed, .iconFileName = "B.png"},
                             {.appPath = "/x/A.app", .appName = composed, .iconFileName = "A.png"},
                             {.appPath = "/x/Z.app", .appName = "Zed", .iconFileName = "Z.png"}});
    auto result = sandbox.run({"list", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    const json reply = json::parse(result.out);
    std::vector<std::string> aliases, icons;
    for (const auto& alias : reply.at("aliases"))
        aliases.push_back(alias.at("appName").get<std::string>());
    for (const auto& icon : reply.at("cachedIcons"))
        icons.push_back(icon.at("appName").get<std::string>());
    const std::vector<std::string> expected = {"Zed", composed, decomposed};
    EXPECT_EQ(aliases, expected);
    EXPECT_EQ(icons, expected);
}

TEST(CanonicalEquivalence, CatalogRankingMatchesEitherForm) {
    CatalogServer server;
    Sandbox sandbox;
    useCatalog(sandbox, server);
    server.route(
        "POST", "/api/search",
        ScriptedResponse{
            200, searchAnswer(server,
                              {{"Cafe", 900}, {kDecomposed + " Dark", 50}, {kDecomposed, 10}, {"Tea", 5}})});
    auto result = sandbox.run({"search-icons", kComposed, "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    std::vector<std::string> names;
    const json reply = json::parse(result.out);
    for (const auto& icon : reply.at("icons"))
        names.push_back(icon.at("appName").get<std::string>());
    EXPECT_EQ(names, (std::vector<std::string>{kDecomposed, kDecomposed + " Dark"}));
}

TEST(Locale, CaseInsensitiveOrderHoldsInEveryLocale) {
    struct Case {
        const char* title;
        std::map<std::string, std::string> variables;
        std::vector<std::string> unset;
        std::vector<std::string> order;
    };
    const std::vector<std::string> root = {"arc", "\xC3\x96stra", "Xcode", "zoom"};
    const std::vector<std::string> swedish = {"arc", "Xcode", "zoom", "\xC3\x96stra"};
    const std::vector<Case> cases = {
        {"LANG=C", {{"LANG", "C"}}, {}, root},
        {"LANG=POSIX", {{"LANG", "POSIX"}}, {}, root},
        {"LANG=C.UTF-8", {{"LANG", "C.UTF-8"}}, {}, root},
        {"LANG empty", {{"LANG", ""}}, {}, root},
        {"nothing set", {}, {"LANG", "LC_ALL", "LC_COLLATE"}, root},
        {"LC_ALL=C over a named LANG", {{"LANG", "sv_SE.UTF-8"}, {"LC_ALL", "C"}}, {}, root},
        {"LANG names the collation", {{"LANG", "sv_SE.UTF-8"}}, {}, swedish},
        {"LC_COLLATE over LANG", {{"LANG", "en_US.UTF-8"}, {"LC_COLLATE", "sv_SE.UTF-8"}}, {}, swedish},
        {"LC_ALL over LC_COLLATE", {{"LC_ALL", "en_US.UTF-8"}, {"LC_COLLATE", "sv_SE.UTF-8"}}, {}, root},
        {"LC_TIME does not sort", {{"LANG", "C"}, {"LC_TIME", "sv_SE.UTF-8"}}, {}, root},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        Sandbox sandbox;
        for (const auto& name : {"zoom", "Xcode", "\xC3\x96stra", "arc"})
            sandbox.addApp({.name = name});
        for (const auto& [name, value] : c.variables)
            sandbox.environment[name] = value;
        auto result = runWithout(sandbox, c.unset, {"apps", "--json"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(appNames(result), c.order);
    }
}

TEST(Locale, LookupInThePOSIXLocale) {
    Sandbox sandbox;
    sandbox.environment["LANG"] = "C";
    std::string system = sandbox.addApp({.name = "notes"});
    sandbox.addApp({.name = "Notes", .folder = sandbox.homePath("Applications")});
    sandbox.addApp({.name = "Zed Notes"});
    sandbox.addApp({.name = "apple notes"});

    // Equal names keep the system folder first, so it wins the exact match.
    auto exact = sandbox.run({"quit-app", "NOTES", "--json"});
    ASSERT_EQ(exact.status, 0) << exact.err;
    EXPECT_EQ(json::parse(exact.out).at("app").at("path"), system);

    auto similar = sandbox.run({"quit-app", "note"});
    EXPECT_EQ(similar.status, 1);
    EXPECT_EQ(similar.err,
              "Error: No app is named exactly 'note'. Similar: apple notes, notes, Notes, Zed Notes. "
              "Use the exact name or the full .app path.\n");
}

TEST(Locale, DatesFollowLCTimeNotLCMessages) {
    const std::string german = "    Cached: 03.01.24, 18:40\n";
    const std::string english = "    Cached: 1/3/24, 6:40";
    struct Case {
        const char* title;
        std::map<std::string, std::string> variables;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"LC_TIME over LANG", {{"LANG", "en_US.UTF-8"}, {"LC_TIME", "de_DE.UTF-8"}}, german},
        {"LC_MESSAGES is not for dates", {{"LANG", "en_US.UTF-8"}, {"LC_MESSAGES", "de_DE.UTF-8"}}, english},
        {"LC_ALL over LC_TIME", {{"LC_ALL", "en_US.UTF-8"}, {"LC_TIME", "de_DE.UTF-8"}}, english},
        {"LANG alone", {{"LANG", "de_DE.UTF-8"}}, german},
        {"LC_COLLATE is not for dates", {{"LANG", "en_US.UTF-8"}, {"LC_COLLATE", "de_DE.UTF-8"}}, english},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        Sandbox sandbox;
        sandbox.environment["TZ"] = "UTC";
        for (const auto& [name, value] : c.variables)
            sandbox.environment[name] = value;
        writeIconCache(sandbox, {{.appPath = "/nowhere/Arc.app", .appName = "Arc", .iconFileName = "A.png"}});
        auto result = sandbox.run({"list", "--icons"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.out.find(c.expected), std::string::npos) << result.out;
    }
}

// A locale name that gives no locale ICU holds data for shows the forms of no
// locale at all, in every formatter and in the order of names, whichever
// variable carries it; a name that does give one keeps its own forms.
TEST(Locale, NamesWithoutAUsableLocaleShowTheFormsOfNone) {
    struct Forms {
        std::string cached, exportDate, iconData;
        std::vector<std::string> order;
    };
    const std::vector<std::string> root = {"arc", "\xC3\x96stra", "Xcode", "zoom"};
    const Forms none = {"    Cached: 1/3/24, 6:40\u202FPM\n", "  Export date: Jan 3, 2024, 6:40:00\u202FPM\n",
                        "  Icon data:   1.2 MB\n", root};
    const Forms german = {"    Cached: 03.01.24, 18:40\n", "  Export date: 03.01.2024, 18:40:00\n",
                          "  Icon data:   1,2 MB\n", root};
    const Forms serbianLatin = {"    Cached: 3.1.24. 18:40\n", "  Export date: 3. 1. 2024. 18:40:00\n",
                                "  Icon data:   1,2 MB\n", root};
    struct Case {
        std::string variable, value;
        const Forms& expected;
    };
    const std::vector<Case> cases = {
        {"LANG", "abcdefghijkl_US.UTF-8", none}, // a language field longer than ICU takes
        {"LC_ALL", "abcdefghijkl", none},
        {"LANG", "Chinese (Simplified)_China.936", none}, // Windows-style
        {"LC_ALL", "English_United States.1252", none},
        {"LANG", "en_Zzzz_US.UTF-8", none}, // a script without data
        {"LC_ALL", "de_Qaaa_DE", none},
        {"LANG", "xx_YY.UTF-8", none}, // a language without data
        {"LANG", "C.UTF-8", none},
        {"LANG", "POSIX", none},
        {"LANG", "", none},
        {"LANG", "de_DE.UTF-8", german},
        {"LC_ALL", "de_XX", german}, // an unknown region keeps its language
        {"LANG", "sr_Latn_RS.UTF-8", serbianLatin},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variable + "=" + c.value);
        Sandbox sandbox;
        sandbox.environment["TZ"] = "UTC";
        sandbox.environment[c.variable] = c.value;
        for (const auto& name : {"zoom", "Xcode", "\xC3\x96stra", "arc"})
            sandbox.addApp({.name = name});
        writeIconCache(sandbox, {{.appPath = "/nowhere/Arc.app", .appName = "Arc", .iconFileName = "A.png"}});
        ConfigDocument document;
        document.icons.push_back({.appPath = "/nowhere/Arc.app",
                                  .appName = "Arc",
                                  .iconFileName = "A.png",
                                  .imageBytes = std::string(1'234'567, 'x')});
        const std::string config = sandbox.tmp() + "/config.json";
        sandbox.writeFile(config, document.text());

        auto list = sandbox.run({"list"});
        ASSERT_EQ(list.status, 0) << list.err;
        EXPECT_NE(list.out.find(c.expected.cached), std::string::npos) << list.out;
        auto validate = sandbox.run({"validate", config});
        ASSERT_EQ(validate.status, 0) << validate.err;
        EXPECT_NE(validate.out.find(c.expected.exportDate), std::string::npos) << validate.out;
        EXPECT_NE(validate.out.find(c.expected.iconData), std::string::npos) << validate.out;
        auto apps = sandbox.run({"apps", "--json"});
        ASSERT_EQ(apps.status, 0) << apps.err;
        EXPECT_EQ(appNames(apps), c.expected.order);
    }
}

TEST(WhiteSpace, TheAPIBaseOverrideIsTrimmedOfUnicodeWhiteSpace) {
    CatalogServer server;
    Sandbox sandbox;
    server.route("POST", "/api/search", ScriptedResponse{200, searchAnswer(server, {{"Notion", 1}})});
    sandbox.environment["MIVORA_API_BASE_URL"] =
        kNoBreakSpace + kLineSeparator + server.url("/api") + "/" + kIdeographicSpace + "\xC2\x85";
    auto result = sandbox.run({"search-icons", "notion", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(json::parse(result.out).at("count"), 1);
    EXPECT_EQ(requestsTo(server, "POST", "/api/search").size(), 1u);
}

TEST(WhiteSpace, ATokenOfOnlyWhiteSpaceIsNoToken) {
    CatalogServer server;
    Sandbox sandbox;
    sandbox.environment["MIVORA_API_BASE_URL"] = server.url("/api");
    core::Json manifest =
        manifestDocument("naruto", "Naruto", {{.key = "xcode", .appName = "Xcode", .status = "done"}});
    manifest["publish"] = {{"remoteSlug", "naruto-2"}, {"publishedAt", "2026-03-02T10:00:00Z"}};
    writeCollection(sandbox, "naruto", manifest);
    server.route("DELETE", "/api/collections/naruto-2", ScriptedResponse{200, "{}"});
    for (const std::string& token : {kNoBreakSpace, kLineSeparator + "\n" + kIdeographicSpace}) {
        sandbox.writeFile(collectionFolder(sandbox, "naruto") + "/publish-token", token);
        auto result = sandbox.run({"collections", "unpublish", "naruto"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "Error: naruto is not published (no remote slug/token on file).\n");
    }
    EXPECT_TRUE(server.requests().empty());

    // A token surrounded by such white space is sent without it.
    sandbox.writeFile(collectionFolder(sandbox, "naruto") + "/publish-token",
                      kNoBreakSpace + "tok-2" + kLineSeparator);
    auto result = sandbox.run({"collections", "unpublish", "naruto"});
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].headers["Authorization"], "Bearer tok-2");
}

TEST(WhiteSpace, PromptAndApplicationNamesAreTrimmedOfUnicodeWhiteSpace) {
    Sandbox sandbox;
    sandbox.writeFile(sandbox.dir() + "/prompt.txt",
                      kIdeographicSpace + "warm tones\n" + kNoBreakSpace + "\xC2\x85");
    auto result =
        sandbox.run({"collections", "create", "warm", "--prompt-file", sandbox.dir() + "/prompt.txt",
                     "--apps", kIdeographicSpace + "Cool App\t," + kNoBreakSpace + " ,Other"});
    ASSERT_EQ(result.status, 0) << result.err;
    core::Json manifest = readManifest(sandbox, "warm");
    EXPECT_EQ(manifest.at("stylePrompt"), "warm tones");
    // Blanks go, a line break would stay; a piece of only blanks is skipped.
    EXPECT_EQ(manifest.at("icons").at("cool-app").at("appName"), "Cool App");
    EXPECT_EQ(manifest.at("icons").at("other").at("appName"), "Other");
    EXPECT_EQ(manifest.at("icons").size(), 2u);
}

TEST(ValidUTF8, IllFormedArgumentsAreRepairedBeforeTheyAreUsed) {
    CatalogServer server;
    Sandbox sandbox;
    useCatalog(sandbox, server);
    server.route("POST", "/api/search", ScriptedResponse{200, searchAnswer(server, {{"Notion", 1}})});
    auto result = sandbox.run({"search-icons", "notion\xFF", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(core::isValidUTF8(result.out));
    EXPECT_EQ(json::parse(result.out).at("query"), "notion\xEF\xBF\xBD");
    auto requests = requestsTo(server, "POST", "/api/search");
    ASSERT_FALSE(requests.empty());
    EXPECT_TRUE(core::isValidUTF8(requests[0].body));
    EXPECT_EQ(json::parse(requests[0].body).at("query"), "notion\xEF\xBF\xBD");

    // Also in text output and error messages.
    auto missing = sandbox.run({"quit-app", "Gone\xC3", "--json"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Error: No app matching 'Gone\xEF\xBF\xBD' found in /Applications.\n");
}

TEST(ValidUTF8, StoredJSONWithIllFormedTextDoesNotDecode) {
    Sandbox sandbox;
    // An icon cache that does not decode counts as missing.
    sandbox.writeFile(iconCacheFile(sandbox), "{\"/x/A.app\":{\"appPath\":\"/x/A.app\",\"appName\":\"A\xFF\","
                                              "\"iconFileName\":\"A.png\",\"timestamp\":1}}");
    auto list = sandbox.run({"list", "--icons", "--json"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(json::parse(list.out).at("cachedIcons"), json::array());

    // A configuration document is refused, and the refusal is valid text.
    sandbox.writeFile(sandbox.dir() + "/config.json",
                      "{\"appAliases\":[{\"appName\":\"A\xFF\",\"aliasName\":\"b\"}],\"cachedIcons\":[],"
                      "\"version\":\"1.0\",\"exportDate\":1}");
    auto validate = sandbox.run({"validate", sandbox.dir() + "/config.json"});
    EXPECT_EQ(validate.status, 1);
    EXPECT_EQ(validate.out.rfind("\xE2\x9C\x97 Invalid configuration: ", 0), 0u) << validate.out;
    EXPECT_TRUE(core::isValidUTF8(validate.out));
}

TEST(ValidUTF8, AnInfoPlistWithIllFormedTextIsUnreadable) {
    for (bool binary : {false, true}) {
        SCOPED_TRACE(binary ? "binary" : "XML");
        Sandbox sandbox;
        std::string path = sandbox.addApp({.name = "Odd", .bundleId = "com.example.odd"});
        std::string info = path + "/Contents/Info.plist";
        platform::Plist plist = platform::Plist::dictionary();
        plist.set("CFBundleIdentifier", platform::Plist::string("com.example.oddX"));
        sandbox.writePlist(info, plist, binary);
        // The byte goes in after writing: no writer would produce it.
        std::string bytes = *sandbox.readFile(info);
        bytes.replace(bytes.find("oddX"), 4, "odd\xFF");
        sandbox.writeFile(info, bytes);

        auto result = sandbox.run({"apps", "--json"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_TRUE(core::isValidUTF8(result.out));
        auto app = json::parse(result.out).at("apps").at(0);
        EXPECT_EQ(app.at("name"), "Odd");
        EXPECT_FALSE(app.contains("bundleId"));
    }
}

} // namespace
} // namespace mivora::testing
