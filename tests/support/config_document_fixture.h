// Configuration exchange documents for tests, written the way the desktop
// application writes them: the four keys in field order, the export date as
// seconds since 2001, image bytes as standard Base64. toJson() lets a test break
// one part of an otherwise valid document.
#pragma once

#include <string>
#include <vector>

#include "core/json.h"

namespace mivora::testing {

struct FixtureAlias {
    std::string appName;
    std::string aliasName;
};

struct FixtureIcon {
    std::string appPath;
    std::string appName;
    std::string iconFileName;
    std::string imageBytes;
};

struct ConfigDocument {
    std::vector<FixtureAlias> aliases;
    std::vector<FixtureIcon> icons;
    std::string version = "1.0";
    double exportDate = 726'000'000.5; // 2024-01-03 18:40:00.5 UTC

    core::Json toJson() const;
    // Indented with two blanks, as an exporting application might write it.
    std::string text() const { return toJson().dump(2) + "\n"; }
};

} // namespace mivora::testing
