// `mivora list [--aliases] [--icons] [--json]`: the application aliases the
// desktop application keeps and the custom icons in the icon cache, marking
// applications and cached images that have gone missing. Changes nothing.
#pragma once

#include <string>
#include <vector>

#include "core/command.h"
#include "core/json.h"
#include "icons/icon_cache.h"

namespace mivora::icons {

struct AliasEntry {
    std::string appName;
    std::string aliasName;

    core::Json toJson() const;
};

struct ListResponse {
    std::vector<AliasEntry> aliases;
    std::vector<IconCacheEntry> cachedIcons;

    core::Json toJson() const;
};

class ListCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    bool aliases = false;
    bool icons = false;
    bool json = false;
};

} // namespace mivora::icons
