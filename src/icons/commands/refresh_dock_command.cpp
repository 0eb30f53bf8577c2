#include "icons/commands/refresh_dock_command.h"

#include "core/output.h"
#include "icons/appearance.h"

namespace mivora::icons {

core::CommandConfiguration RefreshDockCommand::configuration() const {
    core::CommandConfiguration config;
    config.commandName = "refresh-dock";
    config.abstract = "Refresh icon presentation: appearance nudge + Dock/Finder restart";
    config.discussion = "Run after batched applies that used --no-refresh, so the (briefly visible)\n"
                        "appearance flip and Dock restart happen once instead of per icon.\n"
                        "A Dock restart alone is NOT enough — macOS serves cached tiles until the\n"
                        "appearance nudge forces every running app and the Dock to reload icons.";
    return config;
}

void RefreshDockCommand::declare(core::Arguments& arguments) {
    arguments.flag("dock-only", dockOnly, "Only restart the Dock/Finder; skip the appearance nudge");
}

void RefreshDockCommand::run() {
    if (dockOnly) restartDockAndFinder();
    else refreshIconPresentation();
    core::printLine("✓ Icon presentation refreshed");
}

} // namespace mivora::icons
