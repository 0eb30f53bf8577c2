// The commands that author local collections, in the order the `collections`
// group lists them: create, add, mark, status, publish, unpublish (after the
// group's own list, show and apply).
#pragma once

#include "core/command.h"

#include <vector>

namespace mivora::collections {

std::vector<core::CommandFactory> localCollectionCommandFactories();

} // namespace mivora::collections
