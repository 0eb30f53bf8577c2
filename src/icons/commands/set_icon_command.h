// `mivora set-icon <app-path> <icon-path>`: applies a local image or a
// downloaded icon address to an application for one appearance slot.
#pragma once

#include <optional>
#include <string>

#include "core/command.h"
#include "icons/appearance.h"

namespace mivora::icons {

class SetIconCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string appPath;
    std::string iconPath;
    std::optional<IconAppearance> appearance;
    bool quit = false;
    bool noRefresh = false;
    bool json = false;
};

} // namespace mivora::icons
