#include "platform/finder_info.h"

#include <algorithm>

#include "platform/extended_attributes.h"
#include "platform/filesystem.h"

namespace mivora::platform {

namespace {
constexpr const char* kFinderInfoAttribute = "com.apple.FinderInfo";
}

std::string customIconFilePath(const std::string& folder) { return folder + "/Icon\r"; }

FinderInfo readFinderInfo(const std::string& path) {
    FinderInfo info{};
    if (auto bytes = readExtendedAttribute(path, kFinderInfoAttribute, kFinderInfoSize))
        std::copy(bytes->begin(), bytes->end(), info.begin());
    return info;
}

bool writeFinderInfo(const std::string& path, const FinderInfo& info) {
    bool allZero = std::all_of(info.begin(), info.end(), [](unsigned char byte) { return byte == 0; });
    if (allZero) return removeExtendedAttribute(path, kFinderInfoAttribute);
    return writeExtendedAttribute(path, kFinderInfoAttribute, std::string(info.begin(), info.end()));
}

bool hasCustomIcon(const std::string& folder) {
    auto bytes = readExtendedAttribute(folder, kFinderInfoAttribute, kFinderInfoSize);
    if (!bytes || bytes->size() <= kCustomIconFlagByte) return false;
    if ((static_cast<unsigned char>((*bytes)[kCustomIconFlagByte]) & kCustomIconFlagBit) == 0) return false;
    return fileExists(customIconFilePath(folder));
}

} // namespace mivora::platform
