// Style collections as the catalog service describes them: a summary for lists,
// a detail with every icon, one icon entry, and the two fetches. A local
// collection is shown in the same form. Answers are decoded strictly: every key
// is required and of its own type; unknown keys are ignored.
#pragma once

#include "core/json.h"
#include "core/json_decoding.h"

#include <string>
#include <vector>

namespace mivora::catalog {

struct IconCollectionIcon {
    std::string appSlug; // the key by which icons are paired with applications
    std::string appName;
    std::string iconUrl;

    // "<appSlug>|<iconUrl>": a stable key per entry.
    std::string id() const;
    core::Json toJson() const;
    // Every key required; throws core::JSONDecodingError.
    static IconCollectionIcon decode(const core::JSONObjectReader& object);
    bool operator==(const IconCollectionIcon&) const = default;
};

struct IconCollectionSummary {
    std::string slug;
    std::string name;
    std::string description;
    std::string accent;
    std::vector<IconCollectionIcon> previewIcons;

    core::Json toJson() const;
    static IconCollectionSummary decode(const core::JSONObjectReader& object);
    bool operator==(const IconCollectionSummary&) const = default;
};

struct IconCollectionDetail {
    std::string slug;
    std::string name;
    std::string description;
    std::string accent;
    std::vector<IconCollectionIcon> previewIcons;
    std::vector<IconCollectionIcon> icons; // in the service's order

    IconCollectionSummary summary() const;
    core::Json toJson() const;
    static IconCollectionDetail decode(const core::JSONObjectReader& object);
    bool operator==(const IconCollectionDetail&) const = default;
};

// The answer of the list call.
struct IconCollectionsResponse {
    std::vector<IconCollectionSummary> collections;

    core::Json toJson() const;
    static IconCollectionsResponse decode(const core::JSONObjectReader& object);
    bool operator==(const IconCollectionsResponse&) const = default;
};

// GET <base>/collections: the service's collections in its order, preview icon
// addresses rewritten off the legacy origins. Throws CatalogAPIError
// (invalidResponse for an answer that does not decode) or a transport error.
std::vector<IconCollectionSummary> listCollections();

// GET <base>/collections/<slug>, the slug encoded as one path segment; every
// icon address rewritten off the legacy origins. Throws as listCollections.
IconCollectionDetail getCollection(const std::string& slug);

} // namespace mivora::catalog
