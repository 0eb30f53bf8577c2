#include "support/property_list_forms.h"

#include <gtest/gtest.h>
#include <unicode/unistr.h>

namespace mivora::testing {

const std::vector<NamedPlistTextForm>& plistTextForms() {
    static const std::vector<NamedPlistTextForm> forms = {
        {"UTF-8", PlistTextForm::utf8},
        {"UTF-8 with a byte-order mark", PlistTextForm::utf8WithByteOrderMark},
        {"UTF-16LE with a byte-order mark", PlistTextForm::utf16LittleEndian},
        {"UTF-16BE with a byte-order mark", PlistTextForm::utf16BigEndian},
        {"UTF-16LE by its declaration", PlistTextForm::utf16LittleEndianNoMark},
        {"UTF-16BE by its declaration", PlistTextForm::utf16BigEndianNoMark},
    };
    return forms;
}

std::string plistText(const platform::Plist& plist, PlistTextForm form) {
    return plistText(plist.toXML(), form);
}

std::string plistText(std::string text, PlistTextForm form) {
    if (form == PlistTextForm::utf8) return text;
    if (form == PlistTextForm::utf8WithByteOrderMark) return "\xEF\xBB\xBF" + text;
    const std::string declared = "encoding=\"UTF-8\"";
    auto at = text.find(declared);
    if (at != std::string::npos) text.replace(at, declared.size(), "encoding=\"UTF-16\"");
    const bool big = form == PlistTextForm::utf16BigEndian || form == PlistTextForm::utf16BigEndianNoMark;
    const bool mark = form == PlistTextForm::utf16LittleEndian || form == PlistTextForm::utf16BigEndian;
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(text);
    std::string bytes = mark ? (big ? "\xFE\xFF" : "\xFF\xFE") : "";
    for (int32_t i = 0; i < unicode.length(); ++i) {
        const char16_t unit = unicode.charAt(i);
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += big ? high : low;
        bytes += big ? low : high;
    }
    return bytes;
}

void rewritePlist(const Sandbox& sandbox, const std::string& path, PlistTextForm form) {
    auto bytes = sandbox.readFile(path);
    auto plist = bytes ? platform::parsePropertyList(*bytes) : std::nullopt;
    ASSERT_TRUE(plist) << path;
    sandbox.writeFile(path, plistText(*plist, form));
}

} // namespace mivora::testing
