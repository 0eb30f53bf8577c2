#include "collections/collections_unpublish_command.h"

#include "collections/local_collection_store.h"
#include "collections/publish_client.h"
#include "core/output.h"

namespace mivora::collections {

core::Json UnpublishCollectionResponse::toJson() const {
    core::Json json;
    json["success"] = success;
    json["slug"] = slug;
    json["removedRemoteSlug"] = removedRemoteSlug;
    return json;
}

core::CommandConfiguration CollectionsUnpublishCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "unpublish";
    config.abstract = "Delete the published copy of a collection (the local files stay)";
    return config;
}

void CollectionsUnpublishCommand::declare(core::Arguments& arguments) {
    arguments.positional("slug", slug, "Collection slug");
    arguments.flag("json", json, "Output JSON for agents");
}

void CollectionsUnpublishCommand::run() {
    if (!LocalCollectionManifest::exists(slug)) throw LocalCollectionError::notFound(slug);
    // One run at a time decides on the token and the remote copy it stands for.
    platform::FileLock collectionLock = LocalCollectionManifest::lock(slug);
    LocalCollectionManifest manifest = LocalCollectionManifest::load(slug);
    const std::optional<std::string> remote = manifest.publish.remoteSlug;
    const std::optional<std::string> token = LocalCollectionManifest::readPublishToken(slug);
    if (!remote || !token)
        throw LocalCollectionError::publishFailed(slug + " is not published (no remote slug/token on file).");

    CollectionPublishClient::deleteCollection(*remote, *token);
    manifest.publish = {};
    LocalCollectionManifest::save(manifest, slug);
    LocalCollectionManifest::removePublishToken(slug);

    if (json) {
        core::printJSON(UnpublishCollectionResponse{true, slug, *remote});
        return;
    }
    core::printLine("✓ Removed published collection " + *remote + ". Local files kept at " +
                    LocalCollectionManifest::collectionDirectory(slug));
}

} // namespace mivora::collections
