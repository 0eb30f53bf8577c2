#include "platform/apple_script.h"

#include "platform/process.h"

namespace mivora::platform {

bool runAppleScript(const std::string& source) {
    auto program = findProgram("osascript");
    if (!program) return false;
    auto outcome = runCapturing({*program, "-e", source}, 15);
    return outcome.run && !outcome.run->timedOut && outcome.run->status == 0;
}

} // namespace mivora::platform
