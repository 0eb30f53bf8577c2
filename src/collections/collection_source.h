// The collection a slug names for show and apply: the user's local collection
// of that slug when one exists, otherwise the catalog's.
#pragma once

#include <optional>
#include <string>

#include "catalog/icon_collections.h"

namespace mivora::collections {

struct ResolvedCollection {
    catalog::IconCollectionDetail detail;
    bool isLocal = false;
};

// Throws the local store's read and decoding errors, or the catalog's errors.
ResolvedCollection resolveCollection(const std::string& slug);

// The staged dark variant <root>/<slug>/icons/<appSlug>@dark.png of a local
// collection's entry whose dark flag is set, when that file exists.
std::optional<std::string> darkVariantFile(const ResolvedCollection& collection, const std::string& slug,
                                           const std::string& appSlug);

} // namespace mivora::collections
