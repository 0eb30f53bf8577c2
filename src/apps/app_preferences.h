// The desktop application's preferences, read directly from its preference
// file (never through the preferences system, never written), and the
// application aliases it keeps there.
#pragma once

#include "core/text.h"
#include "platform/property_list.h"

#include <map>
#include <string>

namespace mivora::apps {

// The whole preference file appDefaultsPath() as a dictionary; an empty
// dictionary when the file is missing, unreadable, not a property list or not
// a dictionary at its top level.
platform::Plist readAppDefaults();

// Application name -> alias, in the plain order of names; canonically
// equivalent names are one key.
using Aliases = std::map<std::string, std::string, core::CanonicalOrder>;

// The aliases held as a JSON object in the data under "AliasName"; empty when
// there is none or any part of it cannot be decoded.
Aliases loadAliases();

// The rules of the two readers above for any preference file and any
// preferences dictionary.
platform::Plist readPreferenceFile(const std::string& path);
Aliases aliasesFromDefaults(platform::PlistView defaults);

} // namespace mivora::apps
