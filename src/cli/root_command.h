// The root command `mivora`: no work of its own, only the subcommand list in
// its fixed order.
#pragma once

#include "core/command.h"

namespace mivora::cli {

inline constexpr const char* kVersion = "2.3.0";

class MivoraCLI : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
};

} // namespace mivora::cli
