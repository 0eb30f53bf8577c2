// "file:" URLs of local paths, in the form the Dock stores them
// ("file:///Applications/Mivora%20Beta.app/").
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mivora::platform {

// The absolute URL text of a path: "file://" + the percent-encoded path, with
// a trailing "/" for a folder.
std::string fileURLString(std::string_view path, bool isDirectory);

// The decoded path of a "file:" URL without one trailing "/" (the root stays
// "/"); nothing when the text is not a well-formed URL or another scheme.
std::optional<std::string> filePathOfURL(std::string_view url);

} // namespace mivora::platform
