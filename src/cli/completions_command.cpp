#include "cli/completions_command.h"

#include "cli/completion_generator.h"
#include "cli/root_command.h"
#include "core/errors.h"
#include "core/output.h"
#include "core/text.h"

namespace mivora::cli {

core::CommandConfiguration CompletionsCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "completions";
    config.abstract = "Generate shell completion scripts";
    config.discussion = "Install completions for your shell:\n"
                        "\n"
                        "  # Zsh (add to ~/.zshrc)\n"
                        "  source <(mivora completions zsh)\n"
                        "\n"
                        "  # Bash (add to ~/.bashrc)\n"
                        "  source <(mivora completions bash)\n"
                        "\n"
                        "  # Fish (save to completions directory)\n"
                        "  mivora completions fish > ~/.config/fish/completions/mivora.fish";
    return config;
}

void CompletionsCommand::declare(core::Arguments& arguments) {
    arguments.positional("shell-name", shellName, "Shell type: zsh, bash, or fish",
                         {.completionValues = {"zsh", "bash", "fish"}});
}

void CompletionsCommand::run() {
    std::string name = core::lowercased(shellName);
    CompletionShell shell;
    if (name == "zsh") shell = CompletionShell::zsh;
    else if (name == "bash") shell = CompletionShell::bash;
    else if (name == "fish") shell = CompletionShell::fish;
    else throw core::ValidationError("Unsupported shell '" + shellName + "'. Use zsh, bash, or fish.");
    auto tree = buildCommandTree(core::makeCommand<MivoraCLI>);
    core::printLine(completionScript(*tree, shell));
}

} // namespace mivora::cli
