// `mivora collections show <slug> [--installed [--dock]] [--json]`: the icons of
// one collection, the local one of that slug first, optionally only those that
// match an installed (or Dock-pinned) application.
#pragma once

#include "core/command.h"

#include <string>

namespace mivora::collections {

class CollectionsShowCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string slug;
    bool installed = false;
    bool dock = false;
    bool json = false;
};

} // namespace mivora::collections
