// Application bundles that carry an icon file, and runs of the icon probe
// (the test driver of the icon functions) inside a sandbox.
#pragma once

#include "support/icns_writer.h"
#include "support/sandbox.h"

#include <string>
#include <vector>

namespace mivora::testing {

inline constexpr RGBA kIconRed{220, 30, 30, 255};
inline constexpr RGBA kIconBlue{30, 30, 220, 255};
inline constexpr RGBA kIconGreen{30, 200, 30, 255};

// ic07 (128 pixels, blue), ic10 (1024, red) and is32 (16, green, run-length):
// the largest member is not the first one.
std::string typicalIcns();

// <folder or root/Applications>/<name>.app with CFBundleIconFile "AppIcon" and
// Contents/Resources/AppIcon.icns holding `icns`.
std::string addAppWithIcon(const Sandbox& sandbox, const std::string& name, const std::string& icns,
                           const std::string& folder = "");

// A script in the sandbox's bin/ named `program` that logs its arguments to
// tmp/<program>.log (as Sandbox::loggedCalls reads them) and then runs our stand-in.
void installRecordingStandin(const Sandbox& sandbox, const std::string& program);

// Puts build/standins at the end of the sandbox's PATH, as the binary does for
// its children, for programs that do not find it themselves (the icons driver).
void appendStandinsToPath(Sandbox& sandbox);

// The pixels of a PNG file (fails the test and gives an empty bitmap when it does not decode).
image::Bitmap readPNGFile(const std::string& path);

} // namespace mivora::testing
