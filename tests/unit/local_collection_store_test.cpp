// The local collection store's pure pieces: the slug rules, the manifest's JSON
// form (sorted keys, ISO 8601 dates, absent optionals left out) and its strict
// decoding.
#include "collections/local_collection_store.h"
#include "core/json_decoding.h"

#include <functional>
#include <gtest/gtest.h>

namespace mivora::collections {
namespace {

using namespace std::chrono_literals;

TEST(Slugs, ValidSlugRule) {
    struct Case {
        std::string text;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"", false},
        {std::string(64, 'a'), true},
        {std::string(65, 'a'), false},
        {"-abc", false},
        {"Abc", false},
        {"abc-", true},
        {"a--b", true},
        {"café", true},
        {"9lives", true},
        {"\u0663\u0664-x", true}, // Arabic-Indic digits are decimal digits
        {"a_b", false},
        {"a b", false},
        {"a/b", false},
        {"e\u0301", false}, // a combining mark is neither a letter nor a digit
        // 64 characters of two bytes each: the limit counts characters, not bytes.
        {[] {
             std::string s;
             for (int i = 0; i < 64; ++i)
                 s += "é";
             return s;
         }(),
         true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LocalCollectionManifest::isValidSlug(c.text), c.valid) << c.text;
}

TEST(Slugs, Slugify) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Visual Studio Code", "visual-studio-code"},
        {"  Notion — Beta!", "notion-beta"},
        {"Hello, World!", "hello-world"},
        {"---", ""},
        {"", ""},
        {std::string(70, 'x'), std::string(64, 'x')},
        {"Ça Va Été", "ça-va-été"},
        {"1Password 7", "1password-7"},
        {"E\u0301clair", "\u00e9clair"}, // both forms of a letter slug alike
        {"q\u0301 bar", "q\u0301-bar"},  // marks that do not compose are kept
        {"Ａｐｐ", "ａｐｐ"},            // full-width letters are letters
    };
    for (const auto& [text, slug] : cases)
        EXPECT_EQ(slugify(text), slug) << text;
}

TEST(Slugs, SlugifyCutsAfterJoiningSoItCanEndInADash) {
    std::string text = std::string(63, 'a') + " b";
    EXPECT_EQ(slugify(text), std::string(63, 'a') + "-");
}

TEST(Slugs, Titleize) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"visual-studio-code", "Visual Studio Code"}, {"a--b", "A B"}, {"-deep-sea-", "Deep Sea"},
        {"iPhone-mIRROR", "IPhone MIRROR"},           {"ßig", "SSig"}, {"", ""},
    };
    for (const auto& [slug, title] : cases)
        EXPECT_EQ(titleizeSlug(slug), title) << slug;
}

TEST(Statuses, OnlyTheFourLowerCaseWordsParse) {
    EXPECT_EQ(localCollectionIconStatus("pending"), LocalCollectionIconStatus::pending);
    EXPECT_EQ(localCollectionIconStatus("done"), LocalCollectionIconStatus::done);
    EXPECT_EQ(localCollectionIconStatus("rejected"), LocalCollectionIconStatus::rejected);
    EXPECT_EQ(localCollectionIconStatus("skipped"), LocalCollectionIconStatus::skipped);
    for (const char* text : {"Rejected", "DONE", "", "skip", " pending"})
        EXPECT_EQ(localCollectionIconStatus(text), std::nullopt) << text;
}

TEST(ManifestDates, FormatAndParse) {
    ManifestDate date = std::chrono::sys_days(std::chrono::year(2026) / 3 / 1) + 9h + 15min;
    EXPECT_EQ(formatManifestDate(date), "2026-03-01T09:15:00Z");
    EXPECT_EQ(parseManifestDate("2026-03-01T09:15:00Z"), date);
    EXPECT_EQ(parseManifestDate("2026-03-01T10:15:00+01:00"), date);
    EXPECT_EQ(parseManifestDate("2026-03-01T04:45:00-04:30"), date);
    for (const char* text :
         {"2026-03-01T09:15:00.123Z", "2026-03-01 09:15:00Z", "2026-03-01T09:15:00", "2026-02-30T09:15:00Z",
          "2026-03-01T24:00:00Z", "1772356500", "2026-3-1T09:15:00Z", "2026-03-01t09:15:00z", ""})
        EXPECT_EQ(parseManifestDate(text), std::nullopt) << text;
}

