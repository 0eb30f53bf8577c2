// Icon extraction: the icon an application bundle carries (its .icns file)
// written as a square PNG of a requested side, through the system's iconutil
// and sips programs run by the shell runner.
#pragma once

#include "apps/installed_app.h"
#include "core/errors.h"
#include "core/json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace mivora::icons {

class IconExtractionError : public core::MessageError {
public:
    enum class Kind { iconNotFound };

    IconExtractionError(Kind kind, const std::string& message) : MessageError(message), kind_(kind) {}
    Kind kind() const { return kind_; }

    static IconExtractionError iconNotFound(const std::string& m) { return {Kind::iconNotFound, m}; }

private:
    Kind kind_;
};

// The result of an extraction, and the JSON reply of extract-icon.
struct ExtractedIcon {
    apps::InstalledApp app;
    std::string sourceIcns; // the .icns file used
    std::string outputPath; // the PNG written
    int64_t width = 0;      // as sips reports it for the written file, 0 when it does not
    int64_t height = 0;

    core::Json toJson() const;
    // All five keys are required; throws nlohmann's errors.
    static ExtractedIcon fromJson(const core::Json& json);
    bool operator==(const ExtractedIcon&) const = default;
};

// The one rule for a bundle's icon file, for everything that reads or hands
// one on (extraction, hence the Dock composition and collections add, and
// escape-jail, whose helper reads it as root): `path`, as the bundle names it,
// is used when a regular file is there whose resolved location lies inside the
// bundle's resolved folder. A link within the bundle is fine; a link out, or a
// Contents that is a link out of the bundle, names nothing. Returns the
// resolved path, so that what was checked is what is read.
std::optional<std::string> bundleIconFile(const std::string& appPath, const std::string& path);

// The bundle's icon file: Info.plist's CFBundleIconFile (".icns" added unless
// present) in Contents/Resources, else the first .icns there by name that is a
// file of the bundle; both under bundleIconFile's rule. Throws IconExtractionError.
std::string findAppIcns(const std::string& appPath);

// The pixel area a file name announces: "icon_16x16@2x.png" gives 32 x 32 = 1024;
// 0 without a width-x-height pattern.
int64_t iconSizeFromFileName(const std::string& name);

// The PNG of an iconset folder whose name announces the largest area (the
// first listed among equals), or nothing.
std::optional<std::string> largestIconsetPNG(const std::string& iconsetPath);

// (width, height) as `sips -g pixelWidth -g pixelHeight` reports them, 0 for a
// size it does not report. Throws the shell runner's CLIError.
std::pair<int64_t, int64_t> readPixelSize(const std::string& filePath);

// Writes the app's icon as a size x size PNG at outputPath (replacing a file
// there, creating its folder). Throws IconExtractionError, CLIError or FileSystemError.
ExtractedIcon extractAppIcon(const apps::InstalledApp& app, const std::string& outputPath, int64_t size);

} // namespace mivora::icons
