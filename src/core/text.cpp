#include "core/text.h"

#include "platform/environment.h"
#include "platform/locale_names.h"
#include "platform/utf8.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <unicode/brkiter.h>
#include <unicode/bytestream.h>
#include <unicode/coll.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace mivora::core {

namespace {

bool isASCII(std::string_view text) {
    for (unsigned char c : text) {
        if (c >= 0x80) return false;
    }
    return true;
}

icu::StringPiece piece(std::string_view text) {
    return {text.data(), static_cast<int32_t>(text.size())};
}

const icu::Normalizer2* composition() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    return U_SUCCESS(status) ? nfc : nullptr;
}

// Space separators (Zs), which every kind of trim removes.
bool isSpaceSeparator(char32_t c) {
    return c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool isBlank(char32_t c) {
    return c == '\t' || isSpaceSeparator(c);
}

template <typename Predicate> std::string trimmed(std::string_view text, Predicate isTrimmed) {
    // ICU's offsets are 32-bit; no text the tool trims comes near that size.
    if (text.size() > INT32_MAX) return std::string(text);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    auto length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !isTrimmed(static_cast<char32_t>(c))) break;
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, start, previous, c);
        if (c < 0 || !isTrimmed(static_cast<char32_t>(c))) break;
        end = previous;
    }
    return std::string(text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
}

} // namespace

bool isValidUTF8(std::string_view text) {
    return platform::isValidUTF8(text);
}

std::string validUTF8(std::string_view text) {
    if (isValidUTF8(text)) return std::string(text);
    std::string repaired;
    repaired.reserve(text.size() + 8);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    size_t at = 0;
    while (at < text.size()) {
        if (bytes[at] < 0x80) {
            repaired += text[at++];
            continue;
        }
        // One scalar is at most four bytes; U8_NEXT skips a maximal ill-formed subpart.
        int32_t length = static_cast<int32_t>(std::min<size_t>(text.size() - at, 4));
        int32_t i = 0;
        UChar32 c;
        U8_NEXT(bytes + at, i, length, c);
        if (c < 0)
            repaired += "\xEF\xBF\xBD";
        else
            repaired.append(text.data() + at, static_cast<size_t>(i));
        at += static_cast<size_t>(i);
    }
    return repaired;
}

std::vector<std::string> validUTF8(std::vector<std::string> texts) {
    for (auto& text : texts) {
        if (!isValidUTF8(text)) text = validUTF8(text);
    }
    return texts;
}

std::string canonicalForm(std::string_view text) {
    if (isASCII(text)) return std::string(text);
    const icu::Normalizer2* nfc = composition();
    if (nfc == nullptr || text.size() > INT32_MAX) return std::string(text);
    std::string valid = validUTF8(text);
    UErrorCode status = U_ZERO_ERROR;
    if (nfc->isNormalizedUTF8(piece(valid), status) && U_SUCCESS(status)) return valid;
    status = U_ZERO_ERROR;
    std::string composed;
    icu::StringByteSink<std::string> sink(&composed, static_cast<int32_t>(valid.size()));
    nfc->normalizeUTF8(0, piece(valid), sink, nullptr, status);
    return U_SUCCESS(status) ? composed : valid;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (isASCII(a) && isASCII(b)) return false;
    return canonicalForm(a) == canonicalForm(b);
}

int compareCanonically(std::string_view a, std::string_view b) {
    // Byte order of UTF-8 is Unicode scalar order.
    int result = isASCII(a) && isASCII(b) ? a.compare(b) : canonicalForm(a).compare(canonicalForm(b));
    return result < 0 ? -1 : (result == 0 ? 0 : 1);
}

bool isWhitespaceOrNewline(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029 || isSpaceSeparator(c);
}

std::string trimWhitespace(std::string_view text) {
    return trimmed(text, isWhitespaceOrNewline);
}

std::string trimBlanks(std::string_view text) {
    return trimmed(text, isBlank);
}

std::string lowercased(std::string_view text) {
    if (isASCII(text)) {
        std::string result(text);
        for (char& c : result) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return result;
    }
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(piece(text));
    unicode.toLower(icu::Locale::getRoot());
    if (const icu::Normalizer2* nfc = composition()) {
        UErrorCode status = U_ZERO_ERROR;
        icu::UnicodeString composed = nfc->normalize(unicode, status);
        if (U_SUCCESS(status)) unicode = composed;
    }
    std::string result;
    unicode.toUTF8String(result);
    return result;
}

