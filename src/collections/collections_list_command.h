// `mivora collections list [--json]`: the user's local collections first, then
// the catalog's; the local ones are still shown when the catalog fails.
#pragma once

#include "catalog/icon_collections.h"
#include "core/command.h"
#include "core/json.h"

#include <optional>
#include <string>
#include <vector>

namespace mivora::collections {

struct CollectionsListResponse {
    std::vector<catalog::IconCollectionSummary> collections; // remote, in the service's order
    int count = 0;                                           // of `collections` only
    std::optional<std::vector<catalog::IconCollectionSummary>> localCollections;
    std::optional<std::string> remoteError;

    core::Json toJson() const;
};

class CollectionsListCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    bool json = false;
};

} // namespace mivora::collections
