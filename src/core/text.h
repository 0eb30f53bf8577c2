// Unicode text rules shared by every room: lower-casing, word splitting, the
// user's locale-aware case-insensitive order. All text is UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mivora::core {

bool isValidUTF8(std::string_view text);

// Full Unicode lower-casing (locale-independent, like the platform's default).
std::string lowercased(std::string_view text);
// Full Unicode upper-casing ("ß" becomes "SS"), locale-independent.
std::string uppercased(std::string_view text);

// Lower-cases, then cuts at every character that is neither a letter nor a
// number (by Unicode category), dropping empty pieces.
std::vector<std::string> splitWords(std::string_view text);

bool startsWith(std::string_view text, std::string_view prefix);
bool endsWith(std::string_view text, std::string_view suffix);
bool contains(std::string_view text, std::string_view part);
std::vector<std::string> splitString(std::string_view text, char separator, bool dropEmpty);
std::string joinStrings(const std::vector<std::string>& parts, std::string_view separator);

// Compares two names by the user's locale, ignoring case. Negative, 0 or positive.
int localizedCaseInsensitiveCompare(std::string_view a, std::string_view b);

// Number of user-perceived characters (grapheme clusters).
size_t characterCount(std::string_view text);
// The user-perceived characters of a text, in order.
std::vector<std::string> characters(std::string_view text);

} // namespace mivora::core