TEST(ManifestDates, EveryDateReadIsOneThatCanBeWrittenBack) {
    // An offset can move a date out of the four-digit years that are written.
    for (const char* text :
         {"9999-12-31T23:59:59-23:59", "9999-12-31T23:00:00-01:00", "0000-01-01T00:00:00+00:01"})
        EXPECT_EQ(parseManifestDate(text), std::nullopt) << text;
    struct Case {
        const char* read;
        const char* written;
    } cases[] = {
        {"9999-12-31T23:59:59Z", "9999-12-31T23:59:59Z"},
        {"9999-12-31T23:59:59+23:59", "9999-12-31T00:00:59Z"},
        {"0000-01-01T00:00:00Z", "0000-01-01T00:00:00Z"},
        {"0000-01-01T23:59:00+23:59", "0000-01-01T00:00:00Z"},
    };
    for (const auto& c : cases) {
        auto date = parseManifestDate(c.read);
        ASSERT_TRUE(date) << c.read;
        EXPECT_EQ(formatManifestDate(*date), c.written);
        EXPECT_EQ(parseManifestDate(formatManifestDate(*date)), date);
    }
}

LocalCollectionManifest sampleManifest() {
    LocalCollectionManifest manifest;
    manifest.slug = "naruto";
    manifest.name = "Naruto";
    manifest.description = "";
    manifest.accent = "#8b8b8b";
    manifest.provider = "agent";
    manifest.createdAt = std::chrono::sys_days(std::chrono::year(2026) / 3 / 1) + 9h + 15min;
    LocalCollectionIconEntry notion;
    notion.appName = "Notion";
    notion.status = LocalCollectionIconStatus::done;
    notion.attempts = 2;
    notion.dark = true;
    notion.updatedAt = manifest.createdAt + 1h;
    LocalCollectionIconEntry xcode;
    xcode.appName = "Xcode";
    xcode.status = LocalCollectionIconStatus::skipped;
    xcode.reason = "no extractable icon";
    xcode.updatedAt = manifest.createdAt + 2h;
    manifest.icons = {{"xcode", xcode}, {"notion", notion}};
    return manifest;
}

TEST(ManifestEncoding, PrettySortedKeysISODatesAndNoAbsentOptionals) {
    EXPECT_EQ(sampleManifest().encoded(), R"({
  "accent" : "#8b8b8b",
  "createdAt" : "2026-03-01T09:15:00Z",
  "description" : "",
  "icons" : {
    "notion" : {
      "appName" : "Notion",
      "attempts" : 2,
      "dark" : true,
      "status" : "done",
      "updatedAt" : "2026-03-01T10:15:00Z"
    },
    "xcode" : {
      "appName" : "Xcode",
      "attempts" : 0,
      "dark" : false,
      "reason" : "no extractable icon",
      "status" : "skipped",
      "updatedAt" : "2026-03-01T11:15:00Z"
    }
  },
  "name" : "Naruto",
  "provider" : "agent",
  "publish" : {},
  "schema" : 1,
  "slug" : "naruto"
}
)");
}

TEST(ManifestEncoding, RoundTripsWithAPublishState) {
    LocalCollectionManifest manifest = sampleManifest();
    manifest.stylePrompt = "bold anime cel-shading";
    manifest.publish.remoteSlug = "naruto-2";
    manifest.publish.publishedAt = manifest.createdAt + 3h;
    manifest.publish.finalizedAt = manifest.createdAt + 4h;
    std::string bytes = manifest.encoded();
    EXPECT_NE(bytes.find("\"publishedAt\" : \"2026-03-01T12:15:00Z\""), std::string::npos);
    EXPECT_EQ(LocalCollectionManifest::decode(bytes), manifest);
}

TEST(ManifestEncoding, DoneAppSlugsInPlainOrder) {
    LocalCollectionManifest manifest = sampleManifest();
    for (const char* key : {"zoom", "Arc", "beta"}) {
        LocalCollectionIconEntry entry;
        entry.status = LocalCollectionIconStatus::done;
        manifest.icons[key] = entry;
    }
    EXPECT_EQ(manifest.doneAppSlugs(), (std::vector<std::string>{"Arc", "beta", "notion", "zoom"}));
}

