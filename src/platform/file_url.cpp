#include "platform/file_url.h"

#include <cctype>

namespace mivora::platform {

namespace {

bool keptInPath(unsigned char c) {
    if (std::isalnum(c)) return true;
    switch (c) {
    case '-':
    case '.':
    case '_':
    case '~': // unreserved
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
    case ':':
    case '@':
    case '/':
        return true;
    default:
        return false;
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string fileURLString(std::string_view path, bool isDirectory) {
    static const char* digits = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        if (keptInPath(c)) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += digits[c >> 4];
            url += digits[c & 0x0F];
        }
    }
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
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(rest[i]);
        if (c <= ' ' || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' || c == '`' ||
            c == '{' || c == '|' || c == '}')
            return std::nullopt; // not allowed unescaped in a URL
        if (c == '%') {
            if (i + 2 >= rest.size()) return std::nullopt;
            int high = hexValue(rest[i + 1]);
            int low = hexValue(rest[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            path += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            path += static_cast<char>(c);
        }
    }
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

} // namespace mivora::platform
