// Stand-in for osascript on Linux: runs the few AppleScript statements that
// mivora sends. An application named N runs when one of the system's running
// applications (platform::runningApplications) lies inside a bundle named
// "N.app"; quitting it sends those processes SIGTERM. The System Events
// appearance script goes to its shared implementation. Anything else is
// refused with a message on standard error and exit status 1.
//
// Usage: osascript -e '<statement>'
//
// A statement is read as words and string literals (in double quotes, where a
// backslash escapes a double quote or a backslash) and matched against the
// shapes in kStatements; teaching the stand-in a new statement means adding a
// row there.

#include "core/text.h"
#include "platform/filesystem.h"
#include "platform/running_processes.h"
#include "shared/system_events_appearance.h"

#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace mivora;

struct Token {
    bool isText = false; // a string literal, its escapes undone
    std::string value;
};

struct Failure {
    std::string message;
};

std::vector<Token> tokenize(const std::string& script) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < script.size()) {
        char c = script[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++i;
        } else if (c == '"') {
            Token token{true, ""};
            for (++i;; ++i) {
                if (i >= script.size()) throw Failure{"syntax error: unterminated string literal"};
                if (script[i] == '"') break;
                if (script[i] == '\\') {
                    if (i + 1 >= script.size() || (script[i + 1] != '"' && script[i + 1] != '\\'))
                        throw Failure{"syntax error: unsupported escape in string literal"};
                    ++i;
                }
                token.value += script[i];
            }
            ++i;
            tokens.push_back(std::move(token));
        } else {
            size_t end = script.find_first_of(" \t\n\r\"", i);
            if (end == std::string::npos) end = script.size();
            tokens.push_back(Token{false, script.substr(i, end - i)});
            i = end;
        }
    }
    return tokens;
}

// Running applications whose executable lies in a bundle named "<name>.app".
std::vector<platform::RunningProcess> processesOfApplication(const std::string& name) {
    std::vector<platform::RunningProcess> found;
    for (auto& process : platform::runningApplications()) {
        if (!process.bundlePath) continue;
        std::string bundleName = platform::lastPathComponent(*process.bundlePath);
        if (bundleName == name + ".app") found.push_back(std::move(process));
    }
    return found;
}

// A statement shape: words match regardless of ASCII case (they are ASCII
// keywords, so no Unicode case rules are needed, whose data would make the
// stand-in some 31 MB larger), kText matches one string
// literal, whose value is handed to the action in order.
constexpr const char* kText = "<text>";
struct Statement {
    std::vector<std::string> shape;
    std::function<std::optional<std::string>(const std::vector<std::string>&)> action; // the result, if any
};

const std::vector<Statement> kStatements = {
    {{"application", kText, "is", "running"},
     [](const std::vector<std::string>& texts) -> std::optional<std::string> {
         return processesOfApplication(texts[0]).empty() ? "false" : "true";
     }},
    {{"tell", "application", kText, "to", "quit"},
     [](const std::vector<std::string>& texts) -> std::optional<std::string> {
         for (const auto& process : processesOfApplication(texts[0]))
             ::kill(process.pid, SIGTERM);
         return std::nullopt;
     }},
};

std::optional<std::string> runStatement(const std::string& script) {
    auto tokens = tokenize(script);
    for (const auto& statement : kStatements) {
        if (statement.shape.size() != tokens.size()) continue;
        std::vector<std::string> texts;
        bool matches = true;
        for (size_t i = 0; i < tokens.size() && matches; ++i) {
            bool wantsText = statement.shape[i] == kText;
            matches = wantsText == tokens[i].isText &&
                      (wantsText || core::equalsIgnoringASCIICase(tokens[i].value, statement.shape[i]));
            if (matches && wantsText) texts.push_back(tokens[i].value);
        }
        if (matches) return statement.action(texts);
    }
    throw Failure{"this stand-in cannot run the statement: " + script};
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() != 2 || arguments[0] != "-e") {
        std::fprintf(stderr, "usage: osascript -e <statement>\n");
        return 1;
    }
    if (auto status = standins::runSystemEventsAppearanceScript(arguments[1])) return *status;
    try {
        if (auto result = runStatement(arguments[1])) std::printf("%s\n", result->c_str());
        return 0;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "osascript: %s\n", failure.message.c_str());
        return 1;
    }
}