core::Json minimalManifestJson() {
    return core::Json::parse(R"({"schema": 1, "slug": "s", "name": "S", "description": "", "accent": "red",
        "createdAt": "2026-03-01T09:15:00Z", "publish": {},
        "icons": {"a": {"appName": "A", "status": "pending", "attempts": 0, "dark": false,
                        "updatedAt": "2026-03-01T09:15:00Z"}}})");
}

TEST(ManifestDecoding, OptionalKeysMayBeMissingOrNull) {
    core::Json json = minimalManifestJson();
    json["stylePrompt"] = nullptr;
    auto manifest = LocalCollectionManifest::decode(json.dump());
    EXPECT_EQ(manifest.stylePrompt, std::nullopt);
    EXPECT_EQ(manifest.provider, std::nullopt);
    EXPECT_EQ(manifest.publish, LocalCollectionPublishState{});
    EXPECT_EQ(manifest.icons.at("a").reason, std::nullopt);
    EXPECT_EQ(manifest.accent, "red");
}

TEST(ManifestDecoding, RefusalsNameTheProblemAndWhere) {
    struct Case {
        const char* name;
        std::function<void(core::Json&)> breakIt;
        std::string description;
    };
    const std::vector<Case> cases = {
        {"no publish", [](core::Json& j) { j.erase("publish"); }, "Missing required key at publish"},
        {"no schema", [](core::Json& j) { j.erase("schema"); }, "Missing required key at schema"},
        {"unknown status", [](core::Json& j) { j["icons"]["a"]["status"] = "Done"; },
         "Unknown status \"Done\" at icons.a.status (expected pending, done, rejected or skipped)"},
        {"numeric date", [](core::Json& j) { j["createdAt"] = 794'000'000; },
         "Expected a string at createdAt but found a number"},
        {"fractional date", [](core::Json& j) { j["icons"]["a"]["updatedAt"] = "2026-03-01T09:15:00.5Z"; },
         "Expected a date in ISO 8601 form (\"2026-03-01T09:15:00Z\") at icons.a.updatedAt but found "
         "\"2026-03-01T09:15:00.5Z\""},
        {"published at", [](core::Json& j) { j["publish"]["publishedAt"] = "yesterday"; },
         "Expected a date in ISO 8601 form (\"2026-03-01T09:15:00Z\") at publish.publishedAt but found "
         "\"yesterday\""},
        {"attempts fraction", [](core::Json& j) { j["icons"]["a"]["attempts"] = 1.5; },
         "Number at icons.a.attempts is not a whole number that fits 64 bits"},
        {"dark as number", [](core::Json& j) { j["icons"]["a"]["dark"] = 0; },
         "Expected a boolean at icons.a.dark but found a number"},
        {"icons as array", [](core::Json& j) { j["icons"] = core::Json::array(); },
         "Expected an object at icons but found an array"},
        {"top level array", [](core::Json& j) { j = core::Json::array({j}); },
         "Expected an object at the top level but found an array"},
    };
    for (const auto& c : cases) {
        core::Json json = minimalManifestJson();
        c.breakIt(json);
        try {
            LocalCollectionManifest::decode(json.dump());
            ADD_FAILURE() << c.name << ": decoded";
        } catch (const core::JSONDecodingError& error) {
            EXPECT_EQ(std::string(error.what()), c.description) << c.name;
        }
    }
}

TEST(ManifestDecoding, TextThatIsNotJSON) {
    EXPECT_THROW(LocalCollectionManifest::decode("{ not json"), core::JSONDecodingError);
    EXPECT_THROW(LocalCollectionManifest::decode(""), core::JSONDecodingError);
}

TEST(LocalCollectionErrors, Messages) {
    EXPECT_STREQ(LocalCollectionError::invalidSlug("Deep").what(),
                 "Invalid collection slug 'Deep'. Use lowercase letters, digits, and dashes (max 64 chars).");
    EXPECT_STREQ(LocalCollectionError::alreadyExists("deep").what(),
                 "A local collection named 'deep' already exists.");
    EXPECT_STREQ(LocalCollectionError::notFound("deep").what(),
                 "No local collection named 'deep'. Run `mivora collections create` first.");
    EXPECT_STREQ(LocalCollectionError::badImage("bad").what(), "bad");
    EXPECT_STREQ(LocalCollectionError::publishFailed("nope").what(), "nope");
}

} // namespace
} // namespace mivora::collections
