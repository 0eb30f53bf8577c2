// Whether bytes are well-formed UTF-8: the one check every reader of outside
// text makes before the text goes on (to JSON, to the user).
#pragma once

#include <string_view>

namespace mivora::platform {

bool isValidUTF8(std::string_view text);

} // namespace mivora::platform
