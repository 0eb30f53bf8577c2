// The commands that author local collections, in the order the `collections`
// group lists them: create, add, mark, status, publish, unpublish (after the
// group's own list, show and apply).
#pragma once

#include <vector>

#include "core/command.h"

namespace mivora::collections {

std::vector<core::CommandFactory> localCollectionCommandFactories();

} // namespace mivora::collections
