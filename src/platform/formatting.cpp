#include "platform/formatting.h"

#include "platform/environment.h"
#include "platform/locale_names.h"

#include <array>
#include <memory>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/numberformatter.h>
#include <unicode/unistr.h>

namespace mivora::platform {

namespace {

constexpr double kReferenceDateUnixSeconds = 978307200.0;

// Wide enough for a byte count times 200 without overflow.
__extension__ typedef unsigned __int128 Wide;

// A name that gives no usable locale shows the POSIX English forms, as no locale does.
icu::Locale formattingLocale(const std::string& localeName) {
    return usableLocale(localeName).value_or(icu::Locale("en_US_POSIX"));
}

std::string formatDate(double secondsSinceReferenceDate, icu::DateFormat::EStyle style,
                       const std::string& localeName) {
    icu::Locale locale = formattingLocale(localeName);
    std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(style, style, locale));
    if (!format) return {};
    icu::UnicodeString text;
    format->format((secondsSinceReferenceDate + kReferenceDateUnixSeconds) * 1000.0, text);
    std::string result;
    text.toUTF8String(result);
    return result;
}

// `scaled` / 10^decimals as text in the user's locale, trailing zeros dropped.
std::string formatFigure(uint64_t scaled, int decimals, const std::string& localeName) {
    std::string digits = std::to_string(scaled);
    if (decimals > 0) {
        while (digits.size() <= static_cast<size_t>(decimals))
            digits.insert(0, "0");
        digits.insert(digits.size() - static_cast<size_t>(decimals), ".");
    }
    UErrorCode status = U_ZERO_ERROR;
    auto formatted =
        icu::number::NumberFormatter::withLocale(formattingLocale(localeName))
            .precision(icu::number::Precision::maxFraction(decimals))
            .formatDecimal(icu::StringPiece(digits.data(), static_cast<int32_t>(digits.size())), status);
    icu::UnicodeString text = formatted.toString(status);
    if (U_FAILURE(status)) return digits;
    std::string result;
    text.toUTF8String(result);
    return result;
}

} // namespace

std::string formatMediumDateTime(double secondsSinceReferenceDate, const std::string& localeName) {
    return formatDate(secondsSinceReferenceDate, icu::DateFormat::kMedium, localeName);
}

std::string formatShortDateTime(double secondsSinceReferenceDate, const std::string& localeName) {
    return formatDate(secondsSinceReferenceDate, icu::DateFormat::kShort, localeName);
}

std::string formatByteCount(uint64_t bytes, const std::string& localeName) {
    if (bytes == 0) return "Zero KB";
    if (bytes == 1) return "1 byte";
    if (bytes < 1000) return formatFigure(bytes, 0, localeName) + " bytes";
    struct Unit {
        const char* name;
        int decimals;
    };
    constexpr std::array<Unit, 6> units = {
        {{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}, {"EB", 2}}};
    Wide unitSize = 1;
    for (size_t i = 0; i < units.size(); ++i) {
        unitSize *= 1000;
        Wide scale = units[i].decimals == 0 ? 1 : units[i].decimals == 1 ? 10 : 100;
        // Half up in whole numbers, so that 1,005,000,000 bytes is 1.01 GB and not a float's 1 GB.
        Wide scaled = (static_cast<Wide>(bytes) * scale * 2 + unitSize) / (unitSize * 2);
        // A figure that rounds up to 1000 reads better in the next unit: "1 MB", not "1,000 KB".
        if (scaled >= 1000 * scale && i + 1 < units.size()) continue;
        return formatFigure(static_cast<uint64_t>(scaled), units[i].decimals, localeName) + " " +
               units[i].name;
    }
    return {}; // not reached: the last unit always returns
}

} // namespace mivora::platform
