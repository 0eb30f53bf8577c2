#include "core/json.h"
#include "platform/filesystem.h"
#include "platform/property_list.h"
#include "support/icons_driver.h"
#include "support/sandbox.h"

#include <chrono>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <thread>

namespace mivora::testing {
namespace {

using core::Json;

class IconCache : public ::testing::Test {
protected:
    std::string cacheFile() const {
        return sandbox.homePath("Library/Application Support/com.quartelmisko.Mivora/icon-cache.json");
    }
    std::string cacheDir() const { return sandbox.homePath("Library/Caches/com.quartelmisko.Mivora/cache"); }
    std::string image(const std::string& name) const { return cacheDir() + "/" + name; }

    static Json entry(const std::string& path, const std::string& light,
                      std::optional<std::string> dark = {}) {
        Json json = {{"appPath", path}, {"iconFileName", light}};
        if (dark) json["darkIconFileName"] = *dark;
        json["appName"] = platform::deletingPathExtension(platform::lastPathComponent(path));
        json["timestamp"] = 700000000.5;
        return json;
    }

    // The desktop application's copy of the cache, in its preference file.
    void writePreferenceCache(const Json& cache) const {
        auto preferences = platform::Plist::dictionary();
        preferences.set("com.mivora.cachedIcons", platform::Plist::data(cache.dump()));
        sandbox.writePlist(sandbox.homePath("Library/Preferences/com.quartelmisko.Mivora.plist"), preferences,
                           true);
    }

    Json load() const {
        auto result = runIconsDriver(sandbox, {"load-cache"});
        EXPECT_EQ(result.status, 0) << result.err;
        return Json::parse(result.out);
    }

    // cacheIcon for an app in /Applications; returns {"file", "entry"}.
    Json cache(const std::string& icon, const std::string& slot, const std::string& appPath) const {
        std::string name = platform::deletingPathExtension(platform::lastPathComponent(appPath));
        auto result = runIconsDriver(sandbox, {"cache-icon", icon, slot, name, appPath});
        EXPECT_EQ(result.status, 0) << result.err;
        return result.status == 0 ? Json::parse(result.out) : Json();
    }

    std::string icon(const std::string& name = "icon.png", const std::string& bytes = "png bytes") const {
        std::string path = sandbox.tmp() + "/" + name;
        sandbox.writeFile(path, bytes);
        return path;
    }

    static ino_t inode(const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
    }

    std::vector<std::string> images() const {
        auto names = platform::listDirectory(cacheDir()).value_or(std::vector<std::string>{});
        std::sort(names.begin(), names.end());
        return names;
    }

