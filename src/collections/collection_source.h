// Where the collections of list, show and apply come from: the user's local
// collections, shown in the catalog's form, and the catalog's own. A local
// collection of a slug is preferred to the remote one.
#pragma once

#include "catalog/icon_collections.h"
#include "collections/local_collection_store.h"

#include <optional>
#include <string>
#include <vector>

namespace mivora::collections {

// The catalog form of a local collection loaded from <root>/<folderSlug>: its
// done icons in plain key order, each the file URL of
// <root>/<folderSlug>/icons/<appSlug>.png (never the manifest's own slug field),
// the first four also as previews. Other entries, keys that are no file name
// and dark variants are left out.
catalog::IconCollectionDetail localCollectionDetail(const LocalCollectionManifest& manifest,
                                                    const std::string& folderSlug);

// The summaries of every readable local collection, in folder-name order; a
// manifest that cannot be read or decoded is skipped without a word.
std::vector<catalog::IconCollectionSummary> localCollectionSummaries();

struct ResolvedCollection {
    catalog::IconCollectionDetail detail;
    std::optional<LocalCollectionManifest> manifest; // for a local collection
};

// The local collection of that slug when its manifest exists, else the
// catalog's. Throws the store's read and decoding errors (notFound when the
// manifest went away in between) or the catalog's errors.
ResolvedCollection resolveCollection(const std::string& slug);

// The staged dark variant <root>/<slug>/icons/<appSlug>@dark.png of a local
// collection's entry whose dark flag is set, when that file exists.
std::optional<std::string> darkVariantFile(const ResolvedCollection& collection, const std::string& slug,
                                           const std::string& appSlug);

} // namespace mivora::collections
