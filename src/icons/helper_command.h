// The command line that runs the desktop application's privileged helper
// through the password-less sudo rule that the application installs.
#pragma once

#include <string>

namespace mivora::icons {

// "sudo -n '<helper>' '<fileicon>' '<target>' '<last>'", every operand quoted
// for the shell. `lastOperand` is the image to set, or the helper's removal flag.
std::string helperCommandLine(const std::string& helperScript, const std::string& fileicon,
                              const std::string& target, const std::string& lastOperand);

} // namespace mivora::icons
