// Addresses of the catalog service that the build fixes.
#pragma once

namespace mivora::catalog {

// The service's built-in base address (its path ends in "/api").
inline constexpr const char* kDefaultBaseURL = "https://catalog.mivora.example/api";
// The catalog web site's host, as help texts name it.
inline constexpr const char* kCatalogSiteHost = "catalog.mivora.example";
// Former hosting origins of catalog assets, rewritten onto the current site.
inline constexpr const char* kLegacyOriginPrefixes[] = {
    "https://legacy-assets1.catalog.mivora.example",
    "https://legacy-origin-store.catalog.mivora.example",
};

} // namespace mivora::catalog
