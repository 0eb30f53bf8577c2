// Moves the data of the old hidden folder (~/.mivora) into the current storage
// locations, at every start-up, before the command line is parsed. Never fails,
// prints nothing.
#pragma once

namespace mivora::app {

void migrateLegacyData();

} // namespace mivora::app
