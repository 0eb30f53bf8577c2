#include "platform/formatting.h"

#include "platform/byte_count.h"
#include "platform/environment.h"
#include "platform/locale_names.h"

#include <memory>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/numberformatter.h>
#include <unicode/unistr.h>

namespace mivora::platform {

namespace {

constexpr double kReferenceDateUnixSeconds = 978307200.0;

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

// A figure in ASCII digits ("1.5") as text in the user's locale.
std::string formatFigure(const std::string& digits, int decimals, const std::string& localeName) {
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
    ByteCountForm form = byteCountForm(bytes);
    if (form.figure.empty()) return std::string(form.unit);
    return formatFigure(form.figure, form.decimals, localeName) + " " + std::string(form.unit);
}

// The tool's messages show sizes as its replies do (see byte_count.h).
std::string byteCountText(uint64_t bytes) {
    return formatByteCount(bytes);
}

} // namespace mivora::platform
