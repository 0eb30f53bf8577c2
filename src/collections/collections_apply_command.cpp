#include "collections/collections_apply_command.h"

#include "apps/app_discovery.h"
#include "catalog/catalog_api.h"
#include "collections/collection_source.h"
#include "core/errors.h"
#include "core/locations.h"
#include "core/output.h"
#include "icons/icon_applier.h"
#include "platform/file_url.h"
#include "platform/filesystem.h"

#include <algorithm>
#include <exception>

namespace mivora::collections {

namespace {

// Removes a downloaded icon when the item is done with it, however it ended.
class DownloadedFile {
public:
    explicit DownloadedFile(std::string path) : path_(std::move(path)) {}
    ~DownloadedFile() { platform::removeItemQuietly(path_); }
    DownloadedFile(const DownloadedFile&) = delete;
    DownloadedFile& operator=(const DownloadedFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace

core::Json CollectionApplyItemResult::toJson() const {
    core::Json json;
    json["icon"] = icon.toJson();
    json["app"] = app.toJson();
    json["success"] = success;
    json["appliedToBundle"] = appliedToBundle;
    core::setOptional(json, "cachedFile", cachedFile);
    core::setOptional(json, "message", message);
    core::setOptional(json, "error", error);
    return json;
}

core::Json ApplyCollectionResponse::toJson() const {
    core::Json json;
    json["success"] = success;
    json["collection"] = collection.toJson();
    json["appearance"] = appearance;
    json["source"] = source;
    json["dryRun"] = dryRun;
    json["matched"] = matched;
    json["applied"] = applied;
    json["failed"] = failed;
    json["skipped"] = skipped;
    if (matches) json["matches"] = core::jsonArray(*matches);
    json["results"] = core::jsonArray(results);
    return json;
}

core::CommandConfiguration CollectionsApplyCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "apply";
    config.abstract = "Apply a style collection to matching installed apps";
    config.discussion = "Matches collection icons to installed apps by slugified app name. Use --dry-run\n"
                        "first to see exactly what an agent would change.";
    return config;
}

void CollectionsApplyCommand::declare(core::Arguments& arguments) {
    arguments.positional("slug", slug, "Collection slug, e.g. sunlight, paper, anime");
    arguments.flag("dock", dock, "Only apply to apps pinned in the Dock");
    arguments.flag("dry-run", dryRun, "Show matching apps without applying icons", {.shortName = 'd'});
    arguments.option("limit", limit, "Maximum number of matches to apply");
    arguments.option("appearance", appearance,
                     "Appearance slot: light or dark (default: current system appearance)");
    arguments.flag("quit", quit, "Quit each app before applying");
    arguments.flag("no-refresh", noRefresh,
                   "Skip the post-apply refresh (run `mivora refresh-dock` once after batching)");
    arguments.flag("json", json, "Output JSON for agents");
}

CollectionApplyItemResult CollectionsApplyCommand::applyItem(const CollectionMatch& match,
                                                             const ResolvedCollection& collection) const {
    // Only a local collection's icons are files of this machine, and only those
    // inside its own folder; an address that the catalog gives is always
    // fetched, never read from the disk.
    std::optional<std::string> localFile;
    if (collection.manifest) {
        localFile = LocalCollectionManifest::stagedIconFile(slug, match.icon.appSlug);
        if (!localFile) {
            throw core::CLIError::fileNotFound("Icon file not found: " +
                                               LocalCollectionManifest::iconPath(slug, match.icon.appSlug));
        }
    }
    std::optional<DownloadedFile> downloaded;
    if (!localFile) downloaded.emplace(catalog::CatalogAPI::download(match.icon.iconUrl, "png"));
    const std::string& iconFile = localFile ? *localFile : downloaded->path();

    std::optional<std::string> darkFile;
    if (localFile && !appearance) darkFile = darkVariantFile(collection, slug, match.icon.appSlug);
    icons::IconAppearance slot = appearance ? *appearance
                                 : darkFile ? icons::IconAppearance::light
                                            : icons::currentAppearance();

    icons::ApplyIconResult result = icons::applyIcon(match.app, iconFile, slot, core::cacheDirectory(),
                                                     core::helperScriptPath(), core::fileiconPath(), quit);
    if (darkFile) {
        icons::applyIcon(match.app, *darkFile, icons::IconAppearance::dark, core::cacheDirectory(),
                         core::helperScriptPath(), core::fileiconPath(), false);
    }
    return {.icon = match.icon,
            .app = match.app,
            .success = true,
            .appliedToBundle = result.appliedToBundle,
            .cachedFile = result.cachedFile,
            .message = result.message};
}

void CollectionsApplyCommand::run() {
    if (limit && *limit <= 0) throw core::ValidationError("--limit must be greater than zero");

    ResolvedCollection collection = resolveCollection(slug);
    const catalog::IconCollectionDetail& detail = collection.detail;
    const std::string source = dock ? "dock" : "applications";
    std::vector<CollectionMatch> matches =
        matchCollectionIconsToApps(detail.icons, apps::listInstalledApps(std::nullopt, dock));
    if (limit && static_cast<size_t>(*limit) < matches.size()) matches.resize(static_cast<size_t>(*limit));
    const icons::IconAppearance resolved = appearance.value_or(icons::currentAppearance());

    ApplyCollectionResponse response;
    response.collection = detail.summary();
    response.appearance = icons::rawValue(resolved);
    response.source = source;
    response.dryRun = dryRun;
    response.matched = static_cast<int>(matches.size());
    response.skipped = std::max(0, static_cast<int>(detail.icons.size()) - response.matched);

    if (dryRun) {
        if (json) {
            response.matches = matches;
            core::printJSON(response);
            return;
        }
        core::printLine("Dry run: " + std::to_string(matches.size()) + " installed match(es) for " +
                        detail.name + " [" + source + "]");
        for (const auto& match : matches) {
            core::printLine("  " + match.app.name + " ← " + match.icon.appName);
            core::printLine("    " + match.app.path);
        }
        return;
    }

    for (const auto& match : matches) {
        CollectionApplyItemResult item{.icon = match.icon, .app = match.app};
        try {
            item = applyItem(match, collection);
        } catch (const std::exception& error) {
            item.error = error.what();
        }
        (item.success ? response.applied : response.failed) += 1;
        response.results.push_back(std::move(item));
    }
    response.success = response.failed == 0;

    if (response.applied > 0 && !noRefresh) icons::refreshIconPresentation();

    if (json) {
        core::printJSON(response);
        return;
    }
    if (response.failed == 0) {
        core::printLine("✓ Applied " + std::to_string(response.applied) + " " + detail.name + " icon(s).");
        return;
    }
    core::printLine("Applied " + std::to_string(response.applied) + " " + detail.name + " icon(s); " +
                    std::to_string(response.failed) + " failed.");
    for (const auto& item : response.results) {
        if (!item.success)
            core::printLine("  ✗ " + item.app.name + ": " + item.error.value_or("unknown error"));
    }
}

} // namespace mivora::collections
