#include "catalog/icon_collections.h"

#include "catalog/catalog_api.h"
#include "platform/http.h"

namespace mivora::catalog {

namespace {

template <class Item> std::vector<Item> decodeList(const core::JSONObjectReader& object, const char* key) {
    const core::JSONValue& value = object.member(key);
    std::string path = object.pathOf(key);
    if (!value.is_array()) core::throwJSONTypeMismatch("an array", path, value);
    std::vector<Item> items;
    items.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i)
        items.push_back(Item::decode(core::JSONObjectReader(value[i], core::jsonElementPath(path, i))));
    return items;
}

void resolveAssetURLs(std::vector<IconCollectionIcon>& icons) {
    for (auto& icon : icons)
        icon.iconUrl = CatalogAPI::resolveAssetURL(icon.iconUrl);
}

// The body as a Record; an answer of any other shape is the service's fault.
template <class Record> Record decodeAnswer(const std::string& body) {
    try {
        core::JSONValue json = core::parseJSONDocument(body);
        return Record::decode(core::JSONObjectReader(json, ""));
    } catch (const core::JSONDecodingError&) {
        throw CatalogAPIError::invalidResponse();
    }
}

} // namespace

std::string IconCollectionIcon::id() const {
    return appSlug + "|" + iconUrl;
}

core::Json IconCollectionIcon::toJson() const {
    core::Json json;
    json["appSlug"] = appSlug;
    json["appName"] = appName;
    json["iconUrl"] = iconUrl;
    return json;
}

IconCollectionIcon IconCollectionIcon::decode(const core::JSONObjectReader& object) {
    return {object.string("appSlug"), object.string("appName"), object.string("iconUrl")};
}

core::Json IconCollectionSummary::toJson() const {
    core::Json json;
    json["slug"] = slug;
    json["name"] = name;
    json["description"] = description;
    json["accent"] = accent;
    json["previewIcons"] = core::jsonArray(previewIcons);
    return json;
}

IconCollectionSummary IconCollectionSummary::decode(const core::JSONObjectReader& object) {
    return {object.string("slug"), object.string("name"), object.string("description"),
            object.string("accent"), decodeList<IconCollectionIcon>(object, "previewIcons")};
}

IconCollectionSummary IconCollectionDetail::summary() const {
    return {slug, name, description, accent, previewIcons};
}

core::Json IconCollectionDetail::toJson() const {
    core::Json json = summary().toJson();
    json["icons"] = core::jsonArray(icons);
    return json;
}

IconCollectionDetail IconCollectionDetail::decode(const core::JSONObjectReader& object) {
    IconCollectionSummary head = IconCollectionSummary::decode(object);
    return {std::move(head.slug),         std::move(head.name),
            std::move(head.description),  std::move(head.accent),
            std::move(head.previewIcons), decodeList<IconCollectionIcon>(object, "icons")};
}

core::Json IconCollectionsResponse::toJson() const {
    core::Json json;
    json["collections"] = core::jsonArray(collections);
    return json;
}

IconCollectionsResponse IconCollectionsResponse::decode(const core::JSONObjectReader& object) {
    return {decodeList<IconCollectionSummary>(object, "collections")};
}

std::vector<IconCollectionSummary> listCollections() {
    std::string body = CatalogAPI::getJSON(CatalogAPI::apiBaseURL() + "/collections");
    auto summaries = decodeAnswer<IconCollectionsResponse>(body).collections;
    for (auto& summary : summaries)
        resolveAssetURLs(summary.previewIcons);
    return summaries;
}

IconCollectionDetail getCollection(const std::string& slug) {
    std::string body = CatalogAPI::getJSON(CatalogAPI::apiBaseURL() + "/collections/" +
                                           platform::percentEncodedPathSegment(slug));
    auto detail = decodeAnswer<IconCollectionDetail>(body);
    resolveAssetURLs(detail.previewIcons);
    resolveAssetURLs(detail.icons);
    return detail;
}

} // namespace mivora::catalog
