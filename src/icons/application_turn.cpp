#include "icons/application_turn.h"

#include "core/locations.h"
#include "core/text.h"
#include "icons/system_app_proxies.h"
#include "platform/filesystem.h"

#include <cstdint>
#include <cstdio>

namespace mivora::icons {

namespace {

// One path per application however it is spelled: one trailing "/" dropped,
// links in its folder resolved (the bundle itself may be gone or replaced), and
// canonically composed, as the cache compares paths.
std::string turnKey(const std::string& appPath) {
    std::string path = platform::droppingTrailingSlash(appPath);
    std::string folder = platform::parentPath(path);
    std::string resolved = platform::resolveSymbolicLinks(folder).value_or(folder);
    return core::canonicalForm(platform::joinPath(resolved, platform::lastPathComponent(path)));
}

// A stable name for the key (FNV-1a): paths may be longer than a file name may
// be. Two applications that share a name only take turns with each other.
std::string lockFileName(const std::string& key) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char byte : key) {
        hash ^= byte;
        hash *= 1099511628211ull;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.lock", static_cast<unsigned long long>(hash));
    return name;
}

} // namespace

platform::FileLock takeApplicationTurn(const std::string& appPath) {
    std::string original = appPath;
    if (isSystemAppProxyPath(appPath)) {
        if (auto record = findSystemProxyRecord({.path = appPath})) original = record->originalPath;
    }
    return platform::FileLock::file(
        platform::joinPath(core::locksDirectory(), lockFileName(turnKey(original))), original);
}

} // namespace mivora::icons
