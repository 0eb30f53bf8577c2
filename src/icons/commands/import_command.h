// `mivora import <config-path> [-d]`: checks a configuration exchange document and
// stages its bytes, unchanged, in the configuration folder for the desktop
// application to take over at its next start.
#pragma once

#include <string>

#include "core/command.h"

namespace mivora::icons {

class ImportCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string configPath;
    bool dryRun = false;
};

} // namespace mivora::icons
