#include "icons/commands/config_document.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "core/base64.h"
#include "platform/filesystem.h"
#include "platform/formatting.h"

namespace mivora::icons {

namespace {

using Document = nlohmann::json;

[[noreturn]] void refuse(const std::string& description) {
    throw ConfigurationReadError(description);
}

// "line 3, column 7" of a byte offset, columns counted in characters.
std::string positionOf(std::string_view bytes, size_t offset) {
    offset = std::min(offset, bytes.size());
    size_t line = 1, column = 1;
    for (size_t i = 0; i < offset; ++i) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n') {
            ++line;
            column = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Arrays and objects are counted outside strings only, so that the parser never
// has to build (or tear down) a pathologically deep tree.
void checkNesting(std::string_view bytes) {
    size_t depth = 0;
    bool inString = false;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxConfigurationNesting) {
                refuse("Not valid JSON at " + positionOf(bytes, i) + ": nested more than " +
                       std::to_string(kMaxConfigurationNesting) + " levels deep");
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
}

// The parser's message without its prefix and without the "last read" excerpt,
// which may hold the very bytes that are not valid text.
std::string syntaxErrorDescription(const nlohmann::json::parse_error& error, std::string_view bytes) {
    std::string what = error.what();
    std::string reason;
    auto column = what.find(", column ");
    auto colon = column == std::string::npos ? std::string::npos : what.find(": ", column);
    if (colon != std::string::npos) reason = what.substr(colon + 2);
    auto lastRead = reason.find("; last read: '");
    if (lastRead != std::string::npos) {
        auto expected = reason.rfind("'; expected ");
        std::string rest =
            expected != std::string::npos && expected >= lastRead ? reason.substr(expected + 1) : "";
        reason = reason.substr(0, lastRead) + rest;
    }
    if (reason.empty()) reason = "syntax error";
    size_t offset = error.byte > 0 ? error.byte - 1 : 0;
    return "Not valid JSON at " + positionOf(bytes, offset) + ": " + reason;
}

std::string typeDescription(const Document& value) {
    switch (value.type()) {
    case Document::value_t::null:
        return "null";
    case Document::value_t::object:
        return "an object";
    case Document::value_t::array:
        return "an array";
    case Document::value_t::string:
        return "a string";
    case Document::value_t::boolean:
        return "a boolean";
    case Document::value_t::number_integer:
    case Document::value_t::number_unsigned:
    case Document::value_t::number_float:
        return "a number";
    default:
        return "a value of another kind";
    }
}

std::string childPath(const std::string& path, const char* key) {
    return path.empty() ? key : path + "." + key;
}
std::string elementPath(const std::string& path, size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

[[noreturn]] void wrongType(const char* expected, const std::string& path, const Document& found) {
    refuse("Expected " + std::string(expected) + " at " + path + " but found " + typeDescription(found));
}

const Document& member(const Document& object, const char* key, const std::string& path) {
    auto found = object.find(key);
    if (found == object.end()) refuse("Missing required key at " + childPath(path, key));
    return *found;
}

std::string stringMember(const Document& object, const char* key, const std::string& path) {
    const Document& value = member(object, key, path);
    if (!value.is_string()) wrongType("a string", childPath(path, key), value);
    return value.get<std::string>();
}

double dateMember(const Document& object, const char* key, const std::string& path) {
    const Document& value = member(object, key, path);
    if (!value.is_number()) wrongType("a number (seconds since 1 January 2001)", childPath(path, key), value);
    double seconds = value.get<double>();
    if (!std::isfinite(seconds)) refuse("Number out of range at " + childPath(path, key));
    return seconds;
}

std::string bytesMember(const Document& object, const char* key, const std::string& path) {
    const Document& value = member(object, key, path);
    if (!value.is_string()) wrongType("a Base64 string", childPath(path, key), value);
    auto decoded = core::decodeBase64(value.get_ref<const std::string&>());
    if (!decoded.bytes) refuse("Invalid Base64 at " + childPath(path, key) + ": " + decoded.problem);
    return std::move(*decoded.bytes);
}

// Each element of the array under `key`, decoded by `decodeElement(object, path)`.
template <class Element, class Decode>
std::vector<Element> arrayMember(const Document& object, const char* key, const std::string& path,
                                 Decode decodeElement) {
    const Document& value = member(object, key, path);
    std::string arrayPath = childPath(path, key);
    if (!value.is_array()) wrongType("an array", arrayPath, value);
    std::vector<Element> elements;
    elements.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        std::string path_i = elementPath(arrayPath, i);
        if (!value[i].is_object()) wrongType("an object", path_i, value[i]);
        elements.push_back(decodeElement(value[i], path_i));
    }
    return elements;
}

AliasConfig decodeAlias(const Document& object, const std::string& path) {
    AliasConfig alias;
    alias.appName = stringMember(object, "appName", path);
    alias.aliasName = stringMember(object, "aliasName", path);
    return alias;
}

IconCacheConfig decodeIcon(const Document& object, const std::string& path) {
    IconCacheConfig icon;
    icon.appPath = stringMember(object, "appPath", path);
    icon.appName = stringMember(object, "appName", path);
    icon.iconFileName = stringMember(object, "iconFileName", path);
    icon.iconData = bytesMember(object, "iconData", path);
    return icon;
}

} // namespace

AppConfiguration decodeAppConfiguration(std::string_view bytes) {
    if (bytes.size() > kMaxConfigurationBytes) {
        refuse("The document is larger than " + platform::formatByteCount(kMaxConfigurationBytes) +
               ", more than a configuration document may hold");
    }
    if (bytes.find_first_not_of(" \t\r\n") == std::string_view::npos)
        refuse("Not valid JSON: the file is empty");
    checkNesting(bytes);
    Document root;
    try {
        root = Document::parse(bytes);
    } catch (const nlohmann::json::parse_error& error) {
        refuse(syntaxErrorDescription(error, bytes));
    } catch (const nlohmann::json::exception& error) {
        // A number too large for a double, say; the message quotes only the number's own characters.
        std::string what = error.what();
        auto prefixEnd = what.find("] ");
        refuse("Not valid JSON: " + (prefixEnd == std::string::npos ? what : what.substr(prefixEnd + 2)));
    }
    if (!root.is_object()) wrongType("an object", "the top level", root);
    AppConfiguration configuration;
    configuration.appAliases = arrayMember<AliasConfig>(root, "appAliases", "", decodeAlias);
    configuration.cachedIcons = arrayMember<IconCacheConfig>(root, "cachedIcons", "", decodeIcon);
    configuration.version = stringMember(root, "version", "");
    configuration.exportDate = dateMember(root, "exportDate", "");
    return configuration;
}

ConfigurationFile readConfigurationFile(const std::string& path) {
    ConfigurationFile file;
    // One byte past the limit is enough for the decoder to refuse a file that is too large.
    try {
        file.bytes = platform::readFileContents(path, kMaxConfigurationBytes + 1);
    } catch (const platform::FileSystemError& error) {
        refuse(error.what());
    }
    file.configuration = decodeAppConfiguration(file.bytes);
    return file;
}

} // namespace mivora::icons
