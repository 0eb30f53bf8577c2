// Stand-in for the icon-setting program the helper runs:
//   fileicon set <folder> <image>   writes <folder>/Icon\r and sets the custom-icon flag
//   fileicon rm <folder>            clears the flag and deletes Icon\r
// The flag is bit 0x04 of byte 8 of the 32-byte Finder information, kept in the
// extended attribute user.com.apple.FinderInfo; its other bytes are kept.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "platform/filesystem.h"

namespace {

constexpr const char* kAttribute = "user.com.apple.FinderInfo";
constexpr unsigned char kCustomIconBit = 0x04;

int fail(const std::string& message) {
    std::fprintf(stderr, "fileicon: %s\n", message.c_str());
    return 1;
}

bool readInfo(const std::string& target, unsigned char (&info)[32]) {
    std::memset(info, 0, sizeof info);
    ssize_t got = ::getxattr(target.c_str(), kAttribute, info, sizeof info);
    return got >= 0 || errno == ENODATA;
}

bool writeInfo(const std::string& target, const unsigned char (&info)[32]) {
    bool allZero = true;
    for (unsigned char byte : info) allZero = allZero && byte == 0;
    if (allZero) return ::removexattr(target.c_str(), kAttribute) == 0 || errno == ENODATA;
    return ::setxattr(target.c_str(), kAttribute, info, sizeof info, 0) == 0;
}

bool hasCustomIcon(const std::string& target) {
    unsigned char info[32];
    return readInfo(target, info) && (info[8] & kCustomIconBit) && mivora::platform::fileExists(target + "/Icon\r");
}

int setIcon(const std::string& target, const std::string& image) {
    if (!mivora::platform::isDirectory(target)) return fail("not a folder or bundle: " + target);
    auto bytes = mivora::platform::readFile(image);
    if (!bytes || bytes->empty()) return fail("cannot read image: " + image);
    try {
        mivora::platform::writeFileAtomically(target + "/Icon\r", *bytes);
    } catch (const std::exception& error) {
        return fail(error.what());
    }
    unsigned char info[32];
    if (!readInfo(target, info)) return fail(std::string("cannot read Finder information: ") + std::strerror(errno));
    info[8] = static_cast<unsigned char>(info[8] | kCustomIconBit);
    if (!writeInfo(target, info)) return fail(std::string("cannot write Finder information: ") + std::strerror(errno));
    return hasCustomIcon(target) ? 0 : fail("custom icon did not stick on " + target);
}

int removeIcon(const std::string& target) {
    if (!mivora::platform::isDirectory(target)) return fail("not a folder or bundle: " + target);
    unsigned char info[32];
    if (!readInfo(target, info)) return fail(std::string("cannot read Finder information: ") + std::strerror(errno));
    info[8] = static_cast<unsigned char>(info[8] & ~kCustomIconBit);
    if (!writeInfo(target, info)) return fail(std::string("cannot write Finder information: ") + std::strerror(errno));
    std::string icon = target + "/Icon\r";
    if (mivora::platform::fileExists(icon) && !mivora::platform::removeItemQuietly(icon))
        return fail("cannot delete " + icon);
    return hasCustomIcon(target) ? fail("custom icon still set on " + target) : 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "set" && argc == 4) return setIcon(argv[2], argv[3]);
    if (verb == "rm" && argc == 3) return removeIcon(argv[2]);
    std::fprintf(stderr, "usage: fileicon set <folder> <image> | fileicon rm <folder>\n");
    return 64;
}
