// The command tree as the binary's own help screens show it, so that a table
// over every command and option needs no list kept in step with the commands.
#pragma once

#include "support/sandbox.h"

#include <string>
#include <vector>

namespace mivora::testing {

struct HelpOption {
    std::string name;  // "--out"
    std::string label; // "<out>"; empty for a flag
    char shortName = 0;
    // "--out <out>", as messages name it.
    std::string displayName() const { return label.empty() ? name : name + " " + label; }
};

struct HelpScreen {
    std::vector<std::string> path; // {"collections", "create"}; empty for the root
    std::string text;              // the screen as `help <path>` prints it
    std::vector<HelpOption> options;
    std::string commandLine() const; // "mivora collections create"
};

// Every command's help screen, the root's first, walking the SUBCOMMANDS lists.
std::vector<HelpScreen> allHelpScreens(const Sandbox& sandbox);

} // namespace mivora::testing
