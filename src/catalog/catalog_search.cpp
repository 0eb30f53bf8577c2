#include "catalog/catalog_search.h"

#include "core/json_decoding.h"
#include "core/text.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace mivora::catalog {

namespace {

// The query is one value of the query string, so the separators that the
// URL-query-allowed set lets through ("&", "=", "+") are escaped too: left
// bare, "Disney+" would reach the service as "Disney " and "AT&T" as "AT".
constexpr std::string_view kQueryValueAllowedPunctuation = "!$'()*,-./:;?@_~";

// A JSON integer, or a whole floating-point number that fits (some writers
// give counts as 3.0); booleans and text are not numbers here.
std::optional<int64_t> integerValue(const core::Json& value) {
    if (value.is_number_unsigned()) {
        auto number = value.get<uint64_t>();
        if (number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
        return static_cast<int64_t>(number);
    }
    if (value.is_number_integer()) return value.get<int64_t>();
    if (value.is_number_float()) {
        double number = value.get<double>();
        if (std::isfinite(number) && number == std::trunc(number) && std::fabs(number) < 9.0e18)
            return static_cast<int64_t>(number);
    }
    return std::nullopt;
}

const core::Json* stringMember(const core::Json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? &*it : nullptr;
}

CatalogAPIError statusError(const platform::HttpResponse& response) {
    return CatalogAPIError::httpError(
        response.status,
        CatalogAPI::errorMessage(response.body).value_or("HTTP " + std::to_string(response.status)));
}

platform::HttpResponse sendCatalogRequest(const std::string& method, const std::string& url,
                                          std::optional<std::string> body, CatalogAPI::Deadline deadline) {
    if (!platform::isValidURL(url)) throw CatalogAPIError::invalidResponse();
    platform::HttpRequest request;
    request.method = method;
    request.url = url;
    request.headers["Accept"] = "application/json";
    if (body) request.headers["Content-Type"] = "application/json";
    request.body = std::move(body);
    request.timeoutSeconds = 60;
    request.deadline = deadline;
    auto response = CatalogAPI::session().send(request);
    if (!response.isHTTP) throw CatalogAPIError::invalidResponse();
    return response;
}

bool containsAll(const std::vector<std::string>& words, const std::vector<std::string>& wanted) {
    return std::all_of(wanted.begin(), wanted.end(), [&](const std::string& word) {
        return std::find(words.begin(), words.end(), word) != words.end();
    });
}

bool containsAllAsSubstrings(const std::string& text, const std::vector<std::string>& wanted) {
    return std::all_of(wanted.begin(), wanted.end(),
                       [&](const std::string& word) { return core::contains(text, word); });
}

std::vector<CatalogIcon> numberedPrefix(std::vector<CatalogIcon> icons, int64_t limit) {
    size_t keep = std::min(icons.size(), static_cast<size_t>(std::max<int64_t>(limit, 0)));
    icons.resize(keep);
    for (size_t i = 0; i < icons.size(); ++i)
        icons[i].id = static_cast<int64_t>(i);
    return icons;
}

} // namespace

std::string catalogSearchText(const std::string& query) {
    if (query == "PyCharm Professional Edition") return "PyCharm";
    if (query == "Discord PTB") return "Discord";
    return query;
}

std::string searchPageRequestBody(const std::string& text, bool liquidGlass, int page) {
    core::Json filters = core::Json::array();
    if (liquidGlass) filters.push_back("isLiquidGlass = true");
    core::Json options;
    options["hitsPerPage"] = kSearchHitsPerPage;
    options["page"] = page;
    options["filters"] = filters;
    options["sort"] = core::Json::array({"timeStamp:desc", "category:asc"});
    core::Json body;
    body["query"] = text;
    body["searchOptions"] = options;
    return core::writeJSON(body, core::JSONStyle::compact);
}

std::optional<CatalogAPI::MatchTier> matchTierFromRawValue(int rawValue) {
    if (rawValue < 0 || rawValue > 4) return std::nullopt;
    return static_cast<CatalogAPI::MatchTier>(rawValue);
}

std::vector<CatalogIcon> CatalogAPI::search(const std::string& query, int64_t limit, bool liquidGlass) {
    // The mapped text is what is sent, what results are ranked against and what the fallback asks for.
    std::string text = catalogSearchText(query);
    Deadline deadline = std::chrono::steady_clock::now() + kSearchTimeLimit;
    auto ranked = rankMatches(searchAllPages(text, liquidGlass, deadline), text);
    if (ranked.empty()) ranked = rankMatches(fetchIconsLegacy(text, deadline), text);
    return numberedPrefix(std::move(ranked), limit);
}

std::vector<CatalogIcon> CatalogAPI::searchAllPages(const std::string& query, bool liquidGlass,
                                                    Deadline deadline) {
    SearchPage first = searchPage(query, liquidGlass, 1, deadline);
    std::vector<CatalogIcon> icons = std::move(first.icons);
    if (first.totalPages < 2) return icons;
    int last = static_cast<int>(std::min<int64_t>(first.totalPages, kMaximumSearchPages));
    for (int page = 2; page <= last; ++page) {
        SearchPage next = searchPage(query, liquidGlass, page, deadline);
        if (next.icons.empty()) break;
        icons.insert(icons.end(), next.icons.begin(), next.icons.end());
    }
    return icons;
}

CatalogAPI::SearchPage CatalogAPI::searchPage(const std::string& query, bool liquidGlass, int page,
                                              Deadline deadline) {
    auto response = sendCatalogRequest("POST", apiBaseURL() + "/search",
                                       searchPageRequestBody(query, liquidGlass, page), deadline);
    if (response.status != 200) throw statusError(response);
    SearchPage result;
    // One parse serves both the icons and the page count.
    auto json = core::parseJSONIfValid<core::Json>(response.body);
    if (!json) return result;
    result.icons = iconsOfResponse(*json);
    if (json->is_object()) {
        if (auto it = json->find("totalPages"); it != json->end()) {
            if (auto total = integerValue(*it)) result.totalPages = std::max<int64_t>(*total, 1);
        }
    }
    return result;
}

std::vector<CatalogIcon> CatalogAPI::fetchIconsLegacy(const std::string& query, Deadline deadline) {
    std::string url = apiBaseURL() +
                      "/icons?q=" + platform::percentEncoded(query, kQueryValueAllowedPunctuation) +
                      "&limit=50";
    auto response = sendCatalogRequest("GET", url, std::nullopt, deadline);
    if (response.status == 404) return {};
    if (response.status != 200) throw statusError(response);
    return parseIconsResponse(response.body);
}

std::vector<CatalogIcon> CatalogAPI::parseIconsResponse(std::string_view body) {
    auto json = core::parseJSONIfValid<core::Json>(body);
    return json ? iconsOfResponse(*json) : std::vector<CatalogIcon>();
}

std::vector<CatalogIcon> CatalogAPI::iconsOfResponse(const core::Json& json) {
    if (!json.is_object()) return {};
    const core::Json* list = nullptr;
    for (const char* key : {"hits", "data", "icons"}) {
        auto it = json.find(key);
        if (it == json.end() || !it->is_array()) continue;
        if (!std::all_of(it->begin(), it->end(), [](const core::Json& item) { return item.is_object(); }))
            continue;
        list = &*it;
        break;
    }
    std::vector<CatalogIcon> icons;
    if (!list) return icons;
    int64_t nextID = 0;
    for (const auto& element : *list) {
        if (auto icon = parseIcon(element, nextID)) icons.push_back(std::move(*icon));
    }
    return icons;
}

std::optional<CatalogIcon> CatalogAPI::parseIcon(const core::Json& element, int64_t& nextID) {
    if (!element.is_object()) return std::nullopt;
    std::string name;
    if (const auto* appName = stringMember(element, "appName"))
        name = appName->get<std::string>();
    else if (const auto* plainName = stringMember(element, "name"))
        name = plainName->get<std::string>();
    const auto* icns = stringMember(element, "icnsUrl");
    const auto* png = stringMember(element, "lowResPngUrl");
    if (!icns || !png || name.empty()) return std::nullopt;
    int64_t downloads = 0;
    if (auto it = element.find("downloads"); it != element.end()) downloads = integerValue(*it).value_or(0);
    CatalogIcon icon{nextID, name, resolveAssetURL(icns->get<std::string>()),
                     resolveAssetURL(png->get<std::string>()), downloads};
    ++nextID;
    return icon;
}

CatalogAPI::MatchTier CatalogAPI::matchTier(std::string_view candidate, std::string_view query) {
    auto wanted = core::splitWords(query);
    if (wanted.empty()) return MatchTier::none;
    auto words = core::splitWords(candidate);
    if (words == wanted) return MatchTier::exact;
    if (words.size() >= wanted.size() && std::equal(wanted.begin(), wanted.end(), words.begin()))
        return MatchTier::prefix;
    if (containsAll(words, wanted)) return MatchTier::words;
    if (containsAllAsSubstrings(core::lowercased(candidate), wanted)) return MatchTier::substring;
    return MatchTier::none;
}

bool CatalogAPI::compareRanked(const RankedIcon& a, const RankedIcon& b) {
    if (a.tier != b.tier) return a.tier > b.tier;
    if (a.icon.downloads != b.icon.downloads) return a.icon.downloads > b.icon.downloads;
    return core::compareCanonically(a.icon.appName, b.icon.appName) < 0;
}

std::vector<CatalogIcon> CatalogAPI::rankMatches(const std::vector<CatalogIcon>& icons,
                                                 std::string_view query) {
    std::vector<RankedIcon> ranked;
    for (const auto& icon : icons) {
        MatchTier tier = matchTier(icon.appName, query);
        if (tier != MatchTier::none) ranked.push_back({icon, tier});
    }
    std::stable_sort(ranked.begin(), ranked.end(), compareRanked);
    std::vector<CatalogIcon> result;
    result.reserve(ranked.size());
    for (auto& item : ranked)
        result.push_back(std::move(item.icon));
    return result;
}

std::vector<CatalogIcon> CatalogAPI::iconsMatchingApp(const std::vector<CatalogIcon>& icons,
                                                      std::string_view appName) {
    std::vector<CatalogIcon> result;
    std::copy_if(icons.begin(), icons.end(), std::back_inserter(result), [&](const CatalogIcon& icon) {
        return matchTier(icon.appName, appName) >= MatchTier::words;
    });
    return result;
}

std::optional<CatalogIcon> CatalogAPI::pickIcon(const std::vector<CatalogIcon>& icons,
                                                const std::optional<std::string>& style) {
    if (icons.empty()) return std::nullopt;
    if (!style || style->empty()) return icons.front();
    auto wanted = core::splitWords(*style);
    if (wanted.empty()) return icons.front();
    for (const auto& icon : icons) {
        if (containsAll(core::splitWords(icon.appName), wanted)) return icon;
    }
    for (const auto& icon : icons) {
        if (containsAllAsSubstrings(core::lowercased(icon.appName), wanted)) return icon;
    }
    return std::nullopt;
}

} // namespace mivora::catalog
