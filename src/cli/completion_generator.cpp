#include "cli/completion_generator.h"

#include "core/text.h"

#include <functional>

namespace mivora::cli {

namespace {

using core::ArgumentKind;
using core::ArgumentSpec;

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    size_t at = 0;
    while ((at = text.find(from, at)) != std::string::npos) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

// Text inside a single-quoted shell word.
std::string singleQuoted(const std::string& text) {
    return "'" + replaceAll(text, "'", "'\\''") + "'";
}

std::string functionName(const CommandNode& node) {
    std::string name = "_" + replaceAll(node.path(), " ", "_");
    return replaceAll(name, "-", "_");
}

std::vector<std::string> valuesOf(const ArgumentSpec& spec) {
    return spec.allowedValues.empty() ? spec.completionValues : spec.allowedValues;
}

// The parser's own `help` subcommand, which the root offers beside its commands
// and which takes a command's name.
const std::string kHelpName = "help";
const std::string kHelpAbstract = "Show subcommand help information.";

bool offersHelp(const CommandNode& node) {
    return !node.parent && node.hasChildren();
}

void forEachNode(const CommandNode& node, const std::function<void(const CommandNode&)>& visit) {
    visit(node);
    for (const auto& child : node.children)
        forEachNode(*child, visit);
}

// --- zsh ---------------------------------------------------------------------

std::string zshDescription(const std::string& text) {
    std::string escaped = replaceAll(text, "\\", "\\\\");
    escaped = replaceAll(escaped, "[", "\\[");
    escaped = replaceAll(escaped, "]", "\\]");
    return escaped;
}

std::string zshValueAction(const ArgumentSpec& spec) {
    auto values = valuesOf(spec);
    if (!values.empty()) return "(" + core::joinStrings(values, " ") + ")";
    if (spec.completesFiles) return "_files";
    return "";
}

std::string zshArgument(const ArgumentSpec& spec) {
    std::string description = zshDescription(spec.help);
    switch (spec.kind) {
    case ArgumentKind::positional:
        return singleQuoted((spec.required ? ":" : "::") + spec.name + ":" + zshValueAction(spec));
    case ArgumentKind::option:
    case ArgumentKind::flag: {
        std::string value =
            spec.kind == ArgumentKind::option ? ":" + spec.name + ":" + zshValueAction(spec) : "";
        if (spec.shortName) {
            std::string s = std::string("-") + spec.shortName;
            return singleQuoted("(" + s + " " + spec.longName() + ")") + "{" + s + "," + spec.longName() +
                   "}" + singleQuoted("[" + description + "]" + value);
        }
        return singleQuoted(spec.longName() + "[" + description + "]" + value);
    }
    }
    return {};
}

std::string zshScript(const CommandNode& root) {
    std::string out = "#compdef " + root.name() + "\n\n";
    forEachNode(root, [&](const CommandNode& node) {
        out += functionName(node) + "() {\n";
        out += "    integer ret=1\n    local -a args\n    args+=(\n";
        for (const auto& spec : node.arguments.specs())
            out += "        " + zshArgument(spec) + "\n";
        if (!node.configuration.version.empty()) out += "        '--version[Show the version.]'\n";
        out += "        '(-h --help)'{-h,--help}'[Show help information.]'\n";
        if (node.hasChildren()) out += "        '(-): :->command'\n        '(-)*:: :->arg'\n";
        out += "    )\n    _arguments -w -s -S $args[@] && ret=0\n";
        if (node.hasChildren()) {
            // `_describe` over the children's names and abstracts, at `indent`.
            auto describeChildren = [&node](const std::string& indent, bool withHelp) {
                std::string text = indent + "local subcommands\n" + indent + "subcommands=(\n";
                auto item = [&](const std::string& name, const std::string& abstract) {
                    text +=
                        indent + "    " + singleQuoted(name + ":" + replaceAll(abstract, ":", "\\:")) + "\n";
                };
                for (const auto& child : node.children)
                    item(child->name(), child->configuration.abstract);
                if (withHelp) item(kHelpName, kHelpAbstract);
                return text + indent + ")\n" + indent + "_describe \"subcommand\" subcommands\n";
            };
            out += "    case $state in\n        (command)\n" +
                   describeChildren("            ", offersHelp(node)) + "            ;;\n";
            out += "        (arg)\n            case ${words[1]} in\n";
            for (const auto& child : node.children) {
                out += "                (" + child->name() + ")\n                    " +
                       functionName(*child) + "\n                    ;;\n";
            }
            if (offersHelp(node)) {
                out += "                (" + kHelpName + ")\n" +
                       describeChildren("                    ", false) + "                    ;;\n";
            }
            out += "            esac\n            ;;\n    esac\n";
        }
        out += "\n    return ret\n}\n\n";
    });
    std::string top = functionName(root);
    out += "if [ \"$funcstack[1]\" = \"" + top + "\" ]; then\n    " + top + " \"$@\"\nelse\n    compdef " +
           top + " " + root.name() + "\nfi\n";
    return out;
}

// --- bash --------------------------------------------------------------------

std::string bashScript(const CommandNode& root) {
    std::string out = "#!/bin/bash\n\n";
    forEachNode(root, [&](const CommandNode& node) {
        std::vector<std::string> words;
        for (const auto& spec : node.arguments.specs()) {
            if (spec.kind == ArgumentKind::positional) continue;
            if (spec.shortName) words.push_back(std::string("-") + spec.shortName);
            words.push_back(spec.longName());
        }
        if (!node.configuration.version.empty()) words.emplace_back("--version");
        words.emplace_back("-h");
        words.emplace_back("--help");
        std::vector<std::string> children;
        for (const auto& child : node.children)
            children.push_back(child->name());
        words.insert(words.end(), children.begin(), children.end());
        if (offersHelp(node)) words.push_back(kHelpName);

        out += functionName(node) + "() {\n";
        out += "    local opts=" + singleQuoted(core::joinStrings(words, " ")) + "\n";
        if (node.hasChildren()) {
            out += "    local i\n    for (( i = $1; i < COMP_CWORD; i++ )); do\n        case "
                   "\"${COMP_WORDS[i]}\" in\n";
            for (const auto& child : node.children) {
                out += "            " + child->name() + ") " + functionName(*child) +
                       " $(( i + 1 )); return ;;\n";
            }
            if (offersHelp(node)) {
                out += "            " + kHelpName + ") COMPREPLY=( $(compgen -W " +
                       singleQuoted(core::joinStrings(children, " ")) + " -- \"$cur\") ); return ;;\n";
            }
            out += "        esac\n    done\n";
        }
        // A value after an option that takes one.
        std::string cases;
        for (const auto& spec : node.arguments.specs()) {
            if (spec.kind != ArgumentKind::option) continue;
            std::string names = spec.longName();
            if (spec.shortName) names = std::string("-") + spec.shortName + "|" + names;
            auto values = valuesOf(spec);
            std::string action;
            if (!values.empty())
                action = "COMPREPLY=( $(compgen -W " + singleQuoted(core::joinStrings(values, " ")) +
                         " -- \"$cur\") )";
            else if (spec.completesFiles)
                action = "COMPREPLY=( $(compgen -f -- \"$cur\") )";
            else
                action = "COMPREPLY=()";
            cases += "        " + names + ") " + action + "; return ;;\n";
        }
        if (!cases.empty()) out += "    case \"$prev\" in\n" + cases + "    esac\n";
        out += "    COMPREPLY=( $(compgen -W \"$opts\" -- \"$cur\") )\n";
        // Positional values: closed lists and file names.
        for (const auto& spec : node.arguments.specs()) {
            if (spec.kind != ArgumentKind::positional) continue;
            auto values = valuesOf(spec);
            if (!values.empty()) {
                out += "    [[ \"$cur\" == -* ]] || COMPREPLY+=( $(compgen -W " +
                       singleQuoted(core::joinStrings(values, " ")) + " -- \"$cur\") )\n";
            } else if (spec.completesFiles) {
                out += "    [[ \"$cur\" == -* ]] || COMPREPLY+=( $(compgen -f -- \"$cur\") )\n";
            }
        }
        out += "}\n\n";
    });
    std::string top = functionName(root);
    out += top + "_complete() {\n    local cur=\"${COMP_WORDS[COMP_CWORD]}\"\n";
    out += "    local prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n    COMPREPLY=()\n    " + top + " 1\n}\n\n";
    out += "complete -F " + top + "_complete " + root.name() + "\n";
    return out;
}

// --- fish --------------------------------------------------------------------

std::string fishQuoted(const std::string& text) {
    return "'" + replaceAll(replaceAll(text, "\\", "\\\\"), "'", "\\'") + "'";
}

std::string fishScript(const CommandNode& root) {
    const std::string program = root.name();
    std::string pathFunction = "__" + program + "_command_path";
    std::string out;
    out += "# The subcommand path of the command line being completed, e.g. '" + program +
           " collections list'.\n";
    out += "function " + pathFunction + "\n";
    out += "    set -l tokens (commandline -opc)\n    set -l path " + program + "\n";
    out += "    for token in $tokens[2..-1]\n        switch \"$path $token\"\n            case";
    forEachNode(root, [&](const CommandNode& node) {
        if (node.parent) out += " " + fishQuoted(node.path());
        if (offersHelp(node)) out += " " + fishQuoted(node.path() + " " + kHelpName);
    });
    out += "\n                set path \"$path $token\"\n        end\n    end\n    echo $path\nend\n\n";
    out += "function __" + program + "_at\n    test (" + pathFunction + ") = \"$argv\"\nend\n\n";
    out += "complete -c " + program + " -f\n";
    forEachNode(root, [&](const CommandNode& node) {
        std::string condition = "-n " + fishQuoted("__" + program + "_at " + node.path());
        std::string head = "complete -c " + program + " " + condition;
        std::string helpHead = "complete -c " + program + " -n " +
                               fishQuoted("__" + program + "_at " + node.path() + " " + kHelpName);
        for (const auto& child : node.children) {
            std::string item =
                " -a " + fishQuoted(child->name()) + " -d " + fishQuoted(child->configuration.abstract);
            out += head + item + "\n";
            if (offersHelp(node)) out += helpHead + item + "\n";
        }
        if (offersHelp(node))
            out += head + " -a " + fishQuoted(kHelpName) + " -d " + fishQuoted(kHelpAbstract) + "\n";
        for (const auto& spec : node.arguments.specs()) {
            auto values = valuesOf(spec);
            if (spec.kind == ArgumentKind::positional) {
                if (!values.empty())
                    out += head + " -a " + fishQuoted(core::joinStrings(values, " ")) + "\n";
                else if (spec.completesFiles)
                    out += head + " -F\n";
                continue;
            }
            std::string line = head;
            if (spec.shortName) line += std::string(" -s ") + spec.shortName;
            line += " -l " + spec.name;
            if (spec.kind == ArgumentKind::option) {
                // -x: a value is required and, where there is a list, only the list is offered.
                if (!values.empty())
                    line += " -x -a " + fishQuoted(core::joinStrings(values, " "));
                else if (spec.completesFiles)
                    line += " -r -F";
                else
                    line += " -r";
            }
            line += " -d " + fishQuoted(spec.help);
            out += line + "\n";
        }
        if (!node.configuration.version.empty()) out += head + " -l version -d 'Show the version.'\n";
        out += head + " -s h -l help -d 'Show help information.'\n";
    });
    return out;
}

} // namespace

std::string completionScript(const CommandNode& root, CompletionShell shell) {
    switch (shell) {
    case CompletionShell::zsh:
        return zshScript(root);
    case CompletionShell::bash:
        return bashScript(root);
    case CompletionShell::fish:
        return fishScript(root);
    }
    return {};
}

} // namespace mivora::cli
