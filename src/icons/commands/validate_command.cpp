#include "icons/commands/validate_command.h"

#include "core/errors.h"
#include "core/output.h"
#include "core/paths.h"
#include "icons/commands/config_document.h"
#include "platform/filesystem.h"
#include "platform/formatting.h"

#include <cstdint>
#include <vector>

namespace mivora::icons {

namespace {

std::vector<std::string> contentWarnings(const AppConfiguration& configuration) {
    std::vector<std::string> warnings;
    for (const auto& alias : configuration.appAliases) {
        if (alias.appName.empty()) warnings.emplace_back("Empty app name in alias entry");
        if (alias.aliasName.empty()) warnings.push_back("Empty alias name for '" + alias.appName + "'");
    }
    for (const auto& icon : configuration.cachedIcons) {
        if (icon.iconData.empty()) warnings.push_back("Empty icon data for '" + icon.appName + "'");
        if (!platform::fileExists(icon.appPath)) {
            warnings.push_back("App not found: " + icon.appPath + " (" + icon.appName + ")");
        }
    }
    return warnings;
}

} // namespace

core::CommandConfiguration ValidateCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "validate";
    config.abstract = "Validate a configuration file";
    return config;
}

void ValidateCommand::declare(core::Arguments& arguments) {
    arguments.positional("config-path", configPath, "Path to configuration file (.json)",
                         {.completesFiles = true});
}

void ValidateCommand::run() {
    std::string path = core::resolveAppPath(configPath);
    if (!platform::itemExists(path)) throw core::CLIError::fileNotFound("File not found: " + path);
    AppConfiguration configuration;
    try {
        configuration = readConfigurationFile(path).configuration;
    } catch (const ConfigurationReadError& error) {
        core::printLine(std::string("✗ Invalid configuration: ") + error.what());
        throw core::ExitCode::failure();
    }
    uint64_t iconBytes = 0;
    for (const auto& icon : configuration.cachedIcons)
        iconBytes += icon.iconData.size();

    core::printLine("✓ Valid configuration file");
    core::printLine("  Version:     " + configuration.version);
    core::printLine("  Export date: " + platform::formatMediumDateTime(configuration.exportDate));
    core::printLine("  Aliases:     " + std::to_string(configuration.appAliases.size()));
    core::printLine("  Icons:       " + std::to_string(configuration.cachedIcons.size()));
    core::printLine("  Icon data:   " + platform::formatByteCount(iconBytes));

    auto warnings = contentWarnings(configuration);
    if (!warnings.empty()) {
        core::printLine("");
        core::printLine("Warnings:");
        for (const auto& warning : warnings)
            core::printLine("  ⚠ " + warning);
    }
}

} // namespace mivora::icons
