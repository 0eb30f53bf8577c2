// set-icon and remove-icon through our Linux stand-ins of the desktop
// application's helper pair (standins/helper.sh and fileicon), behind a
// pass-through sudo: the icon really lands in <target>/Icon\r with the
// custom-icon flag in the Finder information, and really goes again.
#include "platform/file_reading.h"
#include "platform/filesystem.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/sandbox.h"

#include <array>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace mivora::testing {
namespace {

using FinderInfo = std::array<unsigned char, 32>;
constexpr const char* kFinderInfo = "user.com.apple.FinderInfo";

// The attribute's bytes; nothing when the target has none.
std::optional<FinderInfo> finderInfo(const std::string& path) {
    FinderInfo info{};
    ssize_t size = ::getxattr(path.c_str(), kFinderInfo, info.data(), info.size());
    if (size < 0) {
        EXPECT_EQ(errno, ENODATA) << path;
        return std::nullopt;
    }
    EXPECT_EQ(size, 32);
    return info;
}

void installStandinHelpers(const Sandbox& sandbox) {
    sandbox.installFakeSudo();
    std::string folder = sandbox.rootPath("/usr/local/lib/mivora");
    platform::createDirectories(folder);
    platform::copyFile(std::string(MIVORA_SOURCE_DIR) + "/standins/helper.sh", folder + "/helper.sh",
                       platform::read_limits::executable);
    platform::copyFile(standinsDirectory() + "/fileicon", folder + "/fileicon",
                       platform::read_limits::executable);
    ::chmod((folder + "/helper.sh").c_str(), 0755);
    ::chmod((folder + "/fileicon").c_str(), 0755);
}

TEST(IconStandins, SetIconWritesTheIconAndFlagAndRemoveIconClearsThem) {
    // A bundle whose Finder information holds other bytes already, and a plain folder without any.
    FinderInfo earlier{'A', 'P', 'P', 'L', '?', '?', '?', '?', 0x00, 0x10};
    for (bool bundle : {true, false}) {
        SCOPED_TRACE(bundle ? "bundle with Finder information" : "plain folder");
        Sandbox sandbox;
        installStandinHelpers(sandbox);
        setDarkAppearance(sandbox, false);
        std::string target = bundle ? sandbox.addApp({.name = "Notes"}) : sandbox.homePath("Projects");
        platform::createDirectories(target);
        if (bundle) {
            ASSERT_EQ(::setxattr(target.c_str(), kFinderInfo, earlier.data(), earlier.size(), 0), 0);
        }
        std::string icon = writeIcon(sandbox, sandbox.tmp() + "/icon.png");

        auto set = sandbox.run({"set-icon", target, icon, "--no-refresh"});
        ASSERT_EQ(set.status, 0) << set.err;
        EXPECT_EQ(sandbox.readFile(target + "/Icon\r"), sandbox.readFile(icon));
        auto flagged = finderInfo(target);
        ASSERT_TRUE(flagged);
        FinderInfo expected = bundle ? earlier : FinderInfo{};
        expected[8] |= 0x04;
        EXPECT_EQ(*flagged, expected);

        auto remove = sandbox.run({"remove-icon", target, "--no-refresh"});
        ASSERT_EQ(remove.status, 0) << remove.err;
        EXPECT_FALSE(platform::fileExists(target + "/Icon\r"));
        if (bundle) {
            EXPECT_EQ(finderInfo(target), earlier) << "only the flag is cleared";
        } else {
            EXPECT_FALSE(finderInfo(target)) << "an all-zero attribute is removed";
        }
        EXPECT_EQ(*iconCacheDocument(sandbox), core::Json::object());
    }
}

TEST(IconStandins, ATargetThatCannotTakeAnIconFailsTheCommand) {
    Sandbox sandbox;
    installStandinHelpers(sandbox);
    setDarkAppearance(sandbox, false);
    std::string file = sandbox.homePath("notes.txt");
    sandbox.writeFile(file, "not a folder");
    std::string icon = writeIcon(sandbox, sandbox.tmp() + "/icon.png");

    auto result = sandbox.run({"set-icon", file, icon, "--no-refresh"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: Exit code 1: helper.sh: not a folder or bundle: " + file + "\n");
    EXPECT_FALSE(iconCacheDocument(sandbox));
}

} // namespace
} // namespace mivora::testing
