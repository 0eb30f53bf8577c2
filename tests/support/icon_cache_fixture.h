// The stored state that restore, list and status read, written the way the
// desktop application and the icon engine write it: icon-cache.json with its
// images in the cache folder, the desktop application's preference file (its
// aliases and its copy of the cache) and the system appearance.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/json.h"
#include "support/sandbox.h"

namespace mivora::testing {

struct FixtureCacheEntry {
    std::string appPath;
    std::string appName;
    std::string iconFileName;
    std::optional<std::string> darkIconFileName;
    double timestamp = 726'000'000; // 2024-01-03 18:40 UTC
    std::optional<std::string> appVersion;

    core::Json toJson() const;
};

// The cache as a JSON object from application path to entry.
core::Json iconCacheJson(const std::vector<FixtureCacheEntry>& entries);

std::string iconCacheFile(const Sandbox& sandbox);
std::string cachedImagesFolder(const Sandbox& sandbox);
std::string cachedImage(const Sandbox& sandbox, const std::string& name);

void writeIconCache(const Sandbox& sandbox, const std::vector<FixtureCacheEntry>& entries);
// Writes each image an entry names (both slots) into the cache folder.
void writeCachedImages(const Sandbox& sandbox, const std::vector<FixtureCacheEntry>& entries);

// ~/Library/Preferences/com.quartelmisko.Mivora.plist holding the given keys as
// data values ("AliasName", "com.mivora.cachedIcons").
void writeAppDefaults(const Sandbox& sandbox, const std::map<std::string, std::string>& dataValues);
// The "AliasName" value: app name -> alias as a JSON object.
void writeAliases(const Sandbox& sandbox, const std::map<std::string, std::string>& aliases);

// "AppleInterfaceStyle" of the any-application preferences: "Dark" or absent.
void setDarkAppearance(const Sandbox& sandbox, bool dark);

} // namespace mivora::testing
