// `mivora quit-app <app> [--wait <wait>] [--json]`: asks a running application
// to quit before its icon is changed.
#pragma once

#include "core/command.h"

#include <string>

namespace mivora::apps {

class QuitAppCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string app;
    double wait = 2.0;
    bool json = false;
};

} // namespace mivora::apps
