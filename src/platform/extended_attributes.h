// Extended attributes of files and folders. Names are the platform's own
// ("com.apple.FinderInfo"); on Linux they live in the "user." namespace.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace mivora::platform {

// Reads attribute `name` of the item at `path` (following symbolic links) into a
// buffer of `capacity` bytes and returns the bytes read. Nothing when the item or
// the attribute is missing, the value is larger than `capacity`, or it cannot be read.
std::optional<std::string> readExtendedAttribute(const std::string& path, const std::string& name,
                                                 size_t capacity);

// Sets attribute `name` to `value`; false when it cannot be written.
bool writeExtendedAttribute(const std::string& path, const std::string& name, const std::string& value);
// Removes attribute `name`; true also when it was not there.
bool removeExtendedAttribute(const std::string& path, const std::string& name);

} // namespace mivora::platform
