#include "collections/collection_source.h"

#include "platform/filesystem.h"

#include <algorithm>
#include <exception>

namespace mivora::collections {

namespace {

constexpr size_t kPreviewIconCount = 4;

} // namespace

catalog::IconCollectionDetail localCollectionDetail(const LocalCollectionManifest& manifest,
                                                    const std::string& folderSlug) {
    catalog::IconCollectionDetail detail;
    detail.slug = manifest.slug;
    detail.name = manifest.name;
    detail.description = manifest.description;
    detail.accent = manifest.accent;
    for (const std::string& appSlug : manifest.doneAppSlugs()) {
        // An icon address is a file in the collection's folder: a key that names
        // none (empty, or a path) has no icon to show or apply.
        if (!LocalCollectionManifest::isUsableIconKey(appSlug)) continue;
        detail.icons.push_back({appSlug, manifest.icons.at(appSlug).appName,
                                LocalCollectionManifest::iconFileURL(folderSlug, appSlug)});
    }
    size_t previews = std::min(detail.icons.size(), kPreviewIconCount);
    detail.previewIcons.assign(detail.icons.begin(), detail.icons.begin() + static_cast<long>(previews));
    return detail;
}

std::vector<catalog::IconCollectionSummary> localCollectionSummaries() {
    std::vector<catalog::IconCollectionSummary> summaries;
    for (const std::string& name : LocalCollectionManifest::listSlugs()) {
        try {
            summaries.push_back(localCollectionDetail(LocalCollectionManifest::load(name), name).summary());
        } catch (const std::exception&) {
            // An unreadable manifest leaves its collection out; the others are still listed.
        }
    }
    return summaries;
}

ResolvedCollection resolveCollection(const std::string& slug) {
    if (LocalCollectionManifest::exists(slug)) {
        std::optional<LocalCollectionManifest> manifest;
        try {
            manifest = LocalCollectionManifest::load(slug);
        } catch (const platform::FileSystemError&) {
            if (!LocalCollectionManifest::exists(slug)) throw LocalCollectionError::notFound(slug);
            throw;
        }
        catalog::IconCollectionDetail detail = localCollectionDetail(*manifest, slug);
        return {std::move(detail), std::move(manifest)};
    }
    return {catalog::getCollection(slug), std::nullopt};
}

std::optional<std::string> darkVariantFile(const ResolvedCollection& collection, const std::string& slug,
                                           const std::string& appSlug) {
    if (!collection.manifest) return std::nullopt;
    auto entry = collection.manifest->icons.find(appSlug);
    if (entry == collection.manifest->icons.end() || !entry->second.dark) return std::nullopt;
    auto path = LocalCollectionManifest::stagedIconFile(slug, appSlug, true);
    if (!path || !platform::fileExists(*path)) return std::nullopt;
    return path;
}

} // namespace mivora::collections
