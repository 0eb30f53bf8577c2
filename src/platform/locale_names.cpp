#include "platform/locale_names.h"

#include <set>
#include <string>
#include <unicode/uloc.h>

namespace mivora::platform {

namespace {

struct LocaleData {
    std::set<std::string> languages;
    std::set<std::string> languageScripts; // "zh_Hant", "sr_Latn"
};

// The languages and language-script pairs ICU's data covers, looked up once.
const LocaleData& localeData() {
    static const LocaleData data = [] {
        LocaleData made;
        const int32_t count = uloc_countAvailable();
        for (int32_t i = 0; i < count; ++i) {
            icu::Locale available(uloc_getAvailable(i));
            made.languages.insert(available.getLanguage());
            if (available.getScript()[0] != '\0')
                made.languageScripts.insert(std::string(available.getLanguage()) + "_" +
                                            available.getScript());
        }
        return made;
    }();
    return data;
}

// Whether the language's data is written in `script` when a name gives none.
bool isDefaultScript(const icu::Locale& locale) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale likely(locale.getLanguage());
    likely.addLikelySubtags(status);
    return U_SUCCESS(status) && std::string_view(likely.getScript()) == locale.getScript();
}

} // namespace

std::optional<icu::Locale> usableLocale(std::string_view name) {
    std::string text(name.substr(0, name.find_first_of(".@")));
    if (text.empty() || text == "C" || text == "POSIX") return std::nullopt;
    icu::Locale locale = icu::Locale::createCanonical(text.c_str());
    if (locale.isBogus()) return std::nullopt;
    const std::string language = locale.getLanguage();
    const LocaleData& data = localeData();
    if (language.empty() || language == "und" || !data.languages.contains(language)) return std::nullopt;
    const std::string script = locale.getScript();
    if (!script.empty() && !data.languageScripts.contains(language + "_" + script) &&
        !isDefaultScript(locale))
        return std::nullopt;
    return locale;
}

} // namespace mivora::platform
