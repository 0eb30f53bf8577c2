// `mivora extract-icon <app> --out <out> [--size <size>] [--json]`: writes the
// icon an application bundle carries as a square PNG.
#pragma once

#include "core/command.h"

#include <string>

namespace mivora::icons {

class ExtractIconCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string app;
    std::string out;
    int64_t size = 1024;
    bool json = false;
};

} // namespace mivora::icons
