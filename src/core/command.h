// What a command is: a type that holds its configuration (name, abstract,
// discussion, subcommands), declares its arguments, options and flags bound to
// its own fields, and runs. The frame in src/cli builds the parser from these
// declarations; adding a command never touches the frame.
#pragma once

#include <charconv>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace mivora::core {

class Command;
using CommandFactory = std::unique_ptr<Command> (*)();

template <class T> std::unique_ptr<Command> makeCommand() {
    return std::make_unique<T>();
}

struct CommandConfiguration {
    std::string commandName;
    std::string abstract;
    std::string discussion;
    std::string version; // the root's only
    std::vector<CommandFactory> subcommands;
    int defaultSubcommand = -1; // index into subcommands, -1 for none
};

// How a value type is read from and shown on the command line. Specialise it for
// a closed list of values (allValues non-empty) to get checking and completion.
template <class T> struct ArgumentValue;

template <> struct ArgumentValue<std::string> {
    static std::optional<std::string> parse(const std::string& text) { return text; }
    static std::string describe(const std::string& value) { return value; }
    static std::vector<std::string> allValues() { return {}; }
};

// Whole numbers in the platform's 64-bit range: "-3", "+7"; no blanks, no
// fraction, nothing out of range (those are usage errors of the parser).
template <std::signed_integral T> struct ArgumentValue<T> {
    static std::optional<T> parse(const std::string& text) {
        T value = 0;
        const char* begin = text.data();
        if (!text.empty() && text[0] == '+') {
            ++begin;
            if (text.size() > 1 && text[1] == '-') return std::nullopt; // "+-5" is no number
        }
        auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size() || begin == end) return std::nullopt;
        return value;
    }
    static std::string describe(T value) { return std::to_string(value); }
    static std::vector<std::string> allValues() { return {}; }
};

template <> struct ArgumentValue<double> {
    static std::optional<double> parse(const std::string& text) {
        if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
        char* end = nullptr;
        double value = std::strtod(text.c_str(), &end);
        if (end != text.c_str() + text.size()) return std::nullopt;
        return value;
    }
    static std::string describe(double value) {
        // The way the platform prints a floating-point default: "2.0", "0.5".
        if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e16) {
            return std::to_string(static_cast<long long>(value)) + ".0";
        }
        char buffer[64];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        return std::string(buffer, result.ptr);
    }
    static std::vector<std::string> allValues() { return {}; }
};

enum class ArgumentKind { positional, option, flag };

struct ArgumentSpec {
    ArgumentKind kind = ArgumentKind::flag;
    std::string name; // kebab-case: "app-path", "no-refresh"
    char shortName = 0;
    std::string help;
    bool required = false;
    bool takesNumber = false; // then a word such as "-1" is its value, not an option
    std::optional<std::string> defaultDescription;
    std::vector<std::string> allowedValues;
    bool completesFiles = false;
    std::vector<std::string> completionValues;      // offered by shells besides allowedValues
    std::function<bool(const std::string&)> assign; // positional and option: false when the text is invalid
    std::function<void()> set;                      // flag

    std::string valueLabel() const { return "<" + name + ">"; }
    std::string longName() const { return "--" + name; }
    // "'--wait <wait>'" style: how messages name this argument.
    std::string displayName() const {
        if (kind == ArgumentKind::positional) return valueLabel();
        if (kind == ArgumentKind::flag) return longName();
        return longName() + " " + valueLabel();
    }
};

struct ArgumentOptions {
    char shortName = 0;
    bool hasDefault = false;                   // the field's initial value is the default
    bool completesFiles = false;               // shells complete file names for it
    std::vector<std::string> completionValues; // words shells offer for a free-text value
};

namespace detail {
template <class T> struct OptionalTraits {
    using Value = T;
    static constexpr bool isOptional = false;
};
template <class T> struct OptionalTraits<std::optional<T>> {
    using Value = T;
    static constexpr bool isOptional = true;
};
} // namespace detail

// The declarations of one command, in declaration order.
class Arguments {
public:
    template <class T>
    void positional(std::string name, T& field, std::string help, ArgumentOptions options = {}) {
        add<T>(ArgumentKind::positional, std::move(name), field, std::move(help), options);
    }

    template <class T>
    void option(std::string name, T& field, std::string help, ArgumentOptions options = {}) {
        add<T>(ArgumentKind::option, std::move(name), field, std::move(help), options);
    }

    void flag(std::string name, bool& field, std::string help, ArgumentOptions options = {}) {
        ArgumentSpec spec;
        spec.kind = ArgumentKind::flag;
        spec.name = std::move(name);
        spec.shortName = options.shortName;
        spec.help = std::move(help);
        spec.set = [&field] { field = true; };
        specs_.push_back(std::move(spec));
    }

    const std::vector<ArgumentSpec>& specs() const { return specs_; }

private:
    template <class T>
    void add(ArgumentKind kind, std::string name, T& field, std::string help, ArgumentOptions options) {
        using Traits = detail::OptionalTraits<T>;
        using Value = typename Traits::Value;
        ArgumentSpec spec;
        spec.kind = kind;
        spec.name = std::move(name);
        spec.shortName = options.shortName;
        spec.help = std::move(help);
        spec.completesFiles = options.completesFiles;
        spec.completionValues = options.completionValues;
        spec.allowedValues = ArgumentValue<Value>::allValues();
        spec.takesNumber = std::is_arithmetic_v<Value>;
        if constexpr (Traits::isOptional) {
            spec.required = false;
        } else {
            spec.required = !options.hasDefault;
            if (options.hasDefault) spec.defaultDescription = ArgumentValue<Value>::describe(field);
        }
        spec.assign = [&field](const std::string& text) {
            auto value = ArgumentValue<Value>::parse(text);
            if (!value) return false;
            field = std::move(*value);
            return true;
        };
        specs_.push_back(std::move(spec));
    }

    std::vector<ArgumentSpec> specs_;
};

class Command {
public:
    virtual ~Command() = default;
    virtual CommandConfiguration configuration() const = 0;
    virtual void declare(Arguments& /*arguments*/) {}
    // A command with subcommands and no default one never runs: the frame shows its help.
    virtual void run() {}
};

} // namespace mivora::core
