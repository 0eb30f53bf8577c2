#include "app/migration.h"

#include <string>

#include "core/locations.h"
#include "platform/filesystem.h"

namespace mivora::app {

namespace fs = platform;

namespace {

void migrateFolder(const std::string& legacy, const std::string& destination) {
    if (!fs::isDirectory(legacy) && !fs::fileExists(legacy)) return;
    fs::tryCreateDirectories(destination);
    if (auto entries = fs::listDirectory(legacy)) {
        for (const auto& name : *entries) {
            std::string from = fs::joinPath(legacy, name);
            std::string to = fs::joinPath(destination, name);
            try {
                // The destination's own item wins; the legacy copy goes.
                if (fs::fileExists(to) || fs::isSymbolicLink(to)) fs::removeItem(from);
                else fs::moveItem(from, to);
            } catch (...) {
            }
        }
    }
    auto left = fs::listDirectory(legacy);
    if (left && left->empty()) fs::removeItemQuietly(legacy);
}

} // namespace

void migrateLegacyData() {
    try {
        const std::string legacy = core::legacyDataDirectory();
        if (!fs::fileExists(legacy) && !fs::isSymbolicLink(legacy)) return;

        // First use of the locations: this creates the four folders.
        const std::string& appSupport = core::appSupportDirectory();
        const std::string& caches = core::cachesDirectory();
        const std::string& cache = core::cacheDirectory();
        const std::string& config = core::configDirectory();

        const std::pair<const char*, std::string> folders[] = {
            {"cache", cache},
            {"history", fs::joinPath(appSupport, "history")},
            {"favorites", fs::joinPath(appSupport, "favorites")},
            {"config", config},
        };
        for (const auto& [name, destination] : folders) migrateFolder(fs::joinPath(legacy, name), destination);

        std::string legacyFetchCache = fs::joinPath(legacy, "icon_fetch_cache.json");
        if (fs::fileExists(legacyFetchCache)) {
            std::string destination = fs::joinPath(caches, "icon_fetch_cache.json");
            try {
                if (fs::fileExists(destination)) fs::removeItem(legacyFetchCache);
                else fs::moveItem(legacyFetchCache, destination);
            } catch (...) {
            }
        }

        // A folder we cannot list is left in place rather than deleted blind.
        auto entries = fs::listDirectory(legacy);
        if (!entries) return;
        for (const auto& name : *entries) {
            if (name != ".DS_Store") return;
        }
        fs::removeItemQuietly(legacy);
    } catch (...) {
        // Start-up always goes on.
    }
}

} // namespace mivora::app
