#include "collections/publish_client.h"

#include "catalog/catalog_api.h"
#include "catalog/catalog_constants.h"
#include "core/json_decoding.h"
#include "core/text.h"

namespace mivora::collections {

namespace {

// The origin host that once served published collections, scheme and host only.
constexpr std::string_view kLegacyShareOrigin = catalog::kLegacyOriginPrefixes[1];
static_assert(kLegacyShareOrigin.size() == 50);

// Answers are a few hundred bytes; anything far larger is not the service talking.
constexpr size_t kMaximumReplyBytes = 4 * 1024 * 1024;
constexpr double kRequestTimeoutSeconds = 60;

std::string segment(const std::string& text) {
    return platform::percentEncodedPathSegment(text);
}

std::optional<std::string> requestURL(const std::string& path) {
    std::string url = catalog::CatalogAPI::apiBaseURL() + path;
    if (!platform::isValidURL(url)) return std::nullopt;
    return url;
}

std::string requireURL(const std::string& path, const std::string& badURLMessage) {
    auto url = requestURL(path);
    if (!url) throw LocalCollectionError::publishFailed(badURLMessage);
    return *url;
}

platform::HttpResponse send(const std::string& method, const std::string& url,
                            const std::optional<std::string>& token,
                            std::map<std::string, std::string> headers = {},
                            std::optional<std::string> body = std::nullopt) {
    platform::HttpRequest request;
    request.method = method;
    request.url = url;
    request.timeoutSeconds = kRequestTimeoutSeconds;
    request.headers = std::move(headers);
    if (token) request.headers["Authorization"] = "Bearer " + *token;
    request.body = std::move(body);
    return CollectionPublishClient::session().send(request);
}

} // namespace

// --- replies -------------------------------------------------------------------

core::Json PublishCreateResponse::toJson() const {
    core::Json json;
    json["slug"] = slug;
    json["name"] = name;
    json["publishToken"] = publishToken;
    return json;
}

PublishCreateResponse PublishCreateResponse::decode(std::string_view body) {
    core::JSONValue document = core::parseJSONDocument(body);
    core::JSONObjectReader reply(document, "");
    return {reply.string("slug"), reply.string("name"), reply.string("publishToken")};
}

core::Json PublishUploadResponse::toJson() const {
    core::Json json;
    json["ok"] = ok;
    json["slug"] = slug;
    json["appSlug"] = appSlug;
    json["iconUrl"] = iconUrl;
    return json;
}

PublishUploadResponse PublishUploadResponse::decode(std::string_view body) {
    core::JSONValue document = core::parseJSONDocument(body);
    core::JSONObjectReader reply(document, "");
    return {reply.boolean("ok"), reply.string("slug"), reply.string("appSlug"), reply.string("iconUrl")};
}

core::Json PublishFinalizeResponse::toJson() const {
    core::Json json;
    json["ok"] = ok;
    json["slug"] = slug;
    json["iconCount"] = iconCount;
    json["listed"] = listed;
    json["shareUrl"] = shareUrl;
    core::setOptional(json, "note", note);
    return json;
}

PublishFinalizeResponse PublishFinalizeResponse::decode(std::string_view body) {
    core::JSONValue document = core::parseJSONDocument(body);
    core::JSONObjectReader reply(document, "");
    return {reply.boolean("ok"),     reply.string("slug"),     reply.integer("iconCount"),
            reply.boolean("listed"), reply.string("shareUrl"), reply.optionalString("note")};
}

// --- the client ----------------------------------------------------------------

platform::HttpSession& CollectionPublishClient::session() {
    static platform::HttpSession shared(
        {.requestTimeoutSeconds = 30, .resourceTimeoutSeconds = 120, .maximumBodyBytes = kMaximumReplyBytes});
    return shared;
}

std::optional<bool> CollectionPublishClient::remoteStatus(const std::string& remoteSlug) {
    auto url = requestURL("/collections/" + segment(remoteSlug));
    if (!url) return std::nullopt;
    try {
        platform::HttpResponse response = send("GET", *url, std::nullopt);
        if (!response.isHTTP) return std::nullopt;
        if (response.status == 200) return true;
        if (response.status == 404) return false;
    } catch (const platform::HttpTransportError&) {
    }
    return std::nullopt;
}

PublishCreateResponse CollectionPublishClient::createCollection(const LocalCollectionManifest& manifest) {
    std::string url = requireURL("/collections", "Bad API base URL.");
    core::Json body;
    body["name"] = manifest.name;
    body["description"] = manifest.description;
    body["accent"] = manifest.accent;
    body["slug"] = manifest.slug;
    auto response = send("POST", url, std::nullopt, {{"Content-Type", "application/json"}},
                         core::writeJSON(body, core::JSONStyle::compact));
    checkResponse(response, "create collection");
    return PublishCreateResponse::decode(response.body);
}

PublishUploadResponse CollectionPublishClient::uploadIcon(const std::string& remoteSlug,
                                                          const std::string& token,
                                                          const std::string& appSlug,
                                                          const std::string& pngData) {
    std::string url = requireURL("/collections/" + segment(remoteSlug) + "/icons/" + segment(appSlug),
                                 "Bad upload URL for " + appSlug + ".");
    auto response = send("PUT", url, token, {{"Content-Type", "image/png"}}, pngData);
    checkResponse(response, "upload " + appSlug);
    return PublishUploadResponse::decode(response.body);
}

PublishFinalizeResponse CollectionPublishClient::finalize(const std::string& remoteSlug,
                                                          const std::string& token) {
    std::string url = requireURL("/collections/" + segment(remoteSlug) + "/finalize", "Bad finalize URL.");
    auto response = send("POST", url, token);
    checkResponse(response, "finalize collection");
    PublishFinalizeResponse reply = PublishFinalizeResponse::decode(response.body);
    reply.shareUrl = publicURL(reply.shareUrl);
    return reply;
}

void CollectionPublishClient::deleteCollection(const std::string& remoteSlug, const std::string& token) {
    std::string url = requireURL("/collections/" + segment(remoteSlug), "Bad delete URL.");
    auto response = send("DELETE", url, token);
    checkResponse(response, "delete published collection");
}

void CollectionPublishClient::checkResponse(const platform::HttpResponse& response,
                                            const std::string& action) {
    if (!response.isHTTP)
        throw LocalCollectionError::publishFailed("No HTTP response while trying to " + action + ".");
    if (response.status >= 200 && response.status <= 299) return;
    std::string detail = "HTTP " + std::to_string(response.status);
    try {
        core::JSONValue body = core::parseJSONDocument(response.body);
        auto error = body.is_object() ? body.find("error") : body.end();
        if (body.is_object() && error != body.end() && error->is_string())
            detail += ": " + error->get<std::string>();
    } catch (const core::JSONDecodingError&) {
        // A body that is not JSON adds nothing.
    }
    if (response.status == 429)
        detail += " (rate limited — wait a bit and re-run; publish resumes where it left off)";
    throw LocalCollectionError::publishFailed("Could not " + action + ": " + detail);
}

std::string CollectionPublishClient::publicURL(const std::string& address) {
    if (!core::startsWith(address, kLegacyShareOrigin)) return address;
    return catalog::CatalogAPI::siteBaseURL() + address.substr(kLegacyShareOrigin.size());
}

} // namespace mivora::collections
