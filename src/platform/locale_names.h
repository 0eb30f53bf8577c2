// The one rule from a user's locale name ("de_DE.UTF-8", "sv_SE", "C") to the
// ICU locale that every date formatter, number formatter and collator of the
// tool is built from.
#pragma once

#include <optional>
#include <string_view>
#include <unicode/locid.h>

namespace mivora::platform {

// The locale a name stands for, its encoding and modifier ("." and "@" onwards)
// dropped; nothing when it names no locale that ICU holds data for: empty, "C"
// or "POSIX", a name ICU cannot parse (a language field longer than it takes,
// a Windows-style "Chinese (Simplified)_China.936"), a language it has no data
// for, or a script it has none for in that language. Nothing means the forms of
// an unset locale, so a name ICU would only half understand never mixes them.
std::optional<icu::Locale> usableLocale(std::string_view name);

} // namespace mivora::platform
