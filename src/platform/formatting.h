// Locale-dependent presentation of dates and byte counts, as the platform
// formatters show them: in the user's locale for the category (LC_TIME for dates,
// LC_NUMERIC for figures) unless another is given, dates in the process's time
// zone. A name that gives no usable locale (none set, "C", one ICU has no data
// for: see usableLocale) means the POSIX English form.
#pragma once

#include "platform/environment.h"

#include <cstdint>
#include <string>

namespace mivora::platform {

// A date given as seconds since 1 January 2001 00:00:00 UTC, in the medium date
// style and the medium time style ("Jan 5, 2024, 3:04:05 PM" in en_US).
std::string formatMediumDateTime(double secondsSinceReferenceDate,
                                 const std::string& localeName = userLocaleName(LocaleCategory::time));

// The same in the short date style and the short time style ("1/5/24, 3:04 PM").
std::string formatShortDateTime(double secondsSinceReferenceDate,
                                const std::string& localeName = userLocaleName(LocaleCategory::time));

// A size in the file style (byteCountForm in byte_count.h: "Zero KB", "1 byte",
// "<n> bytes", then KB, MB with one decimal, GB and larger with two), the figure
// in the user's locale ("1,5 MB" in de_DE).
std::string formatByteCount(uint64_t bytes,
                            const std::string& localeName = userLocaleName(LocaleCategory::numeric));

} // namespace mivora::platform
