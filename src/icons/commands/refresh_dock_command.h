// `mivora refresh-dock [--dock-only]`: the icon presentation refresh on demand.
#pragma once

#include "core/command.h"

namespace mivora::icons {

class RefreshDockCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    bool dockOnly = false;
};

} // namespace mivora::icons
