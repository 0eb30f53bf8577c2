#include "core/paths.h"

#include "platform/environment.h"
#include "platform/filesystem.h"

namespace mivora::core {

std::string resolveAppPath(std::string_view text) {
    if (!text.empty() && text.front() == '/') return std::string(text);
    if (!text.empty() && text.front() == '~') return platform::expandTilde(text);
    return platform::standardizePath(platform::joinPath(platform::currentDirectory(), text));
}

} // namespace mivora::core
