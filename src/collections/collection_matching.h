// Pairing of collection icons with the applications on this Mac: an icon goes
// to the first application whose name, or whose bundle's file name, turns into
// the icon's appSlug. Works on the two lists it is given; reads nothing.
#pragma once

#include "apps/installed_app.h"
#include "catalog/icon_collections.h"
#include "core/json.h"

#include <optional>
#include <string>
#include <vector>

namespace mivora::collections {

struct CollectionMatch {
    catalog::IconCollectionIcon icon;
    apps::InstalledApp app;

    core::Json toJson() const;
    bool operator==(const CollectionMatch&) const = default;
};

// The first application, in list order, whose name or bundle file name (the
// last path component without its extension) slugs to `appSlug` exactly.
std::optional<apps::InstalledApp> findInstalledAppBySlug(const std::string& appSlug,
                                                         const std::vector<apps::InstalledApp>& apps);

// One pair per icon that finds an application, in the icons' order.
std::vector<CollectionMatch> matchCollectionIconsToApps(const std::vector<catalog::IconCollectionIcon>& icons,
                                                        const std::vector<apps::InstalledApp>& apps);

} // namespace mivora::collections
