// Application lookup: what a user types for an application (a name, a bundle
// identifier, a path to a bundle) turned into one InstalledApp, or into an
// AppDiscoveryError whose message says what to type instead.
#pragma once

#include "apps/installed_app.h"

#include <string>

namespace mivora::apps {

// Strict: an argument ending in ".app" must name an existing path; any other
// argument must pick one installed application, by exact name or bundle
// identifier, else by a single whole-word match, else as the only candidate
// one of whose words starts with it. Throws AppDiscoveryError.
InstalledApp findApp(const std::string& argument);

// Lenient: any existing path (bundle, folder or file) is taken as it is;
// anything else goes through findApp.
InstalledApp resolveAppArgument(const std::string& argument);

} // namespace mivora::apps
