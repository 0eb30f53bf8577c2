// `mivora apps [<query>] [--dock] [--json]`: the installed (or Dock-pinned)
// applications with their exact names and paths, marking those that draw their
// own Dock icon.
#pragma once

#include "apps/installed_app.h"
#include "core/command.h"
#include "core/json.h"

#include <optional>
#include <string>
#include <vector>

namespace mivora::apps {

struct AppsResponse {
    std::vector<apps::InstalledApp> apps;
    int count = 0;
    std::string source; // "dock" or "applications"

    // A listing of thousands of applications is written without a tree first.
    void write(core::PrettyJSONWriter& out) const;
};

class AppsCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::optional<std::string> query;
    bool dock = false;
    bool json = false;
};

} // namespace mivora::apps
