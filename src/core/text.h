// Unicode text rules shared by every room: valid UTF-8, canonical equivalence,
// white space, lower-casing, word splitting, the user's locale-aware
// case-insensitive order. All text is UTF-8.
//
// Text compares as the platform's strings do: a decomposed and a precomposed
// form of the same text are the same text. Texts keep their own bytes for
// printing and for use on disk; comparisons go through canonicalForm (or
// through lowercased and splitWords, which return canonical forms).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mivora::core {

bool isValidUTF8(std::string_view text);
// The text with every ill-formed sequence replaced by U+FFFD, one per maximal
// ill-formed subpart, as the platform decodes bytes into a string. Valid text
// comes back unchanged.
std::string validUTF8(std::string_view text);
std::vector<std::string> validUTF8(std::vector<std::string> texts);

// The canonically composed form (NFC) of a text. Quick for ASCII and for text
// that is already composed.
std::string canonicalForm(std::string_view text);
// Equality by canonical equivalence.
bool canonicallyEqual(std::string_view a, std::string_view b);
// The platform's plain order of texts: Unicode scalar order of the canonical
// forms, case-sensitive, no locale. Negative, 0 or positive.
int compareCanonically(std::string_view a, std::string_view b);
// compareCanonically as a "less than", for sorts.
struct CanonicalOrder {
    bool operator()(std::string_view a, std::string_view b) const { return compareCanonically(a, b) < 0; }
};

// Unicode white space and line breaks: the space separators, tab, the line
// feed to carriage return controls, NEL, and the line and paragraph separators.
bool isWhitespaceOrNewline(char32_t c);
// The text trimmed of white space and line breaks at both ends.
std::string trimWhitespace(std::string_view text);
// The text trimmed of blanks (the space separators and tab, not line breaks).
std::string trimBlanks(std::string_view text);

// Full Unicode lower-casing (locale-independent, like the platform's default),
// in canonical form.
std::string lowercased(std::string_view text);
// Full Unicode upper-casing ("ß" becomes "SS"), locale-independent.
std::string uppercased(std::string_view text);

// Lower-cases, then cuts at every character that is neither a letter nor a
// number (by Unicode category), dropping empty pieces. Words are canonical.
std::vector<std::string> splitWords(std::string_view text);

// Byte-wise tests, for paths and fixed ASCII words; compare user text through
// its canonical or lower-cased forms first.
bool startsWith(std::string_view text, std::string_view prefix);
bool endsWith(std::string_view text, std::string_view suffix);
bool contains(std::string_view text, std::string_view part);
// Equality with A-Z and a-z taken alike, every other byte as itself: for
// keywords of fixed ASCII shapes (no text other than ASCII equals one).
bool equalsIgnoringASCIICase(std::string_view text, std::string_view word);
std::vector<std::string> splitString(std::string_view text, char separator, bool dropEmpty);
std::string joinStrings(const std::vector<std::string>& parts, std::string_view separator);

// Compares two names by the user's collation locale (the root collation when
// none is named), ignoring case, by canonical equivalence. Negative, 0 or positive.
int localizedCaseInsensitiveCompare(std::string_view a, std::string_view b);
// A key of the same order: the plain byte order of two names' keys is the
// order localizedCaseInsensitiveCompare gives them, and names it calls equal
// have equal keys. For sorting many names, each key made once; safe to make
// on several threads at a time.
std::string localizedCaseInsensitiveSortKey(std::string_view text);

// Number of user-perceived characters (grapheme clusters).
size_t characterCount(std::string_view text);
// The user-perceived characters of a text, in order.
std::vector<std::string> characters(std::string_view text);

} // namespace mivora::core
