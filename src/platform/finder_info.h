// The Finder information of a folder or bundle (the 32-byte attribute
// "com.apple.FinderInfo") and its custom-icon flag, which together with the
// "Icon\r" file inside the folder make the Finder show a custom icon.
#pragma once

#include <array>
#include <string>

namespace mivora::platform {

inline constexpr size_t kFinderInfoSize = 32;
// The has-custom-icon Finder flag 0x0400, big-endian: bit 0x04 of byte 8.
inline constexpr size_t kCustomIconFlagByte = 8;
inline constexpr unsigned char kCustomIconFlagBit = 0x04;

using FinderInfo = std::array<unsigned char, kFinderInfoSize>;

// <folder>/Icon\r, the file that holds a folder's custom icon.
std::string customIconFilePath(const std::string& folder);

// The attribute's bytes, zero-padded; all zeros when it is missing or unreadable.
FinderInfo readFinderInfo(const std::string& path);
// Writes the attribute, or removes it when every byte is zero; false on failure.
bool writeFinderInfo(const std::string& path, const FinderInfo& info);

// True when the attribute holds at least one byte, its custom-icon flag is set
// and the Icon\r file exists (following symbolic links throughout).
bool hasCustomIcon(const std::string& folder);

} // namespace mivora::platform
