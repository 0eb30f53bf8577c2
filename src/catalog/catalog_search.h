// The forms of a catalog search that the service sees: the alias table applied
// to the search text and the JSON body of one page request. The search, the
// tolerant parser and the ranking are CatalogAPI's (catalog_api.h).
#pragma once

#include "catalog/catalog_api.h"

#include <optional>
#include <string>

namespace mivora::catalog {

// Icons asked for per page, and the most pages one search requests.
inline constexpr int kSearchHitsPerPage = 50;
inline constexpr int kMaximumSearchPages = 10;
// How long one whole search may take: a catalog that drips slowly would
// otherwise keep ten pages and the fallback busy for minutes.
inline constexpr std::chrono::seconds kSearchTimeLimit{60};

// The text the catalog knows an application by, for the few names it lists
// under a shorter one; any other text unchanged (exact comparison).
std::string catalogSearchText(const std::string& query);

// The compact JSON body of the request for one page (from 1).
std::string searchPageRequestBody(const std::string& text, bool liquidGlass, int page);

// The tier of a raw value, or nothing outside 0 to 4.
std::optional<CatalogAPI::MatchTier> matchTierFromRawValue(int rawValue);

} // namespace mivora::catalog
