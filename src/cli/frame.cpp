#include "cli/frame.h"

#include "cli/command_tree.h"
#include "cli/help_formatter.h"
#include "core/errors.h"
#include "core/output.h"
#include "core/text.h"
#include "platform/environment.h"
#include "platform/interruption.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <exception>
#include <map>
#include <optional>

namespace mivora::cli {

namespace {

// A usage problem found before or after CLI11's parse, reported for `node`.
struct UsageProblem {
    const CommandNode* node;
    std::string message;
};

// Mirrors the command tree into CLI11 apps and keeps, per argument, the CLI11
// option that collects it.
struct ParserTree {
    std::map<const core::ArgumentSpec*, CLI::Option*> options;
    std::map<const CommandNode*, CLI::App*> apps;

    void mirror(const CommandNode& node, CLI::App& app) {
        apps[&node] = &app;
        app.set_help_flag();
        app.allow_extras(true);
        app.fallthrough(false);
        if (node.hasChildren()) app.require_subcommand(0, 1);
        for (const auto& spec : node.arguments.specs()) {
            CLI::Option* option = nullptr;
            std::string names =
                spec.shortName ? std::string("-") + spec.shortName + "," + spec.longName() : spec.longName();
            switch (spec.kind) {
            case core::ArgumentKind::positional:
                option = app.add_option(spec.name);
                break;
            case core::ArgumentKind::option:
                option = app.add_option(names);
                break;
            case core::ArgumentKind::flag:
                option = app.add_flag(names);
                break;
            }
            if (spec.kind != core::ArgumentKind::flag) {
                option->expected(1);
                option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
            }
            options[&spec] = option;
        }
        for (const auto& child : node.children) {
            CLI::App* sub = app.add_subcommand(child->name(), child->configuration.abstract);
            mirror(*child, *sub);
        }
    }
};

const core::ArgumentSpec* findSpecByFlag(const CommandNode& node, const std::string& flag) {
    for (const auto& spec : node.arguments.specs()) {
        if (flag == spec.longName() || (spec.shortName && flag == std::string("-") + spec.shortName))
            return &spec;
    }
    return nullptr;
}

// "-1", "-0.5", "-.5": the start of a negative number; whether the rest is one
// is the value's own check ("-1x" is an invalid value, not an unknown option).
bool looksLikeNegativeNumber(const std::string& word) {
    if (word.size() < 2 || word[0] != '-') return false;
    size_t digit = word[1] == '.' ? 2 : 1;
    return digit < word.size() && std::isdigit(static_cast<unsigned char>(word[digit]));
}

// The value rule: an option takes the following word as its value unless that
// word ends the options ("--") or reads as an option; where a number is expected,
// a negative number is still a value. "-" alone is a value, by custom standard input.
bool takesAsValue(const core::ArgumentSpec& spec, const std::string& word) {
    if (word == "--") return false;
    if (word.size() < 2 || word[0] != '-') return true;
    return spec.takesNumber && looksLikeNegativeNumber(word);
}

// The words after the command path read against the command's declarations, once,
// before CLI11 sees them: which ask for help, which are option values, and the
// first usage problem among them in word order.
struct ScannedWords {
    // The command line with every option value as its own word after "--name",
    // so CLI11 takes it as it stands ("", "-", "--json" given with "=").
    std::vector<std::string> words;
    bool helpRequested = false;
    std::optional<std::string> problem;
};

ScannedWords scanWords(const CommandNode& node, const std::vector<std::string>& tokens, size_t from) {
    ScannedWords scan;
    scan.words.assign(tokens.begin(), tokens.begin() + static_cast<long>(from));
    auto note = [&scan](std::string problem) {
        if (!scan.problem) scan.problem = std::move(problem);
    };
    auto isFlag = [&node](const std::string& name) {
        if (name == "-h" || name == "--help") return true;
        if (name == "--version") return !node.parent && !node.configuration.version.empty();
        const core::ArgumentSpec* spec = findSpecByFlag(node, name);
        return spec && spec->kind == core::ArgumentKind::flag;
    };
    // "--json=1", "--dock=false", "-v=1", "-dv=1", "--help=1": a flag takes no value
    // (CLI11 would read the value as the flag's setting and quietly turn "--dock=false" on).
    auto flagGivenValue = [](const std::string& name, const std::string& value) {
        return "The option '" + name + "' does not take any value, but '" + value + "' was specified.";
    };
    for (size_t i = from; i < tokens.size(); ++i) {
        const std::string& word = tokens[i];
        if (word == "--") {
            scan.words.insert(scan.words.end(), tokens.begin() + static_cast<long>(i), tokens.end());
            break;
        }
        if (word.size() < 2 || word[0] != '-') {
            scan.words.push_back(word);
            continue;
        }
        size_t equals = word.find('=');
        std::string name = word.substr(0, equals);
        std::optional<std::string> attached;
        if (equals != std::string::npos) attached = word.substr(equals + 1);
        const core::ArgumentSpec* option = nullptr; // the option that takes a value here
        std::string flagsBefore;                    // "-d" of "-do <value>"
        if (word[1] == '-') {
            if (word == "--help") scan.helpRequested = true;
            const core::ArgumentSpec* spec = findSpecByFlag(node, name);
            if (spec && spec->kind == core::ArgumentKind::option)
                option = spec;
            else if (attached && name.size() > 2 && isFlag(name))
                note(flagGivenValue(name, *attached));
        } else {
            // Short letters run together: flags, up to a letter that takes a value,
            // whose value is the rest of the word ("-ovalue") or the next word.
            bool allFlags = true;
            for (size_t k = 1; k < name.size(); ++k) {
                std::string letter = std::string("-") + name[k];
                const core::ArgumentSpec* spec = findSpecByFlag(node, letter);
                if (spec && spec->kind == core::ArgumentKind::option) {
                    option = spec;
                    flagsBefore = name.substr(0, k);
                    std::string rest = word.substr(k + 1);
                    if (!rest.empty()) attached = rest[0] == '=' ? rest.substr(1) : rest;
                    break;
                }
                if (letter == "-h" && !attached) scan.helpRequested = true;
                allFlags = allFlags && isFlag(letter);
            }
            // Only when every letter is a flag is the value the problem; it goes to the last one.
            if (!option && attached && allFlags && name.size() > 1)
                note(flagGivenValue(std::string("-") + name.back(), *attached));
        }
        if (!option) {
            scan.words.push_back(word);
            continue;
        }
        if (flagsBefore.size() > 1) scan.words.push_back(flagsBefore);
        std::optional<std::string> value = attached;
        if (!value && i + 1 < tokens.size() && takesAsValue(*option, tokens[i + 1])) value = tokens[++i];
        if (!value) {
            note("Missing value for '" + option->displayName() + "'");
            continue;
        }
        scan.words.push_back(option->longName());
        scan.words.push_back(*value);
    }
    return scan;
}

std::string invalidValueMessage(const core::ArgumentSpec& spec, const std::string& value) {
    std::string message = "The value '" + value + "' is invalid for '" + spec.displayName() + "'";
    const auto& values = spec.allowedValues;
    if (values.empty()) return message;
    message += ". Please provide one of ";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) message += (i + 1 == values.size()) ? " or " : ", ";
        message += "'" + values[i] + "'";
    }
    return message + ".";
}

