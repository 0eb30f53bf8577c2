// The error types of the system. Each carries its whole user-facing message as
// what(); the frame catches them once, at the top, and prints "Error: " + what().
#pragma once

#include <stdexcept>
#include <string>

namespace mivora::core {

// Base of every error whose message is shown to the user as it stands.
class MessageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The general error of the tool.
class CLIError : public MessageError {
public:
    enum class Kind { shellFailed, setupIncomplete, fileNotFound, invalidConfig, iconSetFailed };

    CLIError(Kind kind, const std::string& message) : MessageError(message), kind_(kind) {}
    Kind kind() const { return kind_; }

    static CLIError shellFailed(const std::string& m) { return {Kind::shellFailed, m}; }
    static CLIError setupIncomplete(const std::string& m) { return {Kind::setupIncomplete, m}; }
    static CLIError fileNotFound(const std::string& m) { return {Kind::fileNotFound, m}; }
    static CLIError invalidConfig(const std::string& m) { return {Kind::invalidConfig, m}; }
    static CLIError iconSetFailed(const std::string& m) { return {Kind::iconSetFailed, m}; }

private:
    Kind kind_;
};

// The error of application lookup.
class AppDiscoveryError : public MessageError {
public:
    enum class Kind { appNotFound, ambiguousApp };

    AppDiscoveryError(Kind kind, const std::string& message) : MessageError(message), kind_(kind) {}
    Kind kind() const { return kind_; }

    static AppDiscoveryError appNotFound(const std::string& m) { return {Kind::appNotFound, m}; }
    static AppDiscoveryError ambiguousApp(const std::string& m) { return {Kind::ambiguousApp, m}; }

private:
    Kind kind_;
};

// A usage problem found while a command runs: "Error: " + message, then the
// command's usage, exit status 64.
class ValidationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Ends the process with a status and no further output (the command has
// already printed its own refusal).
class ExitCode : public std::exception {
public:
    explicit ExitCode(int code) : code_(code) {}
    int code() const { return code_; }
    const char* what() const noexcept override { return "exit"; }
    static ExitCode failure() { return ExitCode(1); }

private:
    int code_;
};

} // namespace mivora::core
