// set-icon and remove-icon through our Linux stand-ins of the desktop
// application's helper pair (standins/helper.sh and fileicon), behind a
// pass-through sudo: the icon really lands in <target>/Icon\r with the
// custom-icon flag in the Finder information, and really goes again.
#include "platform/file_reading.h"
#include "platform/filesystem.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/icon_fixtures.h"
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

// The stand-ins run as root: fileicon takes only an image file it can read
// (not through a link, with the rights of the user who ran sudo) and a folder
// or bundle as its target; helper.sh passes on only what fileicon takes and
// runs only the fileicon installed beside it.
TEST(IconStandins, TheHelperPairTakesOnlyAnImageFileAndAFolder) {
    Sandbox sandbox;
    installStandinHelpers(sandbox);
    // Another user must be able to reach the sandbox's files for the sudo cases.
    ASSERT_EQ(::chmod(sandbox.dir().c_str(), 0755), 0);
    const std::string helper = sandbox.rootPath("/usr/local/lib/mivora/helper.sh");
    const std::string fileicon = sandbox.rootPath("/usr/local/lib/mivora/fileicon");
    const std::string folder = sandbox.homePath("Target");
    platform::createDirectories(folder);
    const std::string png = solidPNG(16, 16, kIconRed);
    const std::string image = sandbox.tmp() + "/icon.png";
    sandbox.writeFile(image, png);
    const std::string text = sandbox.tmp() + "/notes.png";
    sandbox.writeFile(text, "just some text");
    const std::string link = sandbox.tmp() + "/link.png";
    platform::createSymbolicLink(link, image);
    const std::string rootOnly = sandbox.tmp() + "/secret.png";
    sandbox.writeFile(rootOnly, png);
    ASSERT_EQ(::chmod(rootOnly.c_str(), 0600), 0);
    const std::string file = sandbox.tmp() + "/file.txt";
    sandbox.writeFile(file, "not a folder");

    struct Case {
        std::string name;
        std::vector<std::string> argv;
        bool asAnotherUser; // SUDO_UID and SUDO_GID of user 65534
        int status;
        std::string err; // a prefix of standard error
    };
    const std::vector<Case> cases = {
        {"an image into a folder", {fileicon, "set", folder, image}, false, 0, ""},
        {"an image the sudo user may read", {fileicon, "set", folder, image}, true, 0, ""},
        {"a file that is not an image",
         {fileicon, "set", folder, text},
         false,
         1,
         "fileicon: not an image: " + text + ": "},
        {"a link to an image",
         {fileicon, "set", folder, link},
         false,
         1,
         "fileicon: Cannot read " + link + ": a symbolic link\n"},
        {"an image only root may read",
         {fileicon, "set", folder, rootOnly},
         true,
         1,
         "fileicon: Cannot read " + rootOnly + ": Permission denied\n"},
        {"a target that is not a folder",
         {fileicon, "set", file, image},
         false,
         1,
         "fileicon: not a folder or bundle: " + file + "\n"},
        {"the helper with its fileicon", {helper, fileicon, folder, image}, false, 0, ""},
        {"the helper with another program",
         {helper, "/bin/echo", folder, image},
         false,
         64,
         "helper.sh: not the fileicon installed beside it: /bin/echo\n"},
        {"the helper with a target that is not a folder",
         {helper, fileicon, file, image},
         false,
         1,
         "helper.sh: not a folder or bundle: " + file + "\n"},
        {"the helper with a link",
         {helper, fileicon, folder, link},
         false,
         1,
         "helper.sh: not an icon file: " + link + "\n"},
        {"the helper with a folder as the icon",
         {helper, fileicon, folder, folder},
         false,
         1,
         "helper.sh: not an icon file: " + folder + "\n"},
        {"the helper with a file that is not an image",
         {helper, fileicon, folder, text},
         false,
         1,
         "fileicon: not an image: " + text + ": "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::removeItemQuietly(folder + "/Icon\r");
        sandbox.environment.erase("SUDO_UID");
        sandbox.environment.erase("SUDO_GID");
        if (c.asAnotherUser) sandbox.environment["SUDO_UID"] = sandbox.environment["SUDO_GID"] = "65534";
        auto result = sandbox.runProgram(c.argv);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_EQ(result.err.substr(0, c.err.size()), c.err);
        if (c.status == 0) {
            EXPECT_EQ(result.err, "");
            EXPECT_EQ(sandbox.readFile(folder + "/Icon\r"), png);
        } else {
            EXPECT_FALSE(platform::fileExists(folder + "/Icon\r"));
        }
    }
}

} // namespace
} // namespace mivora::testing
