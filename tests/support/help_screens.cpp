#include "support/help_screens.h"

#include <gtest/gtest.h>
#include <sstream>

namespace mivora::testing {

namespace {

// The lines of the section that starts with `title` up to the next empty line.
std::vector<std::string> section(const std::string& text, const std::string& title) {
    std::vector<std::string> lines;
    size_t at = text.find("\n" + title + "\n");
    if (at == std::string::npos) return lines;
    std::istringstream in(text.substr(at + title.size() + 2));
    for (std::string line; std::getline(in, line) && !line.empty();)
        lines.push_back(line);
    return lines;
}

// An entry starts two blanks in; wrapped descriptions start further in.
bool isEntry(const std::string& line) {
    return line.size() > 2 && line.starts_with("  ") && line[2] != ' ';
}

HelpOption optionOf(const std::string& line) {
    HelpOption option;
    std::string rest = line.substr(2);
    if (rest.size() > 4 && rest[0] == '-' && rest[1] != '-' && rest.substr(2, 2) == ", ") {
        option.shortName = rest[1];
        rest = rest.substr(4);
    }
    option.name = rest.substr(0, rest.find(' '));
    if (rest.size() > option.name.size() + 1 && rest[option.name.size() + 1] == '<') {
        size_t start = option.name.size() + 1;
        option.label = rest.substr(start, rest.find('>', start) - start + 1);
    }
    return option;
}

void collect(const Sandbox& sandbox, const std::vector<std::string>& path, std::vector<HelpScreen>& screens) {
    std::vector<std::string> arguments = {"help"};
    arguments.insert(arguments.end(), path.begin(), path.end());
    RunResult result = sandbox.run(arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    HelpScreen screen{path, result.out, {}};
    for (const auto& line : section(result.out, "OPTIONS:")) {
        if (isEntry(line)) screen.options.push_back(optionOf(line));
    }
    screens.push_back(screen);
    for (const auto& line : section(result.out, "SUBCOMMANDS:")) {
        if (!isEntry(line)) continue;
        std::vector<std::string> child = path;
        child.push_back(line.substr(2, line.find(' ', 2) - 2));
        collect(sandbox, child, screens);
    }
}

} // namespace

std::string HelpScreen::commandLine() const {
    std::string line = "mivora";
    for (const auto& name : path)
        line += " " + name;
    return line;
}

std::vector<HelpScreen> allHelpScreens(const Sandbox& sandbox) {
    std::vector<HelpScreen> screens;
    collect(sandbox, {}, screens);
    return screens;
}

} // namespace mivora::testing
