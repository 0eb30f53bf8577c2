// `mivora collections apply <slug>`: puts every icon of one collection (the
// local one of that slug first) on the installed applications it matches, in
// one batch that goes on after a failed item and refreshes once at the end.
#pragma once

#include "apps/installed_app.h"
#include "catalog/icon_collections.h"
#include "collections/collection_matching.h"
#include "core/command.h"
#include "core/json.h"
#include "icons/appearance.h"

#include <optional>
#include <string>
#include <vector>

namespace mivora::collections {

struct CollectionApplyItemResult {
    catalog::IconCollectionIcon icon;
    apps::InstalledApp app;
    bool success = false;
    bool appliedToBundle = false;
    std::optional<std::string> cachedFile; // on success
    std::optional<std::string> message;    // on success
    std::optional<std::string> error;      // on failure

    core::Json toJson() const;
};

struct ApplyCollectionResponse {
    bool success = true;
    catalog::IconCollectionSummary collection;
    std::string appearance;
    std::string source; // "dock" or "applications"
    bool dryRun = false;
    int matched = 0;
    int applied = 0;
    int failed = 0;
    int skipped = 0;
    std::optional<std::vector<CollectionMatch>> matches; // dry run only
    std::vector<CollectionApplyItemResult> results;

    core::Json toJson() const;
};

struct ResolvedCollection;

class CollectionsApplyCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    // Downloads (or takes the local file of) one pair's icon and applies it. Throws on failure.
    CollectionApplyItemResult applyItem(const CollectionMatch& match,
                                        const ResolvedCollection& collection) const;

    std::string slug;
    bool dock = false;
    bool dryRun = false;
    std::optional<int64_t> limit;
    std::optional<icons::IconAppearance> appearance;
    bool quit = false;
    bool noRefresh = false;
    bool json = false;
};

} // namespace mivora::collections
