#include "platform/file_url.h"

#include "platform/filesystem.h"

#include <cctype>

#include "platform/http.h"

namespace mivora::platform {

std::string fileURLString(std::string_view path, bool isDirectory) {
    // Unreserved characters, the sub-delimiters, ":", "@" and "/" stand as they are.
    std::string url = "file://" + percentEncoded(path, "-._~!$&'()*+,;=:@/");
    if (isDirectory && (url.size() == 7 || url.back() != '/')) url += '/';
    return url;
}

std::optional<std::string> filePathOfURL(std::string_view url) {
    auto colon = url.find(':');
    if (colon == std::string_view::npos || colon != 4) return std::nullopt;
    std::string scheme;
    for (char c : url.substr(0, colon))
        scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme != "file") return std::nullopt;
    std::string_view rest = url.substr(colon + 1);
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        auto slash = rest.find('/');
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash); // drop the host
    }
    auto end = rest.find_first_of("?#");
    if (end != std::string_view::npos) rest = rest.substr(0, end);
    for (unsigned char c : rest) {
        if (c <= ' ' || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' || c == '`' ||
            c == '{' || c == '|' || c == '}')
            return std::nullopt; // not allowed unescaped in a URL
    }
    auto decoded = percentDecoded(std::string(rest));
    if (!decoded) return std::nullopt;
    return droppingTrailingSlash(*decoded);
}

} // namespace mivora::platform