std::vector<std::string> splitWords(std::string_view text) {
    std::string lower = lowercased(text);
    std::vector<std::string> words;
    std::string current;
    const auto* bytes = reinterpret_cast<const uint8_t*>(lower.data());
    auto length = static_cast<int32_t>(lower.size());
    int32_t i = 0;
    while (i < length) {
        int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        bool keep = c >= 0 && (u_isUAlphabetic(c) || u_hasBinaryProperty(c, UCHAR_ALPHABETIC) ||
                               (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_N_MASK | U_GC_M_MASK)) != 0);
        if (keep) {
            current.append(lower, static_cast<size_t>(start), static_cast<size_t>(i - start));
        } else if (!current.empty()) {
            words.push_back(std::move(current));
            current.clear();
        }
    }
    if (!current.empty()) words.push_back(std::move(current));
    return words;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

bool equalsIgnoringASCIICase(std::string_view text, std::string_view word) {
    auto folded = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return text.size() == word.size() && std::equal(text.begin(), text.end(), word.begin(),
                                                    [&](char a, char b) { return folded(a) == folded(b); });
}

std::vector<std::string> splitString(std::string_view text, char separator, bool dropEmpty) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string_view::npos) end = text.size();
        if (!(dropEmpty && end == start)) parts.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string joinStrings(const std::vector<std::string>& parts, std::string_view separator) {
    std::string result;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) result += separator;
        result += parts[i];
    }
    return result;
}

namespace {
icu::Collator* caseInsensitiveCollator() {
    static const std::unique_ptr<icu::Collator> collator = [] {
        auto locale = platform::usableLocale(platform::userLocaleName(platform::LocaleCategory::collation));
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> made;
        // No usable locale named ("C", "POSIX", unset, unknown): the root collation,
        // never the POSIX tailoring, which puts every capital before every small letter.
        if (locale) made.reset(icu::Collator::createInstance(*locale, status));
        if (!locale || U_FAILURE(status) || !made) {
            status = U_ZERO_ERROR;
            made.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        }
        if (made) {
            // Secondary strength: accents count, letter case does not.
            made->setStrength(icu::Collator::SECONDARY);
            // Decomposed and precomposed forms of a name compare equal.
            status = U_ZERO_ERROR;
            made->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
        }
        return made;
    }();
    return collator.get();
}
} // namespace

int localizedCaseInsensitiveCompare(std::string_view a, std::string_view b) {
    icu::Collator* collator = caseInsensitiveCollator();
    if (collator == nullptr) {
        std::string la = lowercased(a), lb = lowercased(b);
        return la < lb ? -1 : (la == lb ? 0 : 1);
    }
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult result = collator->compareUTF8(piece(a), piece(b), status);
    if (U_FAILURE(status)) return 0;
    return result == UCOL_LESS ? -1 : (result == UCOL_EQUAL ? 0 : 1);
}

std::string localizedCaseInsensitiveSortKey(std::string_view text) {
    const icu::Collator* collator = caseInsensitiveCollator();
    if (collator == nullptr) return lowercased(text);
    // Ill-formed bytes read as U+FFFD here, as they do in compareUTF8.
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(piece(text));
    std::string key(64, '\0');
    for (;;) {
        int32_t length = collator->getSortKey(unicode, reinterpret_cast<uint8_t*>(key.data()),
                                              static_cast<int32_t>(key.size()));
        if (length <= 0) return lowercased(text);
        if (static_cast<size_t>(length) <= key.size()) {
            key.resize(static_cast<size_t>(length) - 1); // without its closing NUL
            return key;
        }
        key.resize(static_cast<size_t>(length));
    }
}

std::vector<std::string> characters(std::string_view text) {
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(piece(text));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> iterator(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    std::vector<std::string> pieces;
    auto append = [&](int32_t start, int32_t end) {
        std::string piece;
        unicode.tempSubStringBetween(start, end).toUTF8String(piece);
        pieces.push_back(std::move(piece));
    };
    if (U_FAILURE(status) || !iterator) {
        // Without break rules every scalar stands alone.
        for (int32_t i = 0; i < unicode.length(); i = unicode.moveIndex32(i, 1))
            append(i, unicode.moveIndex32(i, 1));
        return pieces;
    }
    iterator->setText(unicode);
    int32_t start = iterator->first();
    for (int32_t end = iterator->next(); end != icu::BreakIterator::DONE; end = iterator->next()) {
        append(start, end);
        start = end;
    }
    return pieces;
}

size_t characterCount(std::string_view text) {
    return characters(text).size();
}

std::string uppercased(std::string_view text) {
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(piece(text));
    unicode.toUpper(icu::Locale::getRoot());
    std::string result;
    unicode.toUTF8String(result);
    return result;
}

} // namespace mivora::core
