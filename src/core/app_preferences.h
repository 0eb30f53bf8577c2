// The desktop application's preferences, read directly from its preference
// file (never through the preferences system, never written), and the
// application aliases it keeps there.
#pragma once

#include <map>
#include <string>

#include "platform/property_list.h"

namespace mivora::core {

// The whole preference file appDefaultsPath() as a dictionary; an empty
// dictionary when the file is missing, unreadable, not a property list or not
// a dictionary at its top level.
platform::Plist readAppDefaults();

// Application name -> alias, from the JSON object held as data under
// "AliasName"; empty when there is none or any part of it cannot be decoded.
std::map<std::string, std::string> loadAliases();

// The rules of the two readers above for any preference file and any
// preferences dictionary.
platform::Plist readPreferenceFile(const std::string& path);
std::map<std::string, std::string> aliasesFromDefaults(platform::PlistView defaults);

} // namespace mivora::core
