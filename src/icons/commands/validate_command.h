// `mivora validate <config-path>`: checks a configuration exchange document and
// prints its summary with warnings about its content.
#pragma once

#include <string>

#include "core/command.h"

namespace mivora::icons {

class ValidateCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string configPath;
};

} // namespace mivora::icons
