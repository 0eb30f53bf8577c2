// Making a path typed by the user absolute.
#pragma once

#include <string>
#include <string_view>

namespace mivora::core {

// "/x" unchanged; "~" and "~name" expanded; anything else joined to the current
// folder and standardised ("." and ".." resolved).
std::string resolveAppPath(std::string_view text);

} // namespace mivora::core
