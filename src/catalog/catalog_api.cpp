#include "catalog/catalog_api.h"

#include "catalog/catalog_constants.h"
#include "core/containment.h"
#include "core/json_decoding.h"
#include "core/shell.h"
#include "core/text.h"
#include "platform/environment.h"
#include "platform/filesystem.h"

#include <nlohmann/json.hpp>

namespace mivora::catalog {

namespace {

std::string trimmedSlashes(std::string text) {
    size_t start = text.find_first_not_of('/');
    if (start == std::string::npos) return "";
    size_t end = text.find_last_not_of('/');
    return text.substr(start, end - start + 1);
}

// A downloaded icon larger than this is refused: no icon is that big, and the
// whole body is held in memory.
constexpr size_t kMaximumDownloadBytes = 16 * 1024 * 1024;

} // namespace

CatalogAPIError CatalogAPIError::httpError(long status, const std::string& message) {
    return {Kind::httpError, "API error (HTTP " + std::to_string(status) + "): " + message, status};
}
CatalogAPIError CatalogAPIError::noConfidentMatch(const std::string& message) {
    return {Kind::noConfidentMatch, message};
}
CatalogAPIError CatalogAPIError::downloadFailed(const std::string& reason) {
    return {Kind::downloadFailed, "Failed to download icon: " + reason};
}
CatalogAPIError CatalogAPIError::invalidResponse() {
    return {Kind::invalidResponse, "Invalid response from Mivora API."};
}
CatalogAPIError CatalogAPIError::noResults() {
    return {Kind::noResults, "No icons found for this search."};
}

std::optional<std::string> CatalogAPI::apiBaseURLOverride() {
    auto value = platform::environmentValue("MIVORA_API_BASE_URL");
    if (!value) value = platform::environmentValue("VANTORQUELL_API_BASE_URL");
    if (!value) return std::nullopt;
    std::string trimmed = core::trimWhitespace(*value);
    if (trimmed.empty()) return std::nullopt;
    return trimmed;
}

std::string CatalogAPI::apiBaseURL() {
    return trimmedSlashes(apiBaseURLOverride().value_or(kDefaultBaseURL));
}

std::string CatalogAPI::siteBaseURL() {
    std::string base = apiBaseURL();
    if (core::endsWith(base, "/api")) base.resize(base.size() - 4);
    return base;
}

platform::HttpSession& CatalogAPI::session() {
    static platform::HttpSession shared({.requestTimeoutSeconds = 15,
                                         .resourceTimeoutSeconds = 30,
                                         .maximumBodyBytes = kMaximumDownloadBytes});
    return shared;
}

std::optional<std::string> CatalogAPI::errorMessage(const std::string& body) {
    auto json = core::parseJSONIfValid<core::Json>(body);
    if (!json || !json->is_object()) return std::nullopt;
    for (const char* key : {"message", "statusMessage", "error"}) {
        auto it = json->find(key);
        if (it != json->end() && it->is_string()) return it->get<std::string>();
    }
    return std::nullopt;
}

std::string CatalogAPI::getJSON(const std::string& url) {
    if (!platform::isValidURL(url)) throw CatalogAPIError::invalidResponse();
    platform::HttpRequest request;
    request.url = url;
    request.headers["Accept"] = "application/json";
    request.timeoutSeconds = 60;
    auto response = session().send(request);
    if (!response.isHTTP) throw CatalogAPIError::invalidResponse();
    if (response.status >= 200 && response.status <= 299) return response.body;
    throw CatalogAPIError::httpError(
        response.status, errorMessage(response.body).value_or("HTTP " + std::to_string(response.status)));
}

std::string CatalogAPI::resolveAssetURL(const std::string& address) {
    for (const char* prefix : kLegacyOriginPrefixes) {
        if (core::startsWith(address, prefix))
            return siteBaseURL() + address.substr(std::string(prefix).size());
    }
    return address;
}

std::string CatalogAPI::download(const std::string& address, const std::string& defaultExtension) {
    if (!platform::isValidURL(address)) throw CatalogAPIError::downloadFailed("Invalid URL");
    platform::HttpRequest request;
    request.url = address;
    platform::HttpResponse response;
    try {
        response = session().send(request);
    } catch (const platform::HttpBodyTooLargeError& error) {
        throw CatalogAPIError::downloadFailed(error.what());
    }
    if (!response.isHTTP || response.status != 200 || response.body.empty()) {
        throw CatalogAPIError::downloadFailed("HTTP " +
                                              std::to_string(response.isHTTP ? response.status : 0));
    }
    std::string path = platform::urlPath(address);
    std::string extension = platform::pathExtension(platform::percentDecoded(path).value_or(path));
    // The extension comes from the service's address: it names our file only when it is a plain name.
    if (!core::isSinglePathComponent(extension)) extension = defaultExtension;
    std::string destination = platform::newTemporaryPath("mivora-", "." + extension);
    platform::writeFileAtomically(destination, response.body);
    return destination;
}

std::string CatalogAPI::downloadIcon(const CatalogIcon& icon, bool preferICNS) {
    if (preferICNS) {
        try {
            return download(icon.icnsUrl, "icns");
        } catch (...) {
            // The PNG is the fallback; its outcome is the answer.
        }
    }
    return download(icon.lowResPngUrl, "png");
}

} // namespace mivora::catalog
