#include "icons/dock_icon_composition.h"

#include "core/locations.h"
#include "core/shell.h"
#include "core/text.h"
#include "icons/icon_extraction.h"
#include "icons/icon_normalization.h"
#include "icons/icon_rendering.h"
#include "platform/environment.h"
#include "platform/filesystem.h"
#include "platform/image/image.h"

namespace mivora::icons {

namespace {
constexpr const char* kComposeFolderPrefix = "mivora-compose-";
constexpr double kShellTimeout = 15;

// The script runs with the user's rights, so only one that no one else could
// have put in place or changed is run: the script (where a link leads) and the
// folders of the link and of the file must be the user's and writable by no one
// else. The folder the script really lives in, or nothing.
std::optional<std::string> trustedScriptFolder(const std::string& script) {
    auto resolved = platform::resolveSymbolicLinks(script);
    if (!resolved || !platform::isRegularFile(*resolved)) return std::nullopt;
    const std::string folder = platform::parentPath(*resolved);
    for (const auto& path : {platform::parentPath(script), *resolved, folder}) {
        if (!platform::isWritableOnlyByUser(path)) return std::nullopt;
    }
    return folder;
}
} // namespace

const std::string& composeDockIconScriptPath() {
    // Not core::appSupportDirectory(): looking for the script must not create folders.
    static const std::string path = platform::homeDirectory() + "/Library/Application Support/" +
                                    core::kBundleIdentifier + "/compose/compose_dock_icon.py";
    return path;
}

std::string composeDockIcon(const std::string& iconPath, const apps::InstalledApp& app) {
    const std::string& script = composeDockIconScriptPath();
    // A script that is missing or not to be trusted: no composition, as if there were none.
    const auto scriptFolder = trustedScriptFolder(script);
    if (!scriptFolder) return iconPath;
    const std::string folder = platform::newTemporaryPath(kComposeFolderPrefix);
    platform::createDirectories(folder);
    const std::string source = folder + "/source-1024.png";
    const std::string output = folder + "/dock-ready.png";
    try {
        extractAppIcon(app, source, 1024);
    } catch (const std::exception&) {
        return makeDockReadyIcon(iconPath, folder).value_or(iconPath);
    }
    core::runShell("uv run --with pillow python " + core::shellQuote(script) + " --styled " +
                       core::shellQuote(iconPath) + " --source " + core::shellQuote(source) + " --out " +
                       core::shellQuote(output),
                   // In the script's own folder: a project file of the caller's
                   // current folder could change what uv installs and runs.
                   kShellTimeout, *scriptFolder);
    return platform::fileExists(output) ? output : iconPath;
}

std::optional<std::string> makeDockReadyIcon(const std::string& iconPath, const std::string& folder) {
    try {
        auto picture = image::loadImage(iconPath);
        if (!picture) return std::nullopt;
        auto png = LocalCollectionIconStager::renderPNG(normalizeIconImage(*picture, std::nullopt), 1024);
        if (!png) return std::nullopt;
        const std::string output = folder + "/dock-ready.png";
        platform::writeFileAtomically(output, *png);
        return output;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void removeComposeTempDirectory(const std::string& iconPath) {
    const std::string folder = platform::parentPath(iconPath);
    if (!core::startsWith(platform::lastPathComponent(folder), kComposeFolderPrefix)) return;
    const auto standardized = [](const std::string& path) {
        return platform::droppingTrailingSlash(platform::standardizePath(path));
    };
    if (standardized(platform::parentPath(folder)) != standardized(platform::temporaryDirectory())) return;
    platform::removeItemQuietly(folder);
}

} // namespace mivora::icons
