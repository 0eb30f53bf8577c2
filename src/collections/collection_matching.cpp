#include "collections/collection_matching.h"

#include "collections/local_collection_store.h"
#include "core/text.h"
#include "platform/filesystem.h"

namespace mivora::collections {

core::Json CollectionMatch::toJson() const {
    core::Json json;
    json["icon"] = icon.toJson();
    json["app"] = app.toJson();
    return json;
}

std::optional<apps::InstalledApp> findInstalledAppBySlug(const std::string& appSlug,
                                                         const std::vector<apps::InstalledApp>& apps) {
    for (const auto& app : apps) {
        if (core::canonicallyEqual(slugifyWithoutLimit(app.name), appSlug)) return app;
        std::string fileName = platform::deletingPathExtension(platform::lastPathComponent(app.path));
        if (core::canonicallyEqual(slugifyWithoutLimit(fileName), appSlug)) return app;
    }
    return std::nullopt;
}

std::vector<CollectionMatch> matchCollectionIconsToApps(const std::vector<catalog::IconCollectionIcon>& icons,
                                                        const std::vector<apps::InstalledApp>& apps) {
    std::vector<CollectionMatch> matches;
    for (const auto& icon : icons) {
        if (auto app = findInstalledAppBySlug(icon.appSlug, apps)) matches.push_back({icon, std::move(*app)});
    }
    return matches;
}

} // namespace mivora::collections
