// `mivora export <output-path> [-f]`: copies the desktop application's last
// export, unchanged, to a path of the user's choice.
#pragma once

#include <string>

#include "core/command.h"

namespace mivora::icons {

class ExportCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string outputPath;
    bool force = false;
};

} // namespace mivora::icons
