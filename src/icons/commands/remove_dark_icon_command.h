// `mivora remove-dark-icon <target>`: drops only the cached dark variant of an
// application's icon, re-applying the light one when the system shows dark.
#pragma once

#include <string>

#include "core/command.h"

namespace mivora::icons {

class RemoveDarkIconCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string target;
    bool json = false;
};

} // namespace mivora::icons
