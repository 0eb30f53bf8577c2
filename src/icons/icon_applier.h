// The one operation that puts a custom icon on an application for one
// appearance slot: applyIcon. It runs the privileged helper only when the slot
// is the one the system shows now (else it only caches), and always caches.
#pragma once

#include <optional>
#include <string>

#include "apps/installed_app.h"
#include "core/json.h"
#include "icons/appearance.h"

namespace mivora::icons {

struct ApplyIconResult {
    bool success = true;
    apps::InstalledApp app;
    std::string appearance;
    bool appliedToBundle = false;
    std::string cachedFile;
    std::string message;

    core::Json toJson() const;
};

ApplyIconResult applyIcon(const apps::InstalledApp& app, const std::string& iconPath, IconAppearance appearance,
                          const std::string& cacheDirectory, const std::string& helperScript,
                          const std::string& fileicon, bool quit);

std::string selfDrawnDockIconMessage(const std::string& displayName, const std::optional<std::string>& hint);

} // namespace mivora::icons
