// The command line that runs the desktop application's privileged helper
// through the password-less sudo rule that the application installs.
#pragma once

#include <string>

namespace mivora::icons {

// "sudo -n '<helper>' '<fileicon>' '<target>' '<last>'", every operand quoted
// for the shell. `lastOperand` is the image to set, or the helper's removal flag.
std::string helperCommandLine(const std::string& helperScript, const std::string& fileicon,
                              const std::string& target, const std::string& lastOperand);

// The setup messages when a helper file is missing: the engine's, and the other icon commands'.
inline constexpr const char* kEngineHelperFilesMissing = "Helper files not found. Run Mivora once to complete setup.";
inline constexpr const char* kHelperFilesMissing = "Helper files not found. Run the Mivora app to complete setup first.";

// Throws CLIError::setupIncomplete with `message` unless both helper files exist
// (the script is tested first).
void requireHelperFiles(const std::string& helperScript, const std::string& fileicon,
                        const char* message = kHelperFilesMissing);

} // namespace mivora::icons
