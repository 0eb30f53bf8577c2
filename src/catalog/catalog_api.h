// The catalog service client's shared pieces: the base address (environment
// override or built-in), the one catalog session, error bodies, asset-address
// rewriting and icon downloads into the temporary folder; and the paged
// search with its local ranking (catalog_search.cpp).
#pragma once

#include "catalog/catalog_icon.h"
#include "core/errors.h"
#include "platform/http.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mivora::catalog {

class CatalogAPIError : public core::MessageError {
public:
    enum class Kind { httpError, noConfidentMatch, downloadFailed, invalidResponse, noResults };

    static CatalogAPIError httpError(long status, const std::string& message);
    static CatalogAPIError noConfidentMatch(const std::string& message);
    static CatalogAPIError downloadFailed(const std::string& reason);
    static CatalogAPIError invalidResponse();
    static CatalogAPIError noResults();

    Kind kind() const { return kind_; }
    long status() const { return status_; }

private:
    CatalogAPIError(Kind kind, const std::string& message, long status = 0)
        : core::MessageError(message), kind_(kind), status_(status) {}
    Kind kind_;
    long status_;
};

struct CatalogAPI {
    // MIVORA_API_BASE_URL (even when blank), else VANTORQUELL_API_BASE_URL, trimmed; empty is none.
    static std::optional<std::string> apiBaseURLOverride();
    // The override or the built-in base, with every "/" removed from both ends. Read afresh each call.
    static std::string apiBaseURL();
    // apiBaseURL() without a final "/api".
    static std::string siteBaseURL();

    // The catalog session: 15 s without progress, 30 s in all; built on first use.
    static platform::HttpSession& session();

    // One GET expecting JSON and a 2xx status. Throws CatalogAPIError or a transport error.
    static std::string getJSON(const std::string& url);
    // "message", else "statusMessage", else "error" of a JSON object body, when a string.
    static std::optional<std::string> errorMessage(const std::string& body);

    // Legacy hosted-origin addresses rewritten onto the site; others unchanged.
    static std::string resolveAssetURL(const std::string& address);
    // Fetches the address into <tmp>/mivora-<UUID>.<ext> and returns that path.
    static std::string download(const std::string& address, const std::string& defaultExtension);
    // The ICNS file first when asked, falling back to the PNG.
    static std::string downloadIcon(const CatalogIcon& icon, bool preferICNS);

    // How well a candidate name matches a query; a higher tier is a better match.
    enum class MatchTier : int { none = 0, substring = 1, words = 2, prefix = 3, exact = 4 };

    struct SearchPage {
        std::vector<CatalogIcon> icons;
        int64_t totalPages = 1; // 1 or more
    };

    struct RankedIcon {
        CatalogIcon icon;
        MatchTier tier = MatchTier::none;
    };

    // The best-ranked icons for the text (after the alias table), at most
    // `limit` (none for a negative limit), numbered from 0. When the paged
    // search ranks nothing, the older query endpoint is asked instead.
    // Throws CatalogAPIError or a transport error.
    // The whole search, pages and fallback together, ends with the session's
    // time-out error once kSearchTimeLimit has passed.
    static std::vector<CatalogIcon> search(const std::string& query, int64_t limit, bool liquidGlass);
    // A bound on the whole of one search; none: only each request's own limits.
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;
    // The icons of up to ten pages, in page order; stops at the first empty page.
    static std::vector<CatalogIcon> searchAllPages(const std::string& query, bool liquidGlass,
                                                   Deadline deadline = {});
    // One POST to /search; only status 200 is a success.
    static SearchPage searchPage(const std::string& query, bool liquidGlass, int page,
                                 Deadline deadline = {});
    // GET /icons?q=<query>&limit=50; 404 is an empty list.
    static std::vector<CatalogIcon> fetchIconsLegacy(const std::string& query, Deadline deadline = {});

    // The tolerant parser of the service's answers: the "hits", else "data",
    // else "icons" array of objects; unusable elements are dropped. Never fails.
    static std::vector<CatalogIcon> parseIconsResponse(std::string_view body);
    // The same for an answer already parsed.
    static std::vector<CatalogIcon> iconsOfResponse(const core::Json& json);
    // One element, or nothing when it lacks a name or either address; `nextID`
    // is the accepted icon's id and grows by one when it is accepted.
    static std::optional<CatalogIcon> parseIcon(const core::Json& element, int64_t& nextID);

    static MatchTier matchTier(std::string_view candidate, std::string_view query);
    // True when `a` ranks before `b`: higher tier, then more downloads, then the
    // name that sorts first by code points.
    static bool compareRanked(const RankedIcon& a, const RankedIcon& b);
    // The icons whose name matches, without the unmatched, best first (stable).
    static std::vector<CatalogIcon> rankMatches(const std::vector<CatalogIcon>& icons,
                                                std::string_view query);
    // The icons, in order, whose name holds the application's name as whole words.
    static std::vector<CatalogIcon> iconsMatchingApp(const std::vector<CatalogIcon>& icons,
                                                     std::string_view appName);
    // The first icon whose name words hold every style word, else the first
    // whose name holds each style word as a substring; the first icon when no
    // style is given.
    static std::optional<CatalogIcon> pickIcon(const std::vector<CatalogIcon>& icons,
                                               const std::optional<std::string>& style);
};

} // namespace mivora::catalog
