// Standard Base64 (RFC 4648 alphabet with "=" padding), the form in which JSON
// documents of the platform carry bytes. The decoder is strict: no white space,
// no characters outside the alphabet, and exactly the padding the length needs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mivora::core {

std::string encodeBase64(std::string_view bytes);

struct Base64Decoding {
    std::optional<std::string> bytes; // set when the text is valid
    std::string problem;              // otherwise what is wrong and where, e.g. "white space at character 77"
};

Base64Decoding decodeBase64(std::string_view text);

} // namespace mivora::core
