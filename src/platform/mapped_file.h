// Searching a whole file for a byte string without copying it into memory.
#pragma once

#include "platform/file_reading.h"

#include <optional>
#include <string>
#include <string_view>

namespace mivora::platform {

// Whether the regular file at `path` contains `needle`, stopping at the first
// occurrence. The file is mapped read-only (read whole where it cannot be
// mapped, or where it is small enough that a copy costs less than a mapping). Nothing when it cannot be
// opened or read, is not a regular file or is larger than `limit`.
std::optional<bool> fileContainsBytes(const std::string& path, std::string_view needle, ReadLimit limit);

} // namespace mivora::platform
