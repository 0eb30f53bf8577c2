// The command tree: one node per command, built from the root's factory, each
// holding the command value, its configuration and its declared arguments.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/command.h"

namespace mivora::cli {

struct CommandNode {
    std::unique_ptr<core::Command> command;
    core::CommandConfiguration configuration;
    core::Arguments arguments;
    std::vector<std::unique_ptr<CommandNode>> children;
    CommandNode* parent = nullptr;

    const std::string& name() const { return configuration.commandName; }
    bool hasChildren() const { return !children.empty(); }
    CommandNode* child(const std::string& name) const;
    CommandNode* defaultChild() const;
    // "mivora collections list"
    std::string path() const;
};

std::unique_ptr<CommandNode> buildCommandTree(core::CommandFactory root);

} // namespace mivora::cli
