#include "cli/command_tree.h"

namespace mivora::cli {

CommandNode* CommandNode::child(const std::string& name) const {
    for (const auto& node : children) {
        if (node->name() == name) return node.get();
    }
    return nullptr;
}

CommandNode* CommandNode::defaultChild() const {
    int index = configuration.defaultSubcommand;
    if (index < 0 || static_cast<size_t>(index) >= children.size()) return nullptr;
    return children[static_cast<size_t>(index)].get();
}

std::string CommandNode::path() const {
    return parent ? parent->path() + " " + name() : name();
}

std::unique_ptr<CommandNode> buildCommandTree(core::CommandFactory root) {
    auto node = std::make_unique<CommandNode>();
    node->command = root();
    node->configuration = node->command->configuration();
    node->command->declare(node->arguments);
    for (core::CommandFactory factory : node->configuration.subcommands) {
        auto child = buildCommandTree(factory);
        child->parent = node.get();
        node->children.push_back(std::move(child));
    }
    return node;
}

} // namespace mivora::cli