    Sandbox sandbox;
    std::string app = "/Applications/Maps.app";
};

TEST_F(IconCache, ReadRuleNeverMergesTheTwoSources) {
    Json fileEntry = {{"/Applications/File.app", entry("/Applications/File.app", "F.png")}};
    Json preferenceEntry = {{"/Applications/Pref.app", entry("/Applications/Pref.app", "P.png", "D.png")}};
    Json missingName = {
        {"/Applications/File.app", {{"appPath", "x"}, {"iconFileName", "F.png"}, {"timestamp", 1}}}};
    struct Case {
        const char* what;
        std::optional<std::string> file;
        bool preference;
        Json expected;
    } cases[] = {
        {"no file: the preference value", std::nullopt, true, preferenceEntry},
        {"nothing at all", std::nullopt, false, Json::object()},
        {"a decodable file hides the preference value", fileEntry.dump(), true, fileEntry},
        {"bad JSON counts as missing", "{\"/A.app\": {", true, preferenceEntry},
        {"bad JSON, no preference value", "not json", false, Json::object()},
        {"an entry without appName does not decode", missingName.dump(), true, preferenceEntry},
        {"a JSON array is not a cache", "[]", true, preferenceEntry},
        {"an empty object is a cache", "{}", true, Json::object()},
    };
    for (const auto& c : cases) {
        Sandbox fresh;
        if (c.file)
            fresh.writeFile(
                fresh.homePath("Library/Application Support/com.quartelmisko.Mivora/icon-cache.json"),
                *c.file);
        if (c.preference) {
            auto preferences = platform::Plist::dictionary();
            preferences.set("com.mivora.cachedIcons", platform::Plist::data(preferenceEntry.dump()));
            fresh.writePlist(fresh.homePath("Library/Preferences/com.quartelmisko.Mivora.plist"),
                             preferences);
        }
        auto result = runIconsDriver(fresh, {"load-cache"});
        EXPECT_EQ(Json::parse(result.out), c.expected) << c.what;
    }
}

TEST_F(IconCache, PreferenceValueMustBeDataInAReadablePlist) {
    Json cacheJson = {{"/Applications/Pref.app", entry("/Applications/Pref.app", "P.png")}};
    auto asText = platform::Plist::dictionary();
    asText.set("com.mivora.cachedIcons", platform::Plist::string(cacheJson.dump()));
    sandbox.writePlist(sandbox.homePath("Library/Preferences/com.quartelmisko.Mivora.plist"), asText);
    EXPECT_EQ(load(), Json::object());
    sandbox.writeFile(sandbox.homePath("Library/Preferences/com.quartelmisko.Mivora.plist"),
                      "bplist00garbage");
    EXPECT_EQ(load(), Json::object());
}

TEST_F(IconCache, FirstWriteTakesOverThePreferenceValue) {
    Json old = {{"/Applications/Old.app", entry("/Applications/Old.app", "OLD.png")}};
    writePreferenceCache(old);
    sandbox.writeFile(cacheFile(), "{broken");
    auto cached = cache(icon(), "light", app);
    auto stored = Json::parse(*sandbox.readFile(cacheFile()));
    EXPECT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored.at("/Applications/Old.app"), old.at("/Applications/Old.app"));
    EXPECT_EQ(stored.at(app), cached.at("entry"));
}

TEST_F(IconCache, EntryFormat) {
    std::string versioned =
        sandbox.addApp({.name = "Versioned", .extraStrings = {{"CFBundleVersion", "1234"}}});
    std::string bare = sandbox.addApp({.name = "Bare"});
    auto first = cache(icon(), "light", versioned);
    auto second = cache(icon(), "light", bare);

    const std::regex uuidName("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.png");
    std::string name = first.at("entry").at("iconFileName");
    EXPECT_TRUE(std::regex_match(name, uuidName)) << name;
    EXPECT_EQ(first.at("file"), image(name));
    EXPECT_EQ(sandbox.readFile(image(name)), "png bytes");

    // Compact, in field order, dates as seconds since 2001, absent optionals left out.
    std::string text = *sandbox.readFile(cacheFile());
    EXPECT_EQ(text.find_first_of(" \n"), std::string::npos) << text;
    auto stored = Json::parse(text);
    const auto& withVersion = stored.at(versioned);
    std::vector<std::string> keys;
    for (const auto& [key, value] : withVersion.items())
        keys.push_back(key);
    EXPECT_EQ(keys,
              (std::vector<std::string>{"appPath", "iconFileName", "appName", "timestamp", "appVersion"}));
    EXPECT_EQ(withVersion.at("appPath"), versioned);
    EXPECT_EQ(withVersion.at("appName"), "Versioned");
    EXPECT_EQ(withVersion.at("appVersion"), "1234");
    EXPECT_NEAR(withVersion.at("timestamp").get<double>(), core::secondsSinceReferenceDate(), 60);
    EXPECT_FALSE(stored.at(bare).contains("appVersion"));
    EXPECT_FALSE(stored.at(bare).contains("darkIconFileName"));
    EXPECT_EQ(stored.at(bare), second.at("entry"));
}

TEST_F(IconCache, SlotRulesAndImageLifetimes) {
    // A first dark icon fills both slots.
    auto step1 = cache(icon(), "dark", app).at("entry");
    std::string n1 = step1.at("iconFileName");
    EXPECT_EQ(step1.at("darkIconFileName"), n1);

    // A new light icon keeps the file the dark slot still names.
    auto step2 = cache(icon(), "light", app).at("entry");
    std::string n2 = step2.at("iconFileName");
    EXPECT_EQ(step2.at("darkIconFileName"), n1);
    EXPECT_EQ(images(), (std::vector<std::string>{std::min(n1, n2), std::max(n1, n2)}));

    // Replacing an unshared slot deletes its old image.
    auto step3 = cache(icon(), "light", app).at("entry");
    std::string n3 = step3.at("iconFileName");
    EXPECT_EQ(step3.at("darkIconFileName"), n1);
    auto step4 = cache(icon(), "dark", app).at("entry");
    std::string n4 = step4.at("darkIconFileName");
    EXPECT_EQ(step4.at("iconFileName"), n3);
    EXPECT_EQ(images(), (std::vector<std::string>{std::min(n3, n4), std::max(n3, n4)}));
    EXPECT_EQ(load().at(app), step4);
}

TEST_F(IconCache, RemoveDarkIcon) {
    sandbox.writeFile(image("L.png"), "l");
    sandbox.writeFile(image("D.png"), "d");
    sandbox.writeFile(image("S.png"), "s");
    Json stored = {{"/Applications/Light.app", entry("/Applications/Light.app", "L.png")},
                   {"/Applications/Shared.app", entry("/Applications/Shared.app", "S.png", "S.png")},
                   {"/Applications/Both.app", entry("/Applications/Both.app", "L.png", "D.png")}};
    sandbox.writeFile(cacheFile(), stored.dump());

    // Nothing to remove: false, and the file is not rewritten.
    for (const char* path : {"/Applications/None.app", "/Applications/Light.app"}) {
        ino_t before = inode(cacheFile());
        auto result = runIconsDriver(sandbox, {"remove-dark-icon", path});
        EXPECT_EQ(Json::parse(result.out), Json({{"removed", false}})) << path;
        EXPECT_EQ(inode(cacheFile()), before) << path;
    }

    // Both slots on one file: the slot goes, the image stays.
    auto shared = Json::parse(runIconsDriver(sandbox, {"remove-dark-icon", "/Applications/Shared.app"}).out);
    EXPECT_EQ(shared, Json({{"removed", true}, {"lightIconFile", image("S.png")}}));
    EXPECT_TRUE(platform::fileExists(image("S.png")));

    auto both = Json::parse(runIconsDriver(sandbox, {"remove-dark-icon", "/Applications/Both.app"}).out);
    EXPECT_EQ(both, Json({{"removed", true}, {"lightIconFile", image("L.png")}}));
    EXPECT_FALSE(platform::fileExists(image("D.png")));
    EXPECT_TRUE(platform::fileExists(image("L.png")));

    // Every other field, the timestamp included, is unchanged.
    auto after = load();
    Json expected = stored;
    expected["/Applications/Shared.app"].erase("darkIconFileName");
    expected["/Applications/Both.app"].erase("darkIconFileName");
    EXPECT_EQ(nlohmann::json(after), nlohmann::json(expected)) << "compared without regard to member order";
}

TEST_F(IconCache, RemoveCachedIcons) {
    sandbox.writeFile(image("L.png"), "l");
    sandbox.writeFile(image("D.png"), "d");
    sandbox.writeFile(image("K.png"), "k");
    Json stored = {{"/Applications/Both.app", entry("/Applications/Both.app", "L.png", "D.png")},
                   {"/Applications/Keep.app", entry("/Applications/Keep.app", "K.png", "K.png")}};
    sandbox.writeFile(cacheFile(), stored.dump());

    ino_t before = inode(cacheFile());
    EXPECT_EQ(runIconsDriver(sandbox, {"remove-cached-icons", "/Applications/None.app"}).out, "false\n");
    EXPECT_EQ(inode(cacheFile()), before) << "nothing removed, nothing written";

    EXPECT_EQ(runIconsDriver(sandbox, {"remove-cached-icons", "/Applications/Both.app"}).out, "true\n");
    EXPECT_EQ(images(), std::vector<std::string>{"K.png"});
    EXPECT_EQ(load(), Json({{"/Applications/Keep.app", stored.at("/Applications/Keep.app")}}));

    EXPECT_EQ(runIconsDriver(sandbox, {"remove-cached-icons", "/Applications/Keep.app"}).out, "true\n");
    EXPECT_TRUE(images().empty());
    EXPECT_EQ(load(), Json::object());
}

TEST_F(IconCache, NamesReachingOutsideTheCacheFolderAreNeverDeleted) {
    std::string victim = sandbox.homePath("Library/Caches/com.quartelmisko.Mivora/victim.png");
    sandbox.writeFile(victim, "keep me");
    sandbox.writeFile(cacheFile(), Json({{app, entry(app, "../victim.png", "../victim.png")}}).dump());
    cache(icon(), "light", app);
    cache(icon(), "dark", app);
    EXPECT_EQ(runIconsDriver(sandbox, {"remove-cached-icons", app}).out, "true\n");
    EXPECT_EQ(sandbox.readFile(victim), "keep me");
}

TEST_F(IconCache, PNGIsCopiedAndAnythingElseGoesThroughSips) {
    // The fake sips records its arguments and writes the --out file.
    sandbox.writeScript(sandbox.bin() + "/sips",
                        "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"" + sandbox.tmp() +
                            "/sips.log\"; done\n"
                            "printf '%s\\n' -- >> \"" +
                            sandbox.tmp() +
                            "/sips.log\"\n"
                            "[ -e \"" +
                            sandbox.bin() +
                            "/sips.fail\" ] && { echo 'sips: cannot read' >&2; exit 3; }\n"
                            "printf converted > \"$6\"\n");
    for (const char* name : {"upper.PNG", "mixed.Png"}) {
        auto cached = cache(icon(name, "exact bytes"), "light", app);
        EXPECT_EQ(sandbox.readFile(cached.at("file")), "exact bytes") << name;
    }
    EXPECT_TRUE(sandbox.loggedCalls("sips.log").empty());

    std::string jpeg = icon("it's a photo.jpg", "jpeg");
    auto cached = cache(jpeg, "dark", app);
    std::string destination = cached.at("file");
    // sips writes a temporary file beside the image, which then becomes the image.
    auto sips = sandbox.loggedCalls("sips.log");
    ASSERT_EQ(sips.size(), 1u);
    ASSERT_EQ(sips[0].size(), 6u);
    EXPECT_EQ(std::vector<std::string>(sips[0].begin(), sips[0].begin() + 5),
              (std::vector<std::string>{"-s", "format", "png", jpeg, "--out"}));
    EXPECT_TRUE(isTemporaryFileOf(sips[0][5], destination)) << sips[0][5];
    EXPECT_FALSE(platform::fileExists(sips[0][5]));
    EXPECT_EQ(sandbox.readFile(destination), "converted");

    // A failed conversion is reported and the cache is not touched.
    std::string before = *sandbox.readFile(cacheFile());
    sandbox.writeFile(sandbox.bin() + "/sips.fail", "");
    auto result = runIconsDriver(sandbox, {"cache-icon", icon("icon.icns"), "light", "Maps", app});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: Exit code 3: sips: cannot read\n");
    EXPECT_EQ(sandbox.readFile(cacheFile()), before);
}

TEST_F(IconCache, MissingIconIsACopyError) {
    auto result =
        runIconsDriver(sandbox, {"cache-icon", sandbox.tmp() + "/missing.png", "light", "Maps", app});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("missing.png"), std::string::npos) << result.err;
    EXPECT_FALSE(platform::fileExists(cacheFile()));
}

// Killing the process at any moment of a save leaves the old or the new cache
// on disk, never a torn one.
TEST_F(IconCache, SaveSurvivesBeingKilled) {
    const size_t entries = 1000;
    for (int round = 0; round < 80; ++round) {
        {
            BackgroundProcess saver(sandbox,
                                    {MIVORA_ICONS_DRIVER, "save-cache-forever", std::to_string(entries)});
            ASSERT_TRUE(waitForFile(cacheFile(), 10));
            std::this_thread::sleep_for(std::chrono::microseconds(8000 + 613 * (round % 25)));
        }
        auto text = sandbox.readFile(cacheFile());
        ASSERT_TRUE(text.has_value());
        auto decoded = Json::parse(*text, nullptr, false);
        ASSERT_FALSE(decoded.is_discarded())
            << "round " << round << ": torn file of " << text->size() << " bytes";
        ASSERT_EQ(decoded.size(), entries);
        double timestamp = decoded.begin()->at("timestamp");
        for (const auto& [path, value] : decoded.items())
            ASSERT_EQ(value.at("timestamp"), timestamp) << path;
    }
}

} // namespace
} // namespace mivora::testing
