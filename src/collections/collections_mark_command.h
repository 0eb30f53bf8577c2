// `mivora collections mark <slug> <app> --status <status> [--reason] [--json]`:
// records why an application's icon is not done yet (pending, rejected or
// skipped), so that a resumed session knows what to retry.
#pragma once

#include "core/command.h"

#include <optional>
#include <string>

namespace mivora::collections {

class CollectionsMarkCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string slug;
    std::string app;
    std::string status;
    std::optional<std::string> reason;
    bool json = false;
};

} // namespace mivora::collections
