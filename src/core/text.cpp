#include "core/text.h"

#include <memory>
#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include "platform/environment.h"
#include "platform/utf8.h"

namespace mivora::core {

bool isValidUTF8(std::string_view text) { return platform::isValidUTF8(text); }

std::string lowercased(std::string_view text) {
    bool ascii = true;
    for (unsigned char c : text) ascii = ascii && c < 0x80;
    if (ascii) {
        std::string result(text);
        for (char& c : result) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return result;
    }
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toLower(icu::Locale::getRoot());
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

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

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
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> made(
            icu::Collator::createInstance(icu::Locale(platform::userLocaleName().c_str()), status));
        if (U_FAILURE(status) || !made) {
            status = U_ZERO_ERROR;
            made.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        }
        // Secondary strength: accents count, letter case does not.
        if (made) made->setStrength(icu::Collator::SECONDARY);
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
    UCollationResult result = collator->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                                                     icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
    if (U_FAILURE(status)) return 0;
    return result == UCOL_LESS ? -1 : (result == UCOL_EQUAL ? 0 : 1);
}

std::vector<std::string> characters(std::string_view text) {
    icu::UnicodeString unicode =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
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

size_t characterCount(std::string_view text) { return characters(text).size(); }

std::string uppercased(std::string_view text) {
    icu::UnicodeString unicode =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toUpper(icu::Locale::getRoot());
    std::string result;
    unicode.toUTF8String(result);
    return result;
}

} // namespace mivora::core
