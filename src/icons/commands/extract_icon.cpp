#include "icons/commands/extract_icon.h"

#include "apps/app_lookup.h"
#include "core/json.h"
#include "core/output.h"
#include "core/paths.h"
#include "icons/icon_extraction.h"

namespace mivora::icons {

core::CommandConfiguration ExtractIconCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "extract-icon";
    config.abstract = "Export an app's bundled icon to a PNG (for AI restyling)";
    config.discussion = "Extracts the app's primary bundled .icns as a square PNG master image.\n"
                        "Use this before AI image generation — never generate from the app name alone.\n"
                        "\n"
                        "Examples:\n"
                        "  mivora extract-icon Notion --out ~/notion-source.png --json\n"
                        "  mivora extract-icon /Applications/Cursor.app --out /tmp/cursor.png --size 1024";
    return config;
}

void ExtractIconCommand::declare(core::Arguments& arguments) {
    arguments.positional("app", app, "App name or path to .app bundle");
    arguments.option("out", out, "Output PNG path", {.completesFiles = true});
    arguments.option("size", size, "Output size in pixels (default: 1024)", {.hasDefault = true});
    arguments.flag("json", json, "Output JSON for agents");
}

void ExtractIconCommand::run() {
    const apps::InstalledApp application = apps::findApp(app);
    const std::string outputPath = core::resolveAppPath(out);
    const ExtractedIcon extracted = extractAppIcon(application, outputPath, size);
    if (json) {
        core::printJSON(extracted);
        return;
    }
    core::printLine("✓ Extracted icon for " + application.name);
    core::printLine("  Source: " + extracted.sourceIcns);
    core::printLine("  Output: " + extracted.outputPath + " (" + std::to_string(extracted.width) + "x" +
                    std::to_string(extracted.height) + ")");
}

} // namespace mivora::icons
