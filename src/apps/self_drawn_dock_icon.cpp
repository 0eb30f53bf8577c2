#include "apps/self_drawn_dock_icon.h"

#include "apps/installed_app.h"
#include "platform/filesystem.h"
#include "platform/mapped_file.h"

namespace mivora::apps {

const std::map<std::string, std::string>& inAppIconPickerHints() {
    static const std::map<std::string, std::string> hints = {
        {"company.thebrowser.Browser", "Arc > Settings > Icon"},
        {"dev.warp.Warp-Stable", "Warp > Settings > Appearance > App Icon"},
        {"dev.warp.Warp-Preview", "Warp > Settings > Appearance > App Icon"},
    };
    return hints;
}

bool declaresDockTilePlugIn(const platform::PlistStrings& info) {
    auto plugIn = info.text("NSDockTilePlugIn");
    return plugIn && !plugIn->empty();
}

std::optional<SelfDrawnDockIcon> detectSelfDrawnDockIcon(const std::string& bundlePath,
                                                         const std::optional<std::string>& name) {
    return detectSelfDrawnDockIcon(bundlePath, name, readInfoStrings(bundlePath));
}

std::optional<SelfDrawnDockIcon> detectSelfDrawnDockIcon(const std::string& bundlePath,
                                                         const std::optional<std::string>& name,
                                                         const std::optional<platform::PlistStrings>& info) {
    if (!info || !declaresDockTilePlugIn(*info)) return std::nullopt;

    SelfDrawnDockIcon result;
    if (name) {
        result.displayName = *name;
    } else if (auto displayName = info->text("CFBundleDisplayName")) {
        result.displayName = *displayName;
    } else if (auto bundleName = info->text("CFBundleName")) {
        result.displayName = *bundleName;
    } else {
        result.displayName = platform::deletingPathExtension(platform::lastPathComponent(bundlePath));
    }

    const auto& hints = inAppIconPickerHints();
    if (auto hint = hints.find(std::string(info->text("CFBundleIdentifier").value_or("")));
        hint != hints.end()) {
        result.hint = hint->second;
        return result;
    }

    auto executable = info->text("CFBundleExecutable");
    if (!executable) return std::nullopt;
    std::string executablePath = platform::joinPath(bundlePath, "Contents/MacOS/" + std::string(*executable));
    if (platform::fileContainsBytes(executablePath, kSelfDrawnIconMarker, platform::read_limits::executable)
            .value_or(false))
        return result;
    return std::nullopt;
}

} // namespace mivora::apps
