#include "platform/extended_attributes.h"

#include <cerrno>
#include <sys/types.h>
#include <sys/xattr.h>
#include <vector>

namespace mivora::platform {

namespace {

// Unprivileged attributes must carry the "user." prefix on Linux.
std::string linuxAttributeName(const std::string& name) {
    return "user." + name;
}

} // namespace

std::optional<std::string> readExtendedAttribute(const std::string& path, const std::string& name,
                                                 size_t capacity) {
    std::vector<char> buffer(capacity);
    ssize_t got = ::getxattr(path.c_str(), linuxAttributeName(name).c_str(), buffer.data(), buffer.size());
    if (got < 0) return std::nullopt;
    return std::string(buffer.data(), static_cast<size_t>(got));
}

bool writeExtendedAttribute(const std::string& path, const std::string& name, const std::string& value) {
    return ::setxattr(path.c_str(), linuxAttributeName(name).c_str(), value.data(), value.size(), 0) == 0;
}

bool removeExtendedAttribute(const std::string& path, const std::string& name) {
    return ::removexattr(path.c_str(), linuxAttributeName(name).c_str()) == 0 || errno == ENODATA;
}

} // namespace mivora::platform
