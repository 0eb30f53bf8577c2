#include "support/icon_cache_fixture.h"

#include "platform/property_list.h"

namespace mivora::testing {

core::Json FixtureCacheEntry::toJson() const {
    core::Json json = {{"appPath", appPath}, {"iconFileName", iconFileName}};
    if (darkIconFileName) json["darkIconFileName"] = *darkIconFileName;
    json["appName"] = appName;
    json["timestamp"] = timestamp;
    if (appVersion) json["appVersion"] = *appVersion;
    return json;
}

core::Json iconCacheJson(const std::vector<FixtureCacheEntry>& entries) {
    core::Json cache = core::Json::object();
    for (const auto& entry : entries)
        cache[entry.appPath] = entry.toJson();
    return cache;
}

std::string iconCacheFile(const Sandbox& sandbox) {
    return sandbox.homePath("Library/Application Support/com.quartelmisko.Mivora/icon-cache.json");
}

std::string cachedImagesFolder(const Sandbox& sandbox) {
    return sandbox.homePath("Library/Caches/com.quartelmisko.Mivora/cache");
}

std::string cachedImage(const Sandbox& sandbox, const std::string& name) {
    return cachedImagesFolder(sandbox) + "/" + name;
}

void writeIconCache(const Sandbox& sandbox, const std::vector<FixtureCacheEntry>& entries) {
    sandbox.writeFile(iconCacheFile(sandbox), iconCacheJson(entries).dump());
}

void writeCachedImages(const Sandbox& sandbox, const std::vector<FixtureCacheEntry>& entries) {
    for (const auto& entry : entries) {
        sandbox.writeFile(cachedImage(sandbox, entry.iconFileName), "png " + entry.iconFileName);
        if (entry.darkIconFileName)
            sandbox.writeFile(cachedImage(sandbox, *entry.darkIconFileName),
                              "png " + *entry.darkIconFileName);
    }
}

void writeAppDefaults(const Sandbox& sandbox, const std::map<std::string, std::string>& dataValues) {
    auto defaults = platform::Plist::dictionary();
    defaults.set("SUEnableAutomaticChecks", platform::Plist::boolean(true));
    for (const auto& [key, bytes] : dataValues)
        defaults.set(key, platform::Plist::data(bytes));
    sandbox.writePlist(sandbox.homePath("Library/Preferences/com.quartelmisko.Mivora.plist"), defaults, true);
}

void writeAliases(const Sandbox& sandbox, const std::map<std::string, std::string>& aliases) {
    core::Json json = core::Json::object();
    for (const auto& [app, alias] : aliases)
        json[app] = alias;
    writeAppDefaults(sandbox, {{"AliasName", json.dump()}});
}

void setDarkAppearance(const Sandbox& sandbox, bool dark) {
    auto preferences = platform::Plist::dictionary();
    preferences.set("AppleLocale", platform::Plist::string("en_US"));
    if (dark) preferences.set("AppleInterfaceStyle", platform::Plist::string("Dark"));
    sandbox.writePlist(sandbox.homePath("Library/Preferences/.GlobalPreferences.plist"), preferences);
}

} // namespace mivora::testing
