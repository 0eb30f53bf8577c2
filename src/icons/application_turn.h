// Runs that change one application take turns: from the choice of what goes
// onto its bundle or into its cache entry to the last write of that change,
// one run at a time (set-icon and the catalog and collection applies through
// applyIcon, remove-icon, remove-dark-icon, restore, escape-jail). Runs for
// other applications go on at the same time.
#pragma once

#include "platform/file_lock.h"

#include <string>

namespace mivora::icons {

// Waits for the application's turn and holds it until the lock is released.
// The turn belongs to the application's path, not to its bundle folder, so an
// update that moves a new bundle into place, or an original that is gone, lets
// no second run in; a proxy bundle's turn is its original application's.
// Throws platform::StoreBusyError naming the application's path.
platform::FileLock takeApplicationTurn(const std::string& appPath);

} // namespace mivora::icons
