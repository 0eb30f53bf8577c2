// Whether bytes are well-formed UTF-8: the one check every reader of outside
// text makes before the text goes on (to JSON, to the user); and the one
// decoder of the wider Unicode forms that JSON and property lists may come in.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace mivora::platform {

bool isValidUTF8(std::string_view text);

enum class UnicodeForm { utf16BigEndian, utf16LittleEndian, utf32BigEndian, utf32LittleEndian };

// Bytes in a unit's width: 2 for UTF-16, 4 for UTF-32.
size_t unitWidth(UnicodeForm form);

// UTF-16 or UTF-32 text (its byte-order mark already dropped) as UTF-8; nothing
// when a unit is malformed (a lone surrogate, a value past U+10FFFF) or the
// text ends inside one, with `faultAt` (when given) set to that unit's offset.
std::optional<std::string> utf8FromWideText(std::string_view bytes, UnicodeForm form,
                                            size_t* faultAt = nullptr);

} // namespace mivora::platform
