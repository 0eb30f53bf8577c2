// Stand-in for the icon-setting program the helper runs:
//   fileicon set <folder> <image>   writes <folder>/Icon\r and sets the custom-icon flag
//   fileicon rm <folder>            clears the flag and deletes Icon\r
// The flag lives in the folder's Finder information; its other bytes are kept.
#include "platform/file_reading.h"
#include "platform/filesystem.h"
#include "platform/finder_info.h"

#include <cstdio>
#include <string>

namespace {

namespace fs = mivora::platform;

int fail(const std::string& message) {
    std::fprintf(stderr, "fileicon: %s\n", message.c_str());
    return 1;
}

bool setFlag(const std::string& target, bool on) {
    fs::FinderInfo info = fs::readFinderInfo(target);
    unsigned char& flags = info[fs::kCustomIconFlagByte];
    flags = static_cast<unsigned char>(on ? flags | fs::kCustomIconFlagBit : flags & ~fs::kCustomIconFlagBit);
    return fs::writeFinderInfo(target, info);
}

int setIcon(const std::string& target, const std::string& image) {
    if (!fs::isDirectory(target)) return fail("not a folder or bundle: " + target);
    auto bytes = fs::readFile(image, fs::read_limits::image);
    if (!bytes || bytes->empty()) return fail("cannot read image: " + image);
    try {
        fs::writeFileAtomically(fs::customIconFilePath(target), *bytes);
    } catch (const std::exception& error) {
        return fail(error.what());
    }
    if (!setFlag(target, true)) return fail("cannot write the Finder information of " + target);
    return fs::hasCustomIcon(target) ? 0 : fail("custom icon did not stick on " + target);
}

int removeIcon(const std::string& target) {
    if (!fs::isDirectory(target)) return fail("not a folder or bundle: " + target);
    if (!setFlag(target, false)) return fail("cannot write the Finder information of " + target);
    std::string icon = fs::customIconFilePath(target);
    if (fs::fileExists(icon) && !fs::removeItemQuietly(icon)) return fail("cannot delete " + icon);
    return fs::hasCustomIcon(target) ? fail("custom icon still set on " + target) : 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "set" && argc == 4) return setIcon(argv[2], argv[3]);
    if (verb == "rm" && argc == 3) return removeIcon(argv[2]);
    std::fprintf(stderr, "usage: fileicon set <folder> <image> | fileicon rm <folder>\n");
    return 64;
}
