#include "platform/utf8.h"

#include <cstdint>
#include <unicode/utf8.h>

namespace mivora::platform {

bool isValidUTF8(std::string_view text) {
    int32_t i = 0;
    auto length = static_cast<int32_t>(text.size());
    if (static_cast<size_t>(length) != text.size()) return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    while (i < length) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

} // namespace mivora::platform

namespace mivora::platform {

namespace {

void appendUTF8(std::string& text, uint32_t scalar) {
    if (scalar < 0x80) {
        text += static_cast<char>(scalar);
    } else if (scalar < 0x800) {
        text += static_cast<char>(0xC0 | scalar >> 6);
        text += static_cast<char>(0x80 | (scalar & 0x3F));
    } else if (scalar < 0x10000) {
        text += static_cast<char>(0xE0 | scalar >> 12);
        text += static_cast<char>(0x80 | (scalar >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (scalar & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | scalar >> 18);
        text += static_cast<char>(0x80 | (scalar >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (scalar >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (scalar & 0x3F));
    }
}

} // namespace

size_t unitWidth(UnicodeForm form) {
    return form == UnicodeForm::utf32BigEndian || form == UnicodeForm::utf32LittleEndian ? 4 : 2;
}

std::optional<std::string> utf8FromWideText(std::string_view bytes, UnicodeForm form, size_t* faultAt) {
    const size_t width = unitWidth(form);
    const bool wide = width == 4;
    const bool big = form == UnicodeForm::utf16BigEndian || form == UnicodeForm::utf32BigEndian;
    auto unit = [&](size_t at) {
        uint32_t value = 0;
        for (size_t i = 0; i < width; ++i) {
            auto b = static_cast<unsigned char>(bytes[at + (big ? i : width - 1 - i)]);
            value = value << 8 | b;
        }
        return value;
    };
    auto fault = [&](size_t at) -> std::optional<std::string> {
        if (faultAt) *faultAt = at;
        return std::nullopt;
    };
    std::string text;
    text.reserve(bytes.size() / width);
    for (size_t at = 0; at < bytes.size(); at += width) {
        if (at + width > bytes.size()) return fault(at);
        uint32_t scalar = unit(at);
        if (!wide && scalar >= 0xD800 && scalar <= 0xDBFF) {
            if (at + 2 * width > bytes.size()) return fault(at);
            uint32_t low = unit(at + width);
            if (low < 0xDC00 || low > 0xDFFF) return fault(at);
            scalar = 0x10000 + ((scalar - 0xD800) << 10) + (low - 0xDC00);
            at += width;
        } else if ((scalar >= 0xD800 && scalar <= 0xDFFF) || scalar > 0x10FFFF) {
            return fault(at);
        }
        appendUTF8(text, scalar);
    }
    return text;
}

} // namespace mivora::platform
