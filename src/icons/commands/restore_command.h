// `mivora restore [<target>] [-d] [-v]`: puts the cached custom icons back on
// their applications through the privileged helper (after an update replaced a
// bundle, for instance), each with the image of the slot that fits the system
// appearance at that moment. Reads the icon cache, never writes it.
#pragma once

#include <optional>
#include <string>

#include "core/command.h"

namespace mivora::icons {

class RestoreCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::optional<std::string> target;
    bool dryRun = false;
    bool verbose = false;
};

} // namespace mivora::icons
