// `mivora collections`: the style-collection group. It does no work of its
// own; `list` is its default, so `mivora collections` alone lists collections.
#pragma once

#include "core/command.h"

namespace mivora::collections {

class CollectionsCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
};

} // namespace mivora::collections
