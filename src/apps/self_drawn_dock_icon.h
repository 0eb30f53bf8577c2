// Recognises, from the bundle alone, an application that draws its own Dock
// icon at run time (a Dock-tile plug-in plus code that sets its icon image), on
// which a custom icon never shows in the Dock.
#pragma once

#include "platform/property_list.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace mivora::apps {

struct SelfDrawnDockIcon {
    std::string displayName;
    std::optional<std::string> hint; // where the application's own icon picker is, when known
};

// Bundle identifier -> where that application's own icon picker is.
const std::map<std::string, std::string>& inAppIconPickerHints();

// The bytes whose presence in the main executable betrays code that sets the
// application's icon image.
inline constexpr std::string_view kSelfDrawnIconMarker = "applicationIconImage";

// Whether an Info.plist declares a Dock-tile plug-in (a non-empty
// "NSDockTilePlugIn"): only such a bundle can draw its own Dock icon.
bool declaresDockTilePlugIn(const platform::PlistStrings& info);

// A result only for a bundle that declares a Dock-tile plug-in and is either in
// the hint table or has the marker in its main executable. `name` is the name
// the caller already knows (else the bundle's display name, bundle name, or
// file name). Never fails: anything unreadable gives nothing.
std::optional<SelfDrawnDockIcon> detectSelfDrawnDockIcon(const std::string& bundlePath,
                                                         const std::optional<std::string>& name);
// The same with the text values of the bundle's Info.plist already read
// (nothing: it could not be read).
std::optional<SelfDrawnDockIcon> detectSelfDrawnDockIcon(const std::string& bundlePath,
                                                         const std::optional<std::string>& name,
                                                         const std::optional<platform::PlistStrings>& info);

} // namespace mivora::apps
