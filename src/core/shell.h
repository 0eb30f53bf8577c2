// The one way the tool runs a shell command line: /bin/zsh -c, both output
// streams collected, a time-out, and every failure as CLIError::shellFailed.
#pragma once

#include <string>
#include <string_view>

namespace mivora::core {

// Runs `command` through /bin/zsh -c and returns its standard output trimmed of
// white space. Throws CLIError::shellFailed with "Failed to start process: …",
// "Command timed out after <N>s" or "Exit code <status>: <detail>". The line runs
// in `workingDirectory` when one is given, else in ours.
std::string runShell(const std::string& command, double timeoutSeconds,
                     const std::string& workingDirectory = {});

// A data operand for a shell line: single-quoted, each ' written as '\''.
// Throws CLIError::shellFailed for an operand holding a NUL character.
std::string shellQuote(std::string_view operand);

} // namespace mivora::core
