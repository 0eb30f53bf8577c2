#include "collections/collections_status_command.h"

#include "apps/app_discovery.h"
#include "collections/local_collection_store.h"
#include "core/output.h"
#include "core/text.h"

#include <algorithm>

namespace mivora::collections {

namespace {

// How many names the text line shows before it cuts the list short.
constexpr size_t kNamesShown = 12;

const char* statusMark(const std::string& status) {
    if (status == "done") return "✓";
    if (status == "pending") return "…";
    if (status == "rejected") return "✗";
    return "⊘";
}

} // namespace

CollectionStatusItem CollectionStatusItem::of(const std::string& appSlug,
                                              const LocalCollectionIconEntry& entry) {
    return {appSlug, entry.appName, rawValue(entry.status), entry.dark, entry.reason};
}

core::Json CollectionStatusItem::toJson() const {
    core::Json json;
    json["appSlug"] = appSlug;
    json["appName"] = appName;
    json["status"] = status;
    json["dark"] = dark;
    core::setOptional(json, "reason", reason);
    return json;
}

core::Json CollectionStatusResponse::toJson() const {
    core::Json json;
    json["slug"] = slug;
    json["name"] = name;
    json["kind"] = kind;
    json["directory"] = directory;
    json["total"] = total;
    json["done"] = done;
    json["pending"] = pending;
    json["rejected"] = rejected;
    json["skipped"] = skipped;
    json["icons"] = core::jsonArray(icons);
    json["installedAppsWithoutEntry"] = installedAppsWithoutEntry;
    json["published"] = published;
    core::setOptional(json, "remoteSlug", remoteSlug);
    return json;
}

core::CommandConfiguration CollectionsStatusCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "status";
    config.abstract = "Show generation progress for a local collection";
    return config;
}

void CollectionsStatusCommand::declare(core::Arguments& arguments) {
    arguments.positional("slug", slug, "Collection slug");
    arguments.flag("dock", dock, "Compare against Dock apps (default: all installed apps)");
    arguments.flag("json", json, "Output JSON for agents");
}

void CollectionsStatusCommand::run() {
    if (!LocalCollectionManifest::exists(slug)) throw LocalCollectionError::notFound(slug);
    const LocalCollectionManifest manifest = LocalCollectionManifest::load(slug);

    CollectionStatusResponse reply;
    reply.slug = manifest.slug;
    reply.name = manifest.name;
    reply.directory = LocalCollectionManifest::collectionDirectory(slug);
    for (const auto& [key, entry] : manifest.icons) {
        reply.icons.push_back(CollectionStatusItem::of(key, entry));
        switch (entry.status) {
        case LocalCollectionIconStatus::done:
            ++reply.done;
            break;
        case LocalCollectionIconStatus::pending:
            ++reply.pending;
            break;
        case LocalCollectionIconStatus::rejected:
            ++reply.rejected;
            break;
        case LocalCollectionIconStatus::skipped:
            ++reply.skipped;
            break;
        }
    }
    reply.total = static_cast<int64_t>(reply.icons.size());
    std::stable_sort(reply.icons.begin(), reply.icons.end(), [](const auto& a, const auto& b) {
        return core::localizedCaseInsensitiveCompare(a.appName, b.appName) < 0;
    });
    for (const auto& app : apps::listInstalledApps(std::nullopt, dock)) {
        if (!manifest.icons.contains(slugify(app.name))) reply.installedAppsWithoutEntry.push_back(app.name);
    }
    std::stable_sort(reply.installedAppsWithoutEntry.begin(), reply.installedAppsWithoutEntry.end(),
                     core::CanonicalOrder());
    reply.remoteSlug = manifest.publish.remoteSlug;
    reply.published = reply.remoteSlug.has_value();

    if (json) {
        core::printJSON(reply);
        return;
    }
    std::string text = reply.name + " (" + reply.slug + ") — local collection\n";
    text += "  " + std::to_string(reply.done) + " done · " + std::to_string(reply.pending) + " pending · " +
            std::to_string(reply.rejected) + " rejected · " + std::to_string(reply.skipped) + " skipped\n";
    if (reply.remoteSlug) text += "  Published as: " + *reply.remoteSlug + "\n";
    for (const auto& item : reply.icons) {
        text += std::string("  ") + statusMark(item.status) + " " + item.appName;
        if (item.dark) text += " (+dark)";
        if (item.reason) text += " — " + *item.reason;
        text += "\n";
    }
    const auto& missing = reply.installedAppsWithoutEntry;
    if (!missing.empty()) {
        std::vector<std::string> shown(missing.begin(),
                                       missing.begin() + std::min(missing.size(), kNamesShown));
        text += std::string("  ") + (dock ? "Dock" : "Installed") + " apps without an entry (" +
                std::to_string(missing.size()) + "): " + core::joinStrings(shown, ", ");
        if (missing.size() > kNamesShown) text += ", …";
        text += "\n";
    }
    core::printText(text);
}

} // namespace mivora::collections
