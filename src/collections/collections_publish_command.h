// `mivora collections publish <slug> [--json]`: uploads the staged light icons
// of a local collection to the catalog service. The first run creates the
// remote collection and keeps its publish token; later runs reuse both, and a
// remote copy that has gone is forgotten and published afresh. Failed uploads
// are reported, not fatal: a re-run retries them.
#pragma once

#include "core/command.h"
#include "core/json.h"

#include <string>
#include <vector>

namespace mivora::collections {

struct PublishCollectionResponse {
    bool success = true;
    std::string slug;
    std::string remoteSlug;
    int64_t uploaded = 0;
    int64_t failed = 0;
    int64_t skippedDarkVariants = 0;
    std::string shareUrl;
    bool listed = false;
    std::string note;
    std::vector<std::string> errors;

    core::Json toJson() const;
};

class CollectionsPublishCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string slug;
    bool json = false;
};

} // namespace mivora::collections
