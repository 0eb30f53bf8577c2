#include "cli/help_formatter.h"

#include "core/text.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace mivora::cli {

namespace {

constexpr int kLabelColumn = 26;

std::string synopsisOf(const core::ArgumentSpec& spec) {
    switch (spec.kind) {
    case core::ArgumentKind::positional:
        return spec.required ? spec.valueLabel() : "[" + spec.valueLabel() + "]";
    case core::ArgumentKind::option: {
        std::string text = spec.longName() + " " + spec.valueLabel();
        return spec.required ? text : "[" + text + "]";
    }
    case core::ArgumentKind::flag:
        return "[" + spec.longName() + "]";
    }
    return {};
}

std::string labelOf(const core::ArgumentSpec& spec) {
    if (spec.kind == core::ArgumentKind::positional) return spec.valueLabel();
    std::string label;
    if (spec.shortName) label = std::string("-") + spec.shortName + ", ";
    label += spec.longName();
    if (spec.kind == core::ArgumentKind::option) label += " " + spec.valueLabel();
    return label;
}

std::string descriptionOf(const core::ArgumentSpec& spec) {
    std::string text = spec.help;
    auto append = [&text](const std::string& suffix) {
        if (!text.empty()) text += " ";
        text += suffix;
    };
    if (!spec.allowedValues.empty()) append("(values: " + core::joinStrings(spec.allowedValues, ", ") + ")");
    // An empty default is no default worth showing ("(default: )").
    if (spec.defaultDescription && !spec.defaultDescription->empty())
        append("(default: " + *spec.defaultDescription + ")");
    return text;
}

std::string entry(const std::string& label, const std::string& description, int width) {
    std::string padded = "  " + label;
    std::string wrapped = wrapText(std::string(kLabelColumn, ' ') + description, width, kLabelColumn);
    if (core::characterCount(padded) < static_cast<size_t>(kLabelColumn)) {
        size_t visible = core::characterCount(padded);
        return padded + wrapped.substr(visible) + "\n";
    }
    return padded + "\n" + wrapped + "\n";
}

} // namespace

int screenWidth() {
    struct winsize size {};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

std::string wrapText(const std::string& text, int width, int indent) {
    std::string result;
    auto lines = core::splitString(text, '\n', false);
    for (size_t l = 0; l < lines.size(); ++l) {
        if (l > 0) result += '\n';
        const std::string& line = lines[l];
        // Keep the line's own leading blanks.
        size_t lead = line.find_first_not_of(' ');
        if (lead == std::string::npos) {
            result += line;
            continue;
        }
        std::string current = line.substr(0, lead);
        size_t currentWidth = lead;
        bool lineHasWord = false;
        const auto words = core::splitString(line.substr(lead), ' ', true);
        for (size_t w = 0; w < words.size(); ++w) {
            const std::string& word = words[w];
            size_t wordWidth = core::characterCount(word);
            // A line with more text after it leaves the last column free; only the
            // paragraph's last line may fill the width exactly.
            size_t limit = static_cast<size_t>(width) - (w + 1 < words.size() ? 1 : 0);
            if (lineHasWord && currentWidth + 1 + wordWidth > limit) {
                result += current + "\n";
                current = std::string(static_cast<size_t>(indent), ' ') + word;
                currentWidth = static_cast<size_t>(indent) + wordWidth;
            } else {
                if (lineHasWord) {
                    current += " ";
                    ++currentWidth;
                }
                current += word;
                currentWidth += wordWidth;
            }
            lineHasWord = true;
        }
        result += current;
    }
    return result;
}

std::string usageSynopsis(const CommandNode& node) {
    std::string text = node.path();
    if (node.hasChildren()) return text + " <subcommand>";
    for (const auto& spec : node.arguments.specs())
        text += " " + synopsisOf(spec);
    return text;
}

std::string helpScreen(const CommandNode& node, int width) {
    std::string out;
    if (!node.configuration.abstract.empty()) {
        out += wrapText("OVERVIEW: " + node.configuration.abstract, width, 0) + "\n";
        if (!node.configuration.discussion.empty())
            out += "\n" + wrapText(node.configuration.discussion, width, 0) + "\n";
        out += "\n";
    } else if (!node.configuration.discussion.empty()) {
        out += wrapText(node.configuration.discussion, width, 0) + "\n\n";
    }
    out += wrapText("USAGE: " + usageSynopsis(node), width, 7) + "\n";

    std::string arguments, options;
    for (const auto& spec : node.arguments.specs()) {
        std::string& section = spec.kind == core::ArgumentKind::positional ? arguments : options;
        section += entry(labelOf(spec), descriptionOf(spec), width);
    }
    if (!node.configuration.version.empty()) options += entry("--version", "Show the version.", width);
    options += entry("-h, --help", "Show help information.", width);

    if (!arguments.empty()) out += "\nARGUMENTS:\n" + arguments;
    out += "\nOPTIONS:\n" + options;
    if (node.hasChildren()) {
        out += "\nSUBCOMMANDS:\n";
        const CommandNode* defaultChild = node.defaultChild();
        for (const auto& child : node.children) {
            std::string label = child->name() + (child.get() == defaultChild ? " (default)" : "");
            out += entry(label, child->configuration.abstract, width);
        }
        std::string prefix = node.parent ? node.path().substr(node.path().find(' ') + 1) + " " : "";
        std::string root = node.parent ? node.path().substr(0, node.path().find(' ')) : node.name();
        out += "\n  See '" + root + " help " + prefix + "<subcommand>' for detailed help.\n";
    }
    return out;
}

std::string usageErrorReport(const CommandNode& node, const std::string& message, int width) {
    std::string out = "Error: " + message + "\n";
    out += wrapText("Usage: " + usageSynopsis(node), width, 7) + "\n";
    out += "  See '" + node.path() + " --help' for more information.\n";
    return out;
}

} // namespace mivora::cli
