#include "icons/commands/import_command.h"

#include "core/errors.h"
#include "core/locations.h"
#include "core/output.h"
#include "core/paths.h"
#include "icons/commands/config_document.h"
#include "platform/file_lock.h"
#include "platform/filesystem.h"

namespace mivora::icons {

core::CommandConfiguration ImportCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "import";
    config.abstract = "Import a Mivora configuration";
    return config;
}

void ImportCommand::declare(core::Arguments& arguments) {
    arguments.positional("config-path", configPath, "Path to configuration file (.json)",
                         {.completesFiles = true});
    arguments.flag("dry-run", dryRun, "Validate the configuration without importing", {.shortName = 'd'});
}

void ImportCommand::run() {
    std::string path = core::resolveAppPath(configPath);
    if (!platform::itemExists(path))
        throw core::CLIError::fileNotFound("Configuration file not found: " + path);
    ConfigurationFile file;
    try {
        file = readConfigurationFile(path);
    } catch (const ConfigurationReadError& error) {
        throw core::CLIError::invalidConfig(std::string("Invalid configuration file: ") + error.what());
    }
    core::printLine("Configuration: v" + file.configuration.version);
    core::printLine("  Aliases: " + std::to_string(file.configuration.appAliases.size()));
    core::printLine("  Icons:   " + std::to_string(file.configuration.cachedIcons.size()));
    if (dryRun) {
        core::printLine("");
        core::printLine("Dry run — no changes made.");
        return;
    }
    // The staged bytes are the very bytes that were checked, not a second read that could differ.
    // Both files are checked first, so that no staged document is replaced without its marker.
    const std::string staged = platform::joinPath(core::configDirectory(), "imported_config.json");
    const std::string marker = platform::joinPath(core::configDirectory(), "pending_import");
    // The document and its marker are staged by one run at a time.
    platform::FileLock lock = platform::FileLock::folder(core::configDirectory(), staged);
    platform::checkWritable(staged);
    platform::checkWritable(marker);
    platform::writeFileAtomically(staged, file.bytes);
    platform::writeFileAtomically(marker, "");
    core::printLine("");
    core::printLine("✓ Configuration staged for import.");
    core::printLine("  Restart Mivora to apply changes.");
}

} // namespace mivora::icons
