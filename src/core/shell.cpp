#include "core/shell.h"

#include "core/errors.h"
#include "core/text.h"
#include "platform/process.h"

#include <cmath>

namespace mivora::core {

std::string shellQuote(std::string_view operand) {
    // A program's arguments end at a NUL: the line would run cut short, on a
    // path other than the one the data named.
    if (operand.find('\0') != std::string_view::npos)
        throw CLIError::shellFailed("Failed to start process: an operand holds a NUL character");
    std::string quoted = "'";
    for (char c : operand) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += "'";
    return quoted;
}

std::string runShell(const std::string& command, double timeoutSeconds, const std::string& workingDirectory) {
    auto outcome = platform::runCapturing({"/bin/zsh", "-c", command}, timeoutSeconds,
                                          {.workingDirectory = workingDirectory});
    if (!outcome.run) throw CLIError::shellFailed("Failed to start process: " + outcome.launchError);
    const auto& run = *outcome.run;
    if (run.timedOut) {
        auto whole = static_cast<long long>(std::trunc(timeoutSeconds));
        throw CLIError::shellFailed("Command timed out after " + std::to_string(whole) + "s");
    }
    std::string out = isValidUTF8(run.standardOutput) ? trimWhitespace(run.standardOutput) : "";
    if (run.status == 0) return out;
    std::string err = isValidUTF8(run.standardError) ? trimWhitespace(run.standardError) : "";
    throw CLIError::shellFailed("Exit code " + std::to_string(run.status) + ": " + (err.empty() ? out : err));
}

} // namespace mivora::core
