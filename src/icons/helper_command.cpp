#include "icons/helper_command.h"

#include "core/errors.h"
#include "core/shell.h"
#include "platform/filesystem.h"

namespace mivora::icons {

std::string helperCommandLine(const std::string& helperScript, const std::string& fileicon,
                              const std::string& target, const std::string& lastOperand) {
    return "sudo -n " + core::shellQuote(helperScript) + " " + core::shellQuote(fileicon) + " " +
           core::shellQuote(target) + " " + core::shellQuote(lastOperand);
}

void requireHelperFiles(const std::string& helperScript, const std::string& fileicon, const char* message) {
    if (!platform::fileExists(helperScript) || !platform::fileExists(fileicon))
        throw core::CLIError::setupIncomplete(message);
}

} // namespace mivora::icons
