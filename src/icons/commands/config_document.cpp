#include "icons/commands/config_document.h"

#include "core/base64.h"
#include "core/json_decoding.h"
#include "platform/file_reading.h"
#include "platform/filesystem.h"
#include "platform/formatting.h"

namespace mivora::icons {

namespace {

using Document = core::JSONValue;

[[noreturn]] void refuse(const std::string& description) {
    throw ConfigurationReadError(description);
}

std::string bytesMember(const core::JSONObjectReader& object, const char* key) {
    const Document& value = object.member(key);
    if (!value.is_string()) core::throwJSONTypeMismatch("a Base64 string", object.pathOf(key), value);
    auto decoded = core::decodeBase64(value.get_ref<const std::string&>());
    if (!decoded.bytes) refuse("Invalid Base64 at " + object.pathOf(key) + ": " + decoded.problem);
    return std::move(*decoded.bytes);
}

// Each element of the array under `key`, decoded by `decodeElement(reader)`.
template <class Element, class Decode>
std::vector<Element> arrayMember(const core::JSONObjectReader& object, const char* key,
                                 Decode decodeElement) {
    const Document& value = object.member(key);
    std::string arrayPath = object.pathOf(key);
    if (!value.is_array()) core::throwJSONTypeMismatch("an array", arrayPath, value);
    std::vector<Element> elements;
    elements.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        elements.push_back(
            decodeElement(core::JSONObjectReader(value[i], core::jsonElementPath(arrayPath, i))));
    }
    return elements;
}

AliasConfig decodeAlias(const core::JSONObjectReader& object) {
    AliasConfig alias;
    alias.appName = object.string("appName");
    alias.aliasName = object.string("aliasName");
    return alias;
}

IconCacheConfig decodeIcon(const core::JSONObjectReader& object) {
    IconCacheConfig icon;
    icon.appPath = object.string("appPath");
    icon.appName = object.string("appName");
    icon.iconFileName = object.string("iconFileName");
    icon.iconData = bytesMember(object, "iconData");
    return icon;
}

} // namespace

AppConfiguration decodeAppConfiguration(std::string_view bytes) {
    if (bytes.size() > kMaxConfigurationBytes) {
        refuse("The document is larger than " + platform::formatByteCount(kMaxConfigurationBytes) +
               ", more than a configuration document may hold");
    }
    try {
        Document document = core::parseJSONDocument(bytes, kMaxConfigurationNesting);
        core::JSONObjectReader root(document, "");
        AppConfiguration configuration;
        configuration.appAliases = arrayMember<AliasConfig>(root, "appAliases", decodeAlias);
        configuration.cachedIcons = arrayMember<IconCacheConfig>(root, "cachedIcons", decodeIcon);
        configuration.version = root.string("version");
        configuration.exportDate = root.number("exportDate", "a number (seconds since 1 January 2001)");
        return configuration;
    } catch (const core::JSONDecodingError& error) {
        refuse(error.what());
    }
}

ConfigurationFile readConfigurationFile(const std::string& path) {
    ConfigurationFile file;
    try {
        file.bytes = platform::readFileContents(path, platform::read_limits::configurationDocument);
    } catch (const platform::FileSystemError& error) {
        refuse(error.what());
    }
    file.configuration = decodeAppConfiguration(file.bytes);
    return file;
}

} // namespace mivora::icons
