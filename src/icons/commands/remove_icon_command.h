// `mivora remove-icon <target>`: takes the custom icon off an application or
// folder, forgets its cached icons, and refreshes the presentation. Also the
// home of RemoveIconResult, which remove-dark-icon prints too.
#pragma once

#include <string>

#include "core/command.h"
#include "apps/installed_app.h"
#include "core/json.h"

namespace mivora::icons {

struct RemoveIconResult {
    bool success = true;
    apps::InstalledApp app;
    bool removedFromBundle = false;
    bool removedCache = false;
    bool removedDarkVariant = false;
    std::string message;

    core::Json toJson() const;
};

class RemoveIconCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string target;
    bool noRefresh = false;
    bool json = false;
};

} // namespace mivora::icons
