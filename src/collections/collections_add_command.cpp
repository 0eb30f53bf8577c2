#include "collections/collections_add_command.h"

#include "apps/app_lookup.h"
#include "collections/local_collection_icon_stager.h"
#include "collections/local_collection_store.h"
#include "core/errors.h"
#include "core/output.h"
#include "platform/file_lock.h"
#include "platform/filesystem.h"

#include <algorithm>
#include <limits>

namespace mivora::collections {

namespace {

int64_t countWithStatus(const LocalCollectionManifest& manifest, LocalCollectionIconStatus status) {
    return std::count_if(manifest.icons.begin(), manifest.icons.end(),
                         [status](const auto& item) { return item.second.status == status; });
}

} // namespace

core::Json AddCollectionIconResponse::toJson() const {
    core::Json json;
    json["success"] = success;
    json["slug"] = slug;
    json["appSlug"] = appSlug;
    json["appName"] = appName;
    json["iconPath"] = iconPath;
    core::setOptional(json, "darkIconPath", darkIconPath);
    json["normalized"] = normalized;
    core::setOptional(json, "warning", warning);
    json["done"] = done;
    json["pending"] = pending;
    return json;
}

core::CommandConfiguration CollectionsAddCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "add";
    config.abstract = "Validate, normalize, and stage one app's icon into a local collection";
    config.discussion = "The quality gate for generated icons. The image is normalized for the Dock\n"
                        "(1024x1024 RGBA, 824px footprint, squircle alpha clip) and rejected if it\n"
                        "would render as a broken square tile. Raw input is kept under raw/ for\n"
                        "debugging.\n"
                        "\n"
                        "Examples:\n"
                        "  mivora collections add naruto Notion /tmp/notion-styled.png\n"
                        "  mivora collections add naruto Notion /tmp/notion-light.png --dark-image "
                        "/tmp/notion-dark.png\n"
                        "  mivora collections add naruto \"Cool App\" icon.png --raw --force";
    return config;
}

void CollectionsAddCommand::declare(core::Arguments& arguments) {
    arguments.positional("slug", slug, "Collection slug");
    arguments.positional("app", app, "App name or path (used for slug + footprint reference)");
    arguments.positional("image", image, "Path to the styled image (light variant)",
                         {.completesFiles = true});
    arguments.option("dark-image", darkImage, "Optional dark-mode variant image", {.completesFiles = true});
    arguments.flag("raw", raw, "Skip Dock normalization (image is already composed)");
    arguments.flag("force", force, "Stage even if the icon fails Dock-readiness checks");
    arguments.flag("json", json, "Output JSON for agents");
}

void CollectionsAddCommand::run() {
    if (!LocalCollectionManifest::exists(slug)) throw LocalCollectionError::notFound(slug);
    // A manifest that cannot be read stops us before any image is staged.
    LocalCollectionManifest manifest = LocalCollectionManifest::load(slug);

    std::optional<apps::InstalledApp> application;
    try {
        application = apps::findApp(app);
    } catch (const std::exception&) {
        // Not installed here: the entry is still made, named as typed.
    }
    const std::string appName = application ? application->name : app;
    const std::string appSlug = slugify(appName);
    if (appSlug.empty()) throw core::ValidationError("Could not derive an app slug from \"" + app + "\".");

    std::optional<image::Image> reference;
    if (application) reference = LocalCollectionIconStager::referenceImage(*application);

    // The pixel work is done first, outside the collection's turn, so that runs
    // adding to one collection overlap it; a dark image that cannot be read
    // stops the run before anything is written.
    const std::string preparedIn = LocalCollectionManifest::writableCollectionDirectory(slug);
    const auto preparedLight =
        LocalCollectionIconStager::prepare(image, preparedIn, appSlug, false, raw, force, reference);
    std::optional<LocalCollectionIconStager::PreparedIcon> preparedDark;
    if (darkImage && !preparedLight.refusal)
        preparedDark =
            LocalCollectionIconStager::prepare(*darkImage, preparedIn, appSlug, true, raw, force, reference);

    // The files are written and flushed now as well, beside where they go, so
    // that the turn only renames them into place.
    auto lightAhead = LocalCollectionIconStager::writeAhead(preparedLight, preparedIn);
    std::optional<LocalCollectionIconStager::WrittenAhead> darkAhead;
    if (preparedDark) darkAhead = LocalCollectionIconStager::writeAhead(*preparedDark, preparedIn);

    // The staged files and the entry that names them go into one folder, the
    // one at the slug once the collection's turn comes (it may have been
    // replaced meanwhile: what was written ahead into the old one is then
    // removed and written again), and no other run changes them in between.
    platform::FileLock turn = LocalCollectionManifest::lock(slug);
    if (!LocalCollectionManifest::exists(slug)) throw LocalCollectionError::notFound(slug);
    manifest = LocalCollectionManifest::load(slug);

    // Staging replaces icon files: a manifest that could not record them is refused first.
    platform::checkWritable(LocalCollectionManifest::manifestPath(slug));
    const std::string folder = LocalCollectionManifest::writableCollectionDirectory(slug);
    const auto light = LocalCollectionIconStager::write(preparedLight, folder, &lightAhead);
    std::optional<LocalCollectionIconStager::StagedIcon> dark;
    if (preparedDark) dark = LocalCollectionIconStager::write(*preparedDark, folder, &*darkAhead);

    LocalCollectionIconEntry entry;
    if (auto existing = manifest.icons.find(appSlug); existing != manifest.icons.end())
        entry = existing->second;
    entry.appName = appName;
    entry.status = LocalCollectionIconStatus::done;
    // A counter at the top of the 64-bit range stays there rather than wrapping negative.
    if (entry.attempts < std::numeric_limits<int64_t>::max()) entry.attempts += 1;
    entry.dark = dark.has_value();
    entry.reason.reset();
    entry.updatedAt = manifestNow();
    manifest.icons.insert_or_assign(appSlug, entry);
    LocalCollectionManifest::save(manifest, slug);

    AddCollectionIconResponse reply;
    reply.slug = slug;
    reply.appSlug = appSlug;
    reply.appName = appName;
    reply.iconPath = light.outputURL;
    if (dark) reply.darkIconPath = dark->outputURL;
    reply.normalized = light.normalized;
    reply.warning = light.warning;
    reply.done = countWithStatus(manifest, LocalCollectionIconStatus::done);
    reply.pending = countWithStatus(manifest, LocalCollectionIconStatus::pending);
    if (json) {
        core::printJSON(reply);
        return;
    }
    std::string text = "✓ Staged " + appName + " → " + slug + "/icons/" + appSlug + ".png\n";
    if (dark) text += "  Dark variant: " + dark->outputURL + "\n";
    if (light.warning) text += "  ⚠ " + *light.warning + "\n";
    text += "  Progress: " + std::to_string(reply.done) + " done, " + std::to_string(reply.pending) +
            " pending\n";
    core::printText(text);
}

} // namespace mivora::collections
