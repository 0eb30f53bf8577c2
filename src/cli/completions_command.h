// `mivora completions <shell-name>`: prints the completion script of the whole
// command tree for zsh, bash or fish.
#pragma once

#include <string>

#include "core/command.h"

namespace mivora::cli {

class CompletionsCommand : public core::Command {
public:
    core::CommandConfiguration configuration() const override;
    void declare(core::Arguments& arguments) override;
    void run() override;

private:
    std::string shellName;
};

} // namespace mivora::cli
