#include "core/locations.h"

#include "platform/environment.h"
#include "platform/filesystem.h"

namespace mivora::core {

namespace {
std::string created(std::string path) {
    platform::tryCreateDirectories(path);
    return path;
}
} // namespace

std::string appSupportDirectoryFresh() {
    return created(platform::homeDirectory() + "/Library/Application Support/" + kBundleIdentifier);
}

const std::string& appSupportDirectory() {
    static const std::string path = appSupportDirectoryFresh();
    return path;
}

const std::string& cachesDirectory() {
    static const std::string path = created(platform::homeDirectory() + "/Library/Caches/" + kBundleIdentifier);
    return path;
}

const std::string& configDirectory() {
    static const std::string path = created(appSupportDirectory() + "/config");
    return path;
}

const std::string& locksDirectory() {
    static const std::string path = created(appSupportDirectory() + "/locks");
    return path;
}

const std::string& cacheDirectory() {
    static const std::string path = created(cachesDirectory() + "/cache");
    return path;
}

std::string legacyDataDirectory() { return platform::homeDirectory() + "/.mivora"; }

const std::string& helperScriptPath() {
    static const std::string path = platform::systemPath("/usr/local/lib/mivora/helper.sh");
    return path;
}

const std::string& fileiconPath() {
    static const std::string path = platform::systemPath("/usr/local/lib/mivora/fileicon");
    return path;
}

std::string appDefaultsPath() {
    return platform::homeDirectory() + "/Library/Preferences/" + kBundleIdentifier + ".plist";
}

} // namespace mivora::core