class Frame {
public:
    explicit Frame(core::CommandFactory root) : tree_(buildCommandTree(root)) {}

    int run(std::vector<std::string> tokens) {
        const int width = screenWidth();
        CommandNode* node = tree_.get();
        size_t index = 0;
        // Walk the subcommand names, so that help and defaults know the command path.
        while (node->hasChildren() && index < tokens.size()) {
            const std::string& token = tokens[index];
            if (token == "help") return showHelpFor(*node, tokens, index + 1, width);
            CommandNode* child = node->child(token);
            if (!child) break;
            node = child;
            ++index;
        }
        ScannedWords scan = scanWords(*node, tokens, index);
        if (scan.helpRequested) return printHelp(*node, width);
        auto end = std::find(tokens.begin() + static_cast<long>(index), tokens.end(), "--");
        if (!node->parent && !node->configuration.version.empty() &&
            std::find(tokens.begin() + static_cast<long>(index), end, "--version") != end) {
            core::printLine(node->configuration.version);
            return kExitSuccess;
        }
        if (node->hasChildren()) {
            if (CommandNode* fallback = node->defaultChild()) {
                tokens.insert(tokens.begin() + static_cast<long>(index), fallback->name());
                node = fallback;
                scan = scanWords(*node, tokens, index + 1);
            } else if (index == tokens.size()) {
                return printHelp(*node, width);
            }
        }
        if (scan.problem) return usageError(*node, *scan.problem, width);

        CLI::App app(tree_->configuration.abstract, tree_->name());
        ParserTree parser;
        parser.mirror(*tree_, app);
        try {
            std::vector<std::string> reversed(scan.words.rbegin(), scan.words.rend());
            app.parse(reversed);
        } catch (const CLI::ParseError& error) {
            return usageError(*node, error.what(), width);
        }

        if (auto problem = checkParsed(*tree_, parser))
            return usageError(*problem->node, problem->message, width);
        const CommandNode* selected = selectedNode(*tree_, parser);
        if (selected->hasChildren()) return printHelp(*selected, width);
        return execute(*selected, width);
    }

private:
    int showHelpFor(const CommandNode& from, const std::vector<std::string>& tokens, size_t index,
                    int width) {
        const CommandNode* node = &from;
        for (; index < tokens.size(); ++index) {
            const CommandNode* child = node->child(tokens[index]);
            if (!child) break;
            node = child;
        }
        return printHelp(*node, width);
    }

