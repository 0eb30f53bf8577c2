// The private window-server framework's appearance switch. On this machine the
// framework is whatever shared library lies at its system-root location.
#pragma once

namespace mivora::platform {

// Switches the system appearance: true for dark.
using SetAppearanceThemeFunction = void (*)(bool dark);

// "SLSSetAppearanceThemeLegacy" of <root>/System/Library/PrivateFrameworks/
// SkyLight.framework/SkyLight, looked up once per process; nothing when the
// framework cannot be loaded or lacks the symbol.
SetAppearanceThemeFunction skyLightSetAppearanceTheme();

} // namespace mivora::platform
