// Running AppleScript source. There is no script engine in this process here:
// the source goes to the `osascript` program found on the children's PATH.
#pragma once

#include <string>

namespace mivora::platform {

// True when the script ran and reported no error (exit status 0 within 15 s);
// false when no `osascript` is found, it cannot start, fails or hangs.
bool runAppleScript(const std::string& source);

} // namespace mivora::platform
