// The one rule for turning a name or path read back from stored data (the icon
// cache, the proxy records, a collection manifest) into a path the tool will
// delete, replace, read or hand to the helper: it must stay inside the folder
// it belongs to. A hand-edited, damaged or copied record can then at worst
// name nothing; it never reaches a file outside the tool's own folders.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mivora::core {

// One path component: valid UTF-8, not empty, no "/", no NUL, not "." or "..".
bool isSinglePathComponent(std::string_view name);

// Whether `path`, resolved lexically ("." and ".." and repeated "/"), lies
// strictly below `root` (never `root` itself). No link is looked at.
bool isLexicallyInside(std::string_view path, std::string_view root);

// `path` when it is absolute, holds no NUL, and lies strictly inside `root`
// both lexically and after the links of its existing part are resolved, when
// `root` itself is not a symbolic link and `path` does not name one; nothing
// otherwise. The result is the lexically standardised path.
std::optional<std::string> containedPath(std::string_view path, const std::string& root);

// The resolved location of `path` when a regular file is there and it lies
// strictly inside the resolved location of `root`, links anywhere followed;
// nothing otherwise. For a folder whose owner arranges its files with links of
// its own (an application bundle's icon file): only where a link leads counts.
std::optional<std::string> resolvedFileInside(const std::string& path, const std::string& root);

// `root`/`name` under the same rule, for a stored name that must be a single
// path component; nothing when it is not.
std::optional<std::string> containedChild(const std::string& root, std::string_view name);

} // namespace mivora::core
