#include "platform/process_limits.h"

#include <csignal>

namespace mivora::platform {

void ignoreFileSizeLimitSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace mivora::platform
