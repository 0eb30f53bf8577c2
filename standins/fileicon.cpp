// Stand-in for the icon-setting program the helper runs:
//   fileicon set <folder> <image>   writes <folder>/Icon\r and sets the custom-icon flag
//   fileicon rm <folder>            clears the flag and deletes Icon\r
// The flag lives in the folder's Finder information; its other bytes are kept.
// It runs as root (through sudo), so it takes only what it was made for: a
// target that is a folder or bundle, and an image it can read, opened without
// following a link and with the rights of the user who ran sudo, so that no
// file only root may read ends up in a readable Icon\r.
#include "platform/environment.h"
#include "platform/file_reading.h"
#include "platform/filesystem.h"
#include "platform/finder_info.h"
#include "platform/image/image.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = mivora::platform;

int fail(const std::string& message) {
    std::fprintf(stderr, "fileicon: %s\n", message.c_str());
    return 1;
}

std::optional<unsigned> idFromEnvironment(const char* name) {
    auto text = fs::environmentValue(name);
    unsigned value = 0;
    if (!text || text->empty()) return std::nullopt;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
    return value;
}

// While it lives, files are opened with the rights of the user who ran sudo
// (their user, group and groups); root's own come back at its end. Without
// sudo's variables, or when not root, nothing changes.
class InvokingUserRights {
public:
    InvokingUserRights() {
        auto uid = idFromEnvironment("SUDO_UID"), gid = idFromEnvironment("SUDO_GID");
        if (::geteuid() != 0 || !uid || !gid) return;
        int count = ::getgroups(0, nullptr);
        rootGroups_.resize(static_cast<size_t>(std::max(count, 0)));
        if (count < 0 || ::getgroups(count, rootGroups_.data()) != count) {
            ok_ = false;
            return;
        }
        std::vector<gid_t> groups(1, *gid);
        if (const struct passwd* user = ::getpwuid(*uid)) {
            int size = 64;
            groups.resize(static_cast<size_t>(size));
            while (::getgrouplist(user->pw_name, *gid, groups.data(), &size) < 0)
                groups.resize(static_cast<size_t>(size));
            groups.resize(static_cast<size_t>(size));
        }
        switched_ = true;
        ok_ = ::setgroups(groups.size(), groups.data()) == 0 && ::setegid(*gid) == 0 && ::seteuid(*uid) == 0;
    }
    ~InvokingUserRights() {
        if (!switched_) return;
        // Back to root, the user first (it gives the right to change the rest);
        // a failure here leaves fewer rights, never more.
        int failures = ::seteuid(0);
        failures |= ::setegid(0);
        failures |= ::setgroups(rootGroups_.size(), rootGroups_.data());
        static_cast<void>(failures);
    }
    InvokingUserRights(const InvokingUserRights&) = delete;
    InvokingUserRights& operator=(const InvokingUserRights&) = delete;

    bool ok() const { return ok_; }

private:
    std::vector<gid_t> rootGroups_;
    bool switched_ = false;
    bool ok_ = true;
};

// The image's bytes: a regular file within the image cap, not a link, read
// from the descriptor that was opened, that decodes as an image. `problem` says why not.
std::optional<std::string> readImageFile(const std::string& path, std::string& problem) {
    std::string bytes;
    try {
        InvokingUserRights rights;
        if (!rights.ok()) {
            problem = "cannot take the rights of the user who ran sudo";
            return std::nullopt;
        }
        fs::OpenedFile file(path, fs::read_limits::image, fs::FinalLink::refuse);
        fs::readOpenedFile(file, path, fs::read_limits::image, bytes);
    } catch (const fs::FileSystemError& error) {
        problem = error.what();
        return std::nullopt;
    }
    try {
        mivora::image::decodeImage(bytes);
    } catch (const std::exception& error) {
        problem = "not an image: " + path + ": " + error.what();
        return std::nullopt;
    }
    return bytes;
}

bool setFlag(const std::string& target, bool on) {
    fs::FinderInfo info = fs::readFinderInfo(target);
    unsigned char& flags = info[fs::kCustomIconFlagByte];
    flags = static_cast<unsigned char>(on ? flags | fs::kCustomIconFlagBit : flags & ~fs::kCustomIconFlagBit);
    return fs::writeFinderInfo(target, info);
}

int setIcon(const std::string& target, const std::string& image) {
    if (!fs::isDirectory(target)) return fail("not a folder or bundle: " + target);
    std::string problem;
    auto bytes = readImageFile(image, problem);
    if (!bytes) return fail(problem);
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
