// `mivora collections unpublish <slug> [--json]`: deletes the published copy of
// a local collection with its publish token and forgets the publication; the
// local files stay.
#pragma once

#include "core/command.h"
#include "core/json.h"

#include <string>

namespace mivora::collections {

struct UnpublishCollectionResponse {
    bool success = true;
    std::string slug;
    std::string removedRemoteSlug;

    core::Json toJson() const;
};

class CollectionsUnpublishCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string slug;
    bool json = false;
};

} // namespace mivora::collections
