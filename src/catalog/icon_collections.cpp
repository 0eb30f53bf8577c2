#include "catalog/icon_collections.h"

#include "catalog/catalog_api.h"
#include "platform/http.h"

namespace mivora::catalog {

namespace {

const core::Json& requiredMember(const core::Json& object, const char* key) {
    if (!object.is_object()) throw CollectionDecodingError("Expected an object");
    auto it = object.find(key);
    if (it == object.end()) throw CollectionDecodingError(std::string("Missing key '") + key + "'");
    return *it;
}

std::string requiredString(const core::Json& object, const char* key) {
    const core::Json& value = requiredMember(object, key);
    if (!value.is_string()) throw CollectionDecodingError(std::string("Key '") + key + "' is not a string");
    return value.get<std::string>();
}

template <class Item>
std::vector<Item> requiredList(const core::Json& object, const char* key) {
    const core::Json& value = requiredMember(object, key);
    if (!value.is_array()) throw CollectionDecodingError(std::string("Key '") + key + "' is not an array");
    std::vector<Item> items;
    items.reserve(value.size());
    for (const auto& item : value) items.push_back(Item::fromJson(item));
    return items;
}

template <class Item>
core::Json jsonList(const std::vector<Item>& items) {
    core::Json list = core::Json::array();
    for (const auto& item : items) list.push_back(item.toJson());
    return list;
}

void resolveAssetURLs(std::vector<IconCollectionIcon>& icons) {
    for (auto& icon : icons) icon.iconUrl = CatalogAPI::resolveAssetURL(icon.iconUrl);
}

// The body as a Record; an answer of any other shape is the service's fault.
template <class Record>
Record decodeAnswer(const std::string& body) {
    core::Json json = core::Json::parse(body, nullptr, false);
    if (json.is_discarded()) throw CatalogAPIError::invalidResponse();
    try {
        return Record::fromJson(json);
    } catch (const CollectionDecodingError&) {
        throw CatalogAPIError::invalidResponse();
    }
}

} // namespace

std::string IconCollectionIcon::id() const { return appSlug + "|" + iconUrl; }

core::Json IconCollectionIcon::toJson() const {
    core::Json json;
    json["appSlug"] = appSlug;
    json["appName"] = appName;
    json["iconUrl"] = iconUrl;
    return json;
}

IconCollectionIcon IconCollectionIcon::fromJson(const core::Json& json) {
    return {requiredString(json, "appSlug"), requiredString(json, "appName"), requiredString(json, "iconUrl")};
}

core::Json IconCollectionSummary::toJson() const {
    core::Json json;
    json["slug"] = slug;
    json["name"] = name;
    json["description"] = description;
    json["accent"] = accent;
    json["previewIcons"] = jsonList(previewIcons);
    return json;
}

IconCollectionSummary IconCollectionSummary::fromJson(const core::Json& json) {
    return {requiredString(json, "slug"), requiredString(json, "name"), requiredString(json, "description"),
            requiredString(json, "accent"), requiredList<IconCollectionIcon>(json, "previewIcons")};
}

IconCollectionSummary IconCollectionDetail::summary() const { return {slug, name, description, accent, previewIcons}; }

core::Json IconCollectionDetail::toJson() const {
    core::Json json = summary().toJson();
    json["icons"] = jsonList(icons);
    return json;
}

IconCollectionDetail IconCollectionDetail::fromJson(const core::Json& json) {
    IconCollectionSummary head = IconCollectionSummary::fromJson(json);
    return {std::move(head.slug),        std::move(head.name),
            std::move(head.description), std::move(head.accent),
            std::move(head.previewIcons), requiredList<IconCollectionIcon>(json, "icons")};
}

core::Json IconCollectionsResponse::toJson() const {
    core::Json json;
    json["collections"] = jsonList(collections);
    return json;
}

IconCollectionsResponse IconCollectionsResponse::fromJson(const core::Json& json) {
    return {requiredList<IconCollectionSummary>(json, "collections")};
}

std::string encodedPathSegment(const std::string& slug) {
    // The path's allowed punctuation without "/".
    return platform::percentEncoded(slug, "!$&'()*+,-.:;=@_~");
}

std::vector<IconCollectionSummary> listCollections() {
    std::string body = CatalogAPI::getJSON(CatalogAPI::apiBaseURL() + "/collections");
    auto summaries = decodeAnswer<IconCollectionsResponse>(body).collections;
    for (auto& summary : summaries) resolveAssetURLs(summary.previewIcons);
    return summaries;
}

IconCollectionDetail getCollection(const std::string& slug) {
    std::string body = CatalogAPI::getJSON(CatalogAPI::apiBaseURL() + "/collections/" + encodedPathSegment(slug));
    auto detail = decodeAnswer<IconCollectionDetail>(body);
    resolveAssetURLs(detail.previewIcons);
    resolveAssetURLs(detail.icons);
    return detail;
}

} // namespace mivora::catalog
