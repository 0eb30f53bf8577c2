#include "collections/collections_create_command.h"

#include "apps/app_discovery.h"
#include "apps/app_lookup.h"
#include "catalog/catalog_constants.h"
#include "collections/local_collection_store.h"
#include "core/errors.h"
#include "core/output.h"
#include "core/paths.h"
#include "core/shell.h"
#include "core/text.h"
#include "platform/file_reading.h"
#include "platform/filesystem.h"

namespace mivora::collections {

namespace {

// The applications named in --apps, each looked up, or taken by its text when lookup finds none.
std::vector<apps::InstalledApp> namedApps(const std::string& list) {
    std::vector<apps::InstalledApp> apps;
    for (const std::string& piece : core::splitString(list, ',', true)) {
        std::string name = core::trimBlanks(piece);
        if (name.empty()) continue;
        try {
            apps.push_back(apps::findApp(name));
        } catch (const std::exception&) {
            apps.push_back(apps::InstalledApp{name, "", std::nullopt, std::nullopt});
        }
    }
    return apps;
}

std::string readPromptFile(const std::string& argument) {
    std::string path = core::resolveAppPath(argument);
    std::string text = platform::readFileContents(path, platform::read_limits::prompt);
    if (!core::isValidUTF8(text))
        throw platform::FileSystemError("Cannot read " + path + ": the file is not UTF-8 text");
    return core::trimWhitespace(text);
}

} // namespace

core::Json CreateCollectionResponse::toJson() const {
    core::Json json;
    json["success"] = success;
    json["slug"] = slug;
    json["name"] = name;
    json["directory"] = directory;
    json["manifest"] = manifest;
    json["seededApps"] = seededApps;
    json["nextSteps"] = nextSteps;
    return json;
}

core::CommandConfiguration CollectionsCreateCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "create";
    config.abstract = "Scaffold a new local collection (manifest + folders)";
    config.discussion =
        "Creates ~/Library/Application Support/com.quartelmisko.Mivora/collections/<slug>/\n"
        "with a manifest that tracks per-app generation status. Seed the app list with\n"
        "--dock or --apps so agents know exactly what is left to generate.\n"
        "\n"
        "Examples:\n"
        "  mivora collections create naruto --name \"Naruto\" --dock --prompt \"bold anime cel-shading\"\n"
        "  mivora collections create --name \"Deep Sea\" --apps \"Safari,Notion,Xcode\"";
    return config;
}

void CollectionsCreateCommand::declare(core::Arguments& arguments) {
    arguments.positional(
        "slug", slug,
        "Collection slug (lowercase letters, digits, dashes). Derived from --name when omitted.");
    arguments.option("name", name, "Display name (defaults to the titleized slug)");
    arguments.option("description", description, "One-line description shown in the catalog",
                     {.hasDefault = true});
    arguments.option("accent", accent, "Accent color as #rrggbb", {.hasDefault = true});
    arguments.option("prompt", prompt,
                     "Style prompt to record in the manifest (style only — never app names)");
    arguments.option("prompt-file", promptFile, "Read the style prompt from a file",
                     {.completesFiles = true});
    arguments.option("provider", provider, "Provider label to record (metaai, openai, agent, ...)");
    arguments.flag("dock", dock, "Seed pending entries for every app pinned in the Dock");
    arguments.flag("all-apps", allApps, "Seed pending entries for every installed app");
    arguments.option("apps", apps, "Seed pending entries for a comma-separated list of app names");
    arguments.flag("json", json, "Output JSON for agents");
}

std::vector<std::string> CollectionsCreateCommand::nextSteps(const std::string& slug) {
    return {
        "mivora extract-icon <App> --out /tmp/<app>-source.png   # source for image-edit",
        "mivora collections add " + slug + " <App> <styled.png>   # validate + stage",
        "mivora collections status " + slug + " --json",
        "mivora collections apply " + slug + " --dock",
        "mivora collections publish " + slug + "   # share on " + catalog::kCatalogSiteHost,
    };
}

void CollectionsCreateCommand::run() {
    if (!slug && !name) throw core::ValidationError("Provide a slug argument or --name.");

    LocalCollectionManifest manifest;
    manifest.schema = 1;
    manifest.slug = slug ? *slug : collections::slugify(*name);
    manifest.name = name ? *name : titleizeSlug(manifest.slug);
    manifest.description = description;
    manifest.accent = accent;
    manifest.stylePrompt = promptFile ? std::optional(readPromptFile(*promptFile)) : prompt;
    manifest.provider = provider;
    manifest.createdAt = manifestNow();

    std::vector<apps::InstalledApp> seeds;
    if (dock)
        seeds = apps::listInstalledApps(std::nullopt, true);
    else if (allApps)
        seeds = apps::listInstalledApps(std::nullopt, false);
    else if (apps)
        seeds = namedApps(*apps);
    for (const auto& seed : seeds) {
        LocalCollectionIconEntry entry;
        entry.appName = seed.name;
        entry.updatedAt = manifestNow();
        // A later application whose name gives the same slug replaces the earlier one.
        manifest.icons.insert_or_assign(slugify(seed.name), std::move(entry));
    }

    LocalCollectionManifest::create(manifest);

    CreateCollectionResponse reply;
    reply.slug = manifest.slug;
    reply.name = manifest.name;
    reply.directory = LocalCollectionManifest::collectionDirectory(manifest.slug);
    reply.manifest = LocalCollectionManifest::manifestPath(manifest.slug);
    reply.seededApps = static_cast<int64_t>(manifest.icons.size());
    reply.nextSteps = nextSteps(manifest.slug);
    if (json) {
        core::printJSON(reply);
        return;
    }
    std::string text = "✓ Created collection \"" + reply.name + "\" (" + reply.slug + ")\n";
    text += "  Folder: " + reply.directory + "\n";
    if (reply.seededApps != 0) text += "  Seeded " + std::to_string(reply.seededApps) + " pending app(s).\n";
    text += "\nNext steps:\n";
    for (const auto& step : reply.nextSteps)
        text += "  " + step + "\n";
    core::printText(text);
}

} // namespace mivora::collections
