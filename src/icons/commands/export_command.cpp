#include "icons/commands/export_command.h"

#include "core/errors.h"
#include "core/locations.h"
#include "core/output.h"
#include "core/paths.h"
#include "icons/commands/config_document.h"
#include "platform/filesystem.h"

namespace mivora::icons {

core::CommandConfiguration ExportCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "export";
    config.abstract = "Export Mivora configuration";
    return config;
}

void ExportCommand::declare(core::Arguments& arguments) {
    arguments.positional("output-path", outputPath, "Path to save the configuration file",
                         {.completesFiles = true});
    arguments.flag("force", force, "Overwrite existing file without prompting", {.shortName = 'f'});
}

void ExportCommand::run() {
    std::string out = core::resolveAppPath(outputPath);
    std::string source = platform::joinPath(core::configDirectory(), "latest_export.json");
    if (!platform::itemExists(source)) {
        throw core::CLIError::fileNotFound("No exported configuration found.\n"
                                           "Use the Mivora app to export your configuration first,\n"
                                           "or use: mivora export-direct <path>");
    }
    if (platform::itemExists(out) && !force) {
        core::printLine("File already exists: " + out);
        core::printLine("Use --force to overwrite.");
        throw core::ExitCode::failure();
    }
    // Decoded only to refuse copying a broken file; the copy is of the bytes as they are.
    ConfigurationFile file = readConfigurationFile(source);
    platform::createDirectories(platform::parentPath(out));
    platform::writeFileAtomically(out, file.bytes);
    core::printLine("✓ Configuration exported to " + out);
}

} // namespace mivora::icons
