// Dock-icon composition: before an icon is applied, an optional script of the
// user's (run through uv with Pillow) can turn a styled icon into a Dock-ready
// one, using the application's current icon as a reference. Without the script
// (or with one that someone else owns or could change, which is never run) the
// icon passes through; with it but without an extractable app icon, the
// icon is normalised by our own rules instead. Each composition works in a
// fresh "mivora-compose-<UUID>" folder of the temporary folder.
#pragma once

#include "apps/installed_app.h"

#include <optional>
#include <string>

namespace mivora::icons {

// ~/Library/Application Support/com.quartelmisko.Mivora/compose/compose_dock_icon.py
const std::string& composeDockIconScriptPath();

// The icon file to use: the composition folder's "dock-ready.png" when one was
// made, else `iconPath` itself. The script runs in its own folder. Throws
// FileSystemError (folder creation) and the shell runner's CLIError (the script's run).
std::string composeDockIcon(const std::string& iconPath, const apps::InstalledApp& app);

// `folder`/dock-ready.png made by normalising the icon, or nothing when it
// does not load, render or write. Never throws.
std::optional<std::string> makeDockReadyIcon(const std::string& iconPath, const std::string& folder);

// Removes the composition folder that holds `iconPath`; any other location
// (the user's own file) is left alone. Never throws.
void removeComposeTempDirectory(const std::string& iconPath);

} // namespace mivora::icons
