// The configuration exchange document: the JSON file in which the desktop
// application exports its aliases and cached icons (with their image bytes) and
// from which it imports them. The tool only reads it; import and export copy the
// file's bytes unchanged and never write one of their own.
#pragma once

#include "core/json.h"
#include "platform/file_reading.h"

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mivora::icons {

struct AliasConfig {
    std::string appName;
    std::string aliasName;
};

struct IconCacheConfig {
    std::string appPath;
    std::string appName;
    std::string iconFileName;
    std::string iconData; // the image file's bytes (standard Base64 in the document)
};

struct AppConfiguration {
    std::vector<AliasConfig> appAliases;
    std::vector<IconCacheConfig> cachedIcons;
    std::string version = "1.0";
    double exportDate = core::secondsSinceReferenceDate(); // seconds since 1 January 2001
};

// A document that cannot be read or decoded as AppConfiguration. what() says what
// is wrong and where: "Missing required key at cachedIcons[0].iconData".
class ConfigurationReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Larger documents are refused before they are read, so that a stray huge file
// cannot exhaust memory.
inline constexpr size_t kMaxConfigurationBytes = platform::read_limits::configurationDocument.maxBytes;
// Deeper JSON is refused before it is parsed; the document itself is three levels deep.
inline constexpr size_t kMaxConfigurationNesting = 256;

// Strict decoding: every key is required and type-checked, "exportDate" must be
// a number, "iconData" valid standard Base64; keys not listed are ignored.
// Throws ConfigurationReadError.
AppConfiguration decodeAppConfiguration(std::string_view bytes);

// A document read from a file, with the exact bytes it was decoded from.
struct ConfigurationFile {
    std::string bytes;
    AppConfiguration configuration;
};

// Throws ConfigurationReadError when the file cannot be read, is too large or
// does not decode.
ConfigurationFile readConfigurationFile(const std::string& path);

} // namespace mivora::icons