    static int printHelp(const CommandNode& node, int width) {
        core::printText(helpScreen(node, width));
        return kExitSuccess;
    }

    static int usageError(const CommandNode& node, const std::string& message, int width) {
        core::printErrorText(usageErrorReport(node, message, width));
        return kExitUsage;
    }

    static const CommandNode* selectedNode(const CommandNode& root, ParserTree& parser) {
        const CommandNode* node = &root;
        for (bool descended = true; descended;) {
            descended = false;
            for (const auto& child : node->children) {
                if (parser.apps[child.get()]->parsed()) {
                    node = child.get();
                    descended = true;
                    break;
                }
            }
        }
        return node;
    }

    static std::optional<UsageProblem> checkParsed(const CommandNode& root, ParserTree& parser) {
        const CommandNode* selected = selectedNode(root, parser);
        // Leftovers: unknown options and arguments nobody takes, nearest first.
        for (const CommandNode* node = selected; node; node = node->parent) {
            for (const std::string& extra : parser.apps[node]->remaining(false)) {
                // "--" only ends the options: what follows it is positional.
                if (extra == "--") continue;
                if (extra.size() > 1 && extra[0] == '-') {
                    std::string name = extra.substr(0, extra.find('='));
                    return UsageProblem{selected, "Unknown option '" + name + "'"};
                }
                return UsageProblem{selected, "Unexpected argument '" + extra + "'"};
            }
        }
        for (const auto& spec : selected->arguments.specs()) {
            CLI::Option* option = parser.options[&spec];
            if (spec.kind == core::ArgumentKind::flag) {
                if (option->count() > 0) spec.set();
                continue;
            }
            if (option->count() == 0) {
                if (spec.required)
                    return UsageProblem{selected, "Missing expected argument '" + spec.displayName() + "'"};
                continue;
            }
            std::string value = option->results().back();
            if (!spec.assign(value)) return UsageProblem{selected, invalidValueMessage(spec, value)};
        }
        return std::nullopt;
    }

    static int execute(const CommandNode& node, int width) {
        try {
            // Every command keeps or reads something under the home folder; one
            // that cannot be found ends the command before anything is touched.
            platform::homeDirectory();
            node.command->run();
            return kExitSuccess;
        } catch (const core::ValidationError& error) {
            return usageError(node, error.what(), width);
        } catch (const core::ExitCode& code) {
            return code.code();
        } catch (const std::bad_alloc&) {
            // Inputs are bounded so that this does not happen; if it still does, say so plainly.
            core::printErrorText("Error: Not enough memory to finish the command\n");
            return kExitFailure;
        } catch (const std::exception& error) {
            core::printErrorText(std::string("Error: ") + error.what() + "\n");
            return kExitFailure;
        } catch (const platform::Interrupted& interrupted) {
            // The half-made change has been undone; end as the signal would have.
            return interrupted.exitStatus();
        }
    }

    std::unique_ptr<CommandNode> tree_;
};

} // namespace

int runCommandLine(core::CommandFactory root, const std::vector<std::string>& arguments) {
    // A bare --version needs only the root command: building every subcommand
    // first would cost more than the answer.
    if (arguments.size() == 1 && arguments.front() == "--version") {
        const auto configuration = root()->configuration();
        if (!configuration.version.empty()) {
            core::printLine(configuration.version);
            return kExitSuccess;
        }
    }
    Frame frame(root);
    // Arguments reach commands as the platform decodes them: ill-formed bytes become U+FFFD.
    return frame.run(core::validUTF8(arguments));
}

} // namespace mivora::cli
