#include "icons/helper_command.h"

#include "core/shell.h"

namespace mivora::icons {

std::string helperCommandLine(const std::string& helperScript, const std::string& fileicon,
                              const std::string& target, const std::string& lastOperand) {
    return "sudo -n " + core::shellQuote(helperScript) + " " + core::shellQuote(fileicon) + " " +
           core::shellQuote(target) + " " + core::shellQuote(lastOperand);
}

} // namespace mivora::icons
