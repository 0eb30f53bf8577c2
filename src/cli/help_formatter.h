// Help screens and usage lines in the argument parser's layout: OVERVIEW,
// USAGE, ARGUMENTS, OPTIONS and SUBCOMMANDS, labels indented two blanks and
// descriptions at column 26, wrapped to the terminal width (80 when unknown).
#pragma once

#include <string>

#include "cli/command_tree.h"

namespace mivora::cli {

int screenWidth();
std::string usageSynopsis(const CommandNode& node);
std::string helpScreen(const CommandNode& node, int width);
// "Error: …", "Usage: …", "  See 'mivora … --help' for more information."
std::string usageErrorReport(const CommandNode& node, const std::string& message, int width);

// Greedy word wrap; `indent` blanks start every line after the first.
std::string wrapText(const std::string& text, int width, int indent);

} // namespace mivora::cli
