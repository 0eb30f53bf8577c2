// Where the tool keeps its files, shared with the desktop application. Each
// folder is computed once and created (with its parents) on first use; a
// creation failure is ignored and shows up in the later write.
#pragma once

#include <string>

namespace mivora::core {

inline constexpr const char* kBundleIdentifier = "com.quartelmisko.Mivora";

const std::string& appSupportDirectory();   // ~/Library/Application Support/com.quartelmisko.Mivora
std::string appSupportDirectoryFresh();     // the same, computed and created afresh
const std::string& cachesDirectory();       // ~/Library/Caches/com.quartelmisko.Mivora
const std::string& configDirectory();       // appSupportDirectory/config
const std::string& locksDirectory();        // appSupportDirectory/locks (the applications' turns)
const std::string& cacheDirectory();        // cachesDirectory/cache (cached icon images)
std::string legacyDataDirectory();          // ~/.mivora (never created)
const std::string& helperScriptPath();      // <root>/usr/local/lib/mivora/helper.sh
const std::string& fileiconPath();          // <root>/usr/local/lib/mivora/fileicon
std::string appDefaultsPath();              // ~/Library/Preferences/com.quartelmisko.Mivora.plist

} // namespace mivora::core
