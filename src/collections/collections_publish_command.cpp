#include "collections/collections_publish_command.h"

#include "catalog/catalog_api.h"
#include "catalog/catalog_constants.h"
#include "collections/local_collection_store.h"
#include "collections/publish_client.h"
#include "core/output.h"
#include "platform/file_reading.h"
#include "platform/filesystem.h"

namespace mivora::collections {

namespace {

constexpr const char* kDefaultNote = "Live at its direct link; appears in public listings after review.";

} // namespace

core::Json PublishCollectionResponse::toJson() const {
    core::Json json;
    json["success"] = success;
    json["slug"] = slug;
    json["remoteSlug"] = remoteSlug;
    json["uploaded"] = uploaded;
    json["failed"] = failed;
    json["skippedDarkVariants"] = skippedDarkVariants;
    json["shareUrl"] = shareUrl;
    json["listed"] = listed;
    json["note"] = note;
    json["errors"] = errors;
    return json;
}

core::CommandConfiguration CollectionsPublishCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "publish";
    config.abstract = std::string("Upload a local collection to ") + catalog::kCatalogSiteHost;
    config.discussion = "Uploads every staged icon. The first publish creates the remote collection\n"
                        "and stores a publish token (collections/<slug>/publish-token) — keep it; it\n"
                        "is the only way to update or delete the published copy. Re-running publish\n"
                        "re-uploads changed icons with the same token.\n"
                        "\n"
                        "The published collection is immediately live at its direct link and appears\n"
                        "in the public listings after review. Dark variants stay local for now.";
    return config;
}

void CollectionsPublishCommand::declare(core::Arguments& arguments) {
    arguments.positional("slug", slug, "Collection slug");
    arguments.flag("json", json, "Output JSON for agents");
}

void CollectionsPublishCommand::run() {
    if (!LocalCollectionManifest::exists(slug)) throw LocalCollectionError::notFound(slug);
    LocalCollectionManifest manifest = LocalCollectionManifest::load(slug);
    const std::vector<std::string> keys = manifest.doneAppSlugs();
    if (keys.empty()) {
        throw LocalCollectionError::publishFailed(
            "Nothing to publish — no staged icons. Run `mivora collections add` first.");
    }

    // The token and the remote slug are read, and a remote copy made, by one run
    // at a time, under the collection's lock; the manifest is read again under it
    // so that entries other runs added meanwhile stay.
    platform::FileLock collectionLock = LocalCollectionManifest::lock(slug);
    manifest = LocalCollectionManifest::load(slug);
    // A remote collection whose token could not be kept would be orphaned: both
    // files must be writable before the first request.
    platform::checkWritable(LocalCollectionManifest::manifestPath(slug));
    platform::checkWritable(LocalCollectionManifest::publishTokenPath(slug));

    std::optional<std::string> token = LocalCollectionManifest::readPublishToken(slug);
    std::optional<std::string> remote = manifest.publish.remoteSlug;
    if (remote && CollectionPublishClient::remoteStatus(*remote) == false) {
        // The service no longer holds it: forget it, and publish anew.
        LocalCollectionManifest::removePublishToken(slug);
        manifest.publish = {};
        LocalCollectionManifest::save(manifest, slug);
        if (!json) {
            core::printLine("Remote collection missing — creating a fresh publish on " +
                            catalog::CatalogAPI::apiBaseURL());
        }
        remote.reset();
        token.reset();
    }
    if (!remote || !token) {
        PublishCreateResponse created = CollectionPublishClient::createCollection(manifest);
        try {
            LocalCollectionManifest::savePublishToken(created.publishToken, slug);
            manifest.publish.remoteSlug = created.slug;
            manifest.publish.publishedAt = manifestNow();
            LocalCollectionManifest::save(manifest, slug);
        } catch (const std::exception& error) {
            // The token exists nowhere else: hand it to the user rather than lose it.
            throw LocalCollectionError::publishFailed(
                "Created remote collection \"" + created.slug +
                "\" but could not save it locally: " + error.what() +
                "\nKeep its publish token, the only way to update or delete it: " + created.publishToken +
                "\nWrite the token to " + LocalCollectionManifest::publishTokenPath(slug) +
                " and \"remoteSlug\": \"" + created.slug + "\" under \"publish\" in " +
                LocalCollectionManifest::manifestPath(slug) + ", then re-run publish.");
        }
        if (!json) {
            core::printLine("✓ Created remote collection \"" + created.name + "\" (" + created.slug + ")");
            if (created.slug != slug)
                core::printLine("  (slug was taken — published as " + created.slug + ")");
        }
        remote = created.slug;
        // This run sends the token as every later run reads it back from the file:
        // trimmed, so that a line break the service sent never ends up in a header.
        token =
            LocalCollectionManifest::publishTokenAsRead(created.publishToken).value_or(created.publishToken);
    }
    collectionLock.release();

    PublishCollectionResponse reply;
    reply.slug = slug;
    reply.remoteSlug = *remote;
    const std::string total = std::to_string(keys.size());
    for (const std::string& key : keys) {
        auto file = LocalCollectionManifest::stagedIconFile(slug, key);
        auto bytes = file ? platform::readFile(*file, platform::read_limits::image) : std::nullopt;
        if (!bytes) {
            // There but unreadable is not missing.
            std::string problem = "staged icon file missing";
            try {
                if (file && platform::itemExists(*file)) problem = "staged icon file cannot be read";
            } catch (const platform::FileSystemError& error) {
                problem = error.what();
            }
            reply.errors.push_back(key + ": " + problem);
            continue;
        }
        try {
            CollectionPublishClient::uploadIcon(*remote, *token, key, *bytes);
            ++reply.uploaded;
            if (!json)
                core::printLine("  ↑ " + key + " (" + std::to_string(reply.uploaded) + "/" + total + ")");
        } catch (const std::exception& error) {
            reply.errors.push_back(key + ": " + error.what());
        }
        // Only light icons are uploaded; a dark variant stays local.
        if (manifest.icons.at(key).dark) ++reply.skippedDarkVariants;
    }

    PublishFinalizeResponse finalized = CollectionPublishClient::finalize(*remote, *token);
    LocalCollectionManifest::update(
        slug, [](LocalCollectionManifest& stored) { stored.publish.finalizedAt = manifestNow(); });

    reply.failed = static_cast<int64_t>(reply.errors.size());
    reply.success = reply.errors.empty();
    reply.shareUrl = finalized.shareUrl;
    reply.listed = finalized.listed;
    reply.note = finalized.note.value_or(kDefaultNote);
    if (json) {
        core::printJSON(reply);
        return;
    }
    std::string text;
    if (!reply.errors.empty()) {
        text += "Published " + std::to_string(reply.uploaded) + " icon(s); " + std::to_string(reply.failed) +
                " failed:\n";
        for (const auto& error : reply.errors)
            text += "  ✗ " + error + "\n";
        text += "Re-run `mivora collections publish " + slug + "` to retry the failures.\n";
    } else {
        text +=
            "✓ Published " + std::to_string(reply.uploaded) + " icon(s) as \"" + reply.remoteSlug + "\"\n";
    }
    if (reply.skippedDarkVariants >= 1) {
        text += "  Note: " + std::to_string(reply.skippedDarkVariants) +
                " dark variant(s) stay local — the public catalog hosts light icons for now.\n";
    }
    text += "  Share: " + reply.shareUrl + "\n";
    text += "  " + reply.note + "\n";
    core::printText(text);
}

} // namespace mivora::collections
