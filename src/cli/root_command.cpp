#include "cli/root_command.h"

#include "apps/apps_command.h"
#include "apps/quit_app_command.h"
#include "catalog/apply_from_catalog_command.h"
#include "catalog/search_icons_command.h"
#include "cli/completions_command.h"
#include "collections/collections_command.h"
#include "icons/commands/escape_jail_command.h"
#include "icons/commands/export_command.h"
#include "icons/commands/extract_icon.h"
#include "icons/commands/import_command.h"
#include "icons/commands/list_command.h"
#include "icons/commands/refresh_dock_command.h"
#include "icons/commands/remove_dark_icon_command.h"
#include "icons/commands/remove_icon_command.h"
#include "icons/commands/restore_command.h"
#include "icons/commands/set_icon_command.h"
#include "icons/commands/status_command.h"
#include "icons/commands/validate_command.h"

namespace mivora::cli {

core::CommandConfiguration MivoraCLI::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "mivora";
    config.abstract = "Command-line interface for Mivora — manage macOS app icons";
    config.version = kVersion;
    // The order of this list is the order of the help screen.
    config.subcommands = {
        core::makeCommand<icons::StatusCommand>,
        core::makeCommand<icons::ListCommand>,
        core::makeCommand<apps::AppsCommand>,
        core::makeCommand<icons::ExtractIconCommand>,
        core::makeCommand<apps::QuitAppCommand>,
        core::makeCommand<catalog::SearchIconsCommand>,
        core::makeCommand<catalog::ApplyFromCatalogCommand>,
        core::makeCommand<collections::CollectionsCommand>,
        core::makeCommand<icons::SetIconCommand>,
        core::makeCommand<icons::RemoveIconCommand>,
        core::makeCommand<icons::RemoveDarkIconCommand>,
        core::makeCommand<icons::RestoreCommand>,
        core::makeCommand<icons::ImportCommand>,
        core::makeCommand<icons::ExportCommand>,
        core::makeCommand<icons::ValidateCommand>,
        core::makeCommand<icons::EscapeJailCommand>,
        core::makeCommand<icons::RefreshDockCommand>,
        core::makeCommand<CompletionsCommand>,
    };
    return config;
}

} // namespace mivora::cli
