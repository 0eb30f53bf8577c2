#include "collections/collections_mark_command.h"

#include "apps/app_lookup.h"
#include "collections/collections_status_command.h"
#include "collections/local_collection_store.h"
#include "core/errors.h"
#include "core/json.h"
#include "core/output.h"

namespace mivora::collections {

core::CommandConfiguration CollectionsMarkCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "mark";
    config.abstract = "Mark an app entry as pending, rejected, or skipped";
    config.discussion =
        "Lets an agent (or you) record why an icon is not done yet, so a resumed\n"
        "session knows what to retry.\n"
        "\n"
        "Examples:\n"
        "  mivora collections mark naruto Notion --status rejected --reason \"logo mutated\"\n"
        "  mivora collections mark naruto Xcode --status skipped --reason \"no extractable icon\"";
    return config;
}

void CollectionsMarkCommand::declare(core::Arguments& arguments) {
    arguments.positional("slug", slug, "Collection slug");
    arguments.positional("app", app, "App name (or app slug already in the manifest)");
    arguments.option("status", status, "New status: pending, rejected, or skipped");
    arguments.option("reason", reason, "Reason to record");
    arguments.flag("json", json, "Output JSON for agents");
}

void CollectionsMarkCommand::run() {
    auto newStatus = localCollectionIconStatus(status);
    if (!newStatus || *newStatus == LocalCollectionIconStatus::done)
        throw core::ValidationError(
            "--status must be pending, rejected, or skipped (use `add` to mark done).");

    if (!LocalCollectionManifest::exists(slug)) throw LocalCollectionError::notFound(slug);

    std::string name = app;
    try {
        name = apps::findApp(app).name;
    } catch (const std::exception&) {
        // Not installed here: the argument names the entry.
    }
    // The key and the fields kept come from the manifest as it stands under its lock.
    std::string key;
    LocalCollectionIconEntry entry;
    LocalCollectionManifest::update(slug, [&](LocalCollectionManifest& manifest) {
        // An entry of the application's slug, else one keyed exactly as typed, else a new one.
        key = slugify(name);
        if (!manifest.icons.contains(key) && manifest.icons.contains(app)) key = app;
        entry = {};
        if (auto existing = manifest.icons.find(key); existing != manifest.icons.end()) {
            entry = existing->second;
        } else {
            entry.appName = name;
        }
        entry.status = *newStatus;
        entry.reason = reason;
        entry.updatedAt = manifestNow();
        manifest.icons.insert_or_assign(key, entry);
    });

    if (json) {
        core::printJSON(CollectionStatusItem::of(key, entry));
        return;
    }
    std::string line = "✓ " + entry.appName + ": " + rawValue(entry.status);
    if (reason) line += " — " + *reason;
    core::printLine(line);
}

} // namespace mivora::collections
