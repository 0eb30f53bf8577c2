// The command-line frame: parses the arguments against the command tree with
// CLI11, prints help, version and usage errors in the parser's conventions, runs
// the selected command and turns every thrown error into its output and exit
// status. This is the one place errors are caught.
#pragma once

#include <string>
#include <vector>

#include "core/command.h"

namespace mivora::cli {

// Exit statuses of the frame.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 64;

// Runs one command line (without the program name) and returns the exit status.
int runCommandLine(core::CommandFactory root, const std::vector<std::string>& arguments);

} // namespace mivora::cli
