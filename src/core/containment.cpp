#include "core/containment.h"

#include "core/text.h"
#include "platform/filesystem.h"

namespace mivora::core {

namespace {

// The links of the longest existing leading part resolved, the rest appended
// as it stands (it names nothing yet, so it holds no link).
std::string resolvingExistingPart(const std::string& path) {
    std::string existing = path;
    std::string rest;
    while (true) {
        if (auto resolved = platform::resolveSymbolicLinks(existing))
            return rest.empty() ? *resolved : platform::joinPath(*resolved, rest);
        std::string parent = platform::parentPath(existing);
        if (parent.empty() || parent == existing) return path;
        std::string last = platform::lastPathComponent(existing);
        rest = rest.empty() ? last : last + "/" + rest;
        existing = parent;
    }
}

bool isStrictlyBelow(const std::string& path, const std::string& root) {
    if (root == "/") return path.size() > 1 && path.front() == '/';
    return path.size() > root.size() + 1 && startsWith(path, root) && path[root.size()] == '/';
}

} // namespace

bool isSinglePathComponent(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos && isValidUTF8(name);
}

bool isLexicallyInside(std::string_view path, std::string_view root) {
    if (path.find('\0') != std::string_view::npos) return false;
    return isStrictlyBelow(platform::standardizePath(path), platform::standardizePath(root));
}

std::optional<std::string> containedPath(std::string_view path, const std::string& root) {
    if (path.empty() || path.front() != '/' || root.empty() || root.front() != '/') return std::nullopt;
    if (path.find('\0') != std::string_view::npos || root.find('\0') != std::string::npos)
        return std::nullopt;
    const std::string lexical = platform::standardizePath(path);
    const std::string lexicalRoot = platform::standardizePath(root);
    if (!isStrictlyBelow(lexical, lexicalRoot)) return std::nullopt;
    // A link planted at the folder itself, or at what the path names, is never followed.
    if (platform::isSymbolicLink(lexicalRoot) || platform::isSymbolicLink(lexical)) return std::nullopt;
    // A link further down may point anywhere; what it reaches must still be inside.
    if (!isStrictlyBelow(resolvingExistingPart(lexical), resolvingExistingPart(lexicalRoot)))
        return std::nullopt;
    return lexical;
}

std::optional<std::string> resolvedFileInside(const std::string& path, const std::string& root) {
    if (path.find('\0') != std::string::npos || root.find('\0') != std::string::npos) return std::nullopt;
    auto resolved = platform::resolveSymbolicLinks(path);
    auto resolvedRoot = platform::resolveSymbolicLinks(root);
    if (!resolved || !resolvedRoot || !isStrictlyBelow(*resolved, *resolvedRoot)) return std::nullopt;
    if (!platform::isRegularFile(*resolved)) return std::nullopt;
    return resolved;
}

std::optional<std::string> containedChild(const std::string& root, std::string_view name) {
    if (!isSinglePathComponent(name)) return std::nullopt;
    return containedPath(platform::joinPath(root, name), root);
}

} // namespace mivora::core
