// Every file the tool makes goes through one creating write: a copy cut short
// by the file-size limit leaves nothing behind, a new file gets the mode the
// umask gives one (never its source's bits), and what killed runs left in a
// folder is swept by the next run that writes there once it is old enough.
#include "platform/filesystem.h"
#include "platform/uuid.h"
#include "support/dock_fixture.h"
#include "support/icon_cache_fixture.h"
#include "support/icon_commands_fixture.h"
#include "support/icon_fixtures.h"
#include "support/sandbox.h"

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

namespace mivora::testing {
namespace {

// Dates a file or folder `hours` back, as a run killed that long ago leaves it.
void age(const std::string& path, int hours) {
    auto then = std::chrono::system_clock::now() - std::chrono::hours(hours);
    struct timespec times[2] = {};
    times[0].tv_sec = times[1].tv_sec = std::chrono::system_clock::to_time_t(then);
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// A PNG that does not compress: noise of `side` x `side` pixels.
std::string noisePNG(int side) {
    image::Bitmap bitmap = solidBitmap(side, side, {0, 0, 0, 255});
    std::mt19937 random(7);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            auto value = static_cast<uint8_t>(random());
            setPixel(bitmap, x, y,
                     {value, static_cast<uint8_t>(value * 7), static_cast<uint8_t>(value * 13), 255});
        }
    }
    return pngBytes(bitmap);
}

TEST(CreatingWrites, ACopyCutShortByTheFileSizeLimitLeavesNoPartialImage) {
    Sandbox sandbox;
    prepareIconCommands(sandbox, /*dark=*/false);
    std::string notes = sandbox.addApp({.name = "Notes"});
    std::string icon = sandbox.tmp() + "/big.png";
    sandbox.writeFile(icon, noisePNG(300)); // about 350 KB, past the limit below
    ASSERT_GT(sandbox.readFile(icon)->size(), 200'000u);

    for (const char* slot : {"dark", "light"}) { // cached only, and applied first
        SCOPED_TRACE(slot);
        // 256 blocks of 512 bytes: the icon cache and preferences fit, the image does not.
        auto result = runAfter(sandbox, "ulimit -f 256",
                               {"set-icon", notes, icon, "--appearance", slot, "--no-refresh"});
        EXPECT_EQ(result.status, 1) << result.out;
        // (once applied, the message also says that the icon is on the bundle)
        EXPECT_NE(result.err.find("Cannot write " + cachedImagesFolder(sandbox) + "/"), std::string::npos)
            << result.err;
        EXPECT_TRUE(result.err.ends_with(".png: File too large\n")) << result.err;
        EXPECT_EQ(cachedImageNames(sandbox), std::vector<std::string>{})
            << "no partial image, no temporary file";
        EXPECT_EQ(lightImageOf(sandbox, notes), "");
    }
    // Without the limit the same copy is whole.
    auto result =
        runAfter(sandbox, "true", {"set-icon", notes, icon, "--appearance", "light", "--no-refresh"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(sandbox.readFile(lightImageOf(sandbox, notes)), sandbox.readFile(icon));
}

class Leftovers : public ::testing::Test {
protected:
    void SetUp() override {
        prepareIconCommands(sandbox, /*dark=*/false);
        notes = sandbox.addApp({.name = "Notes"});
        icon = writeIcon(sandbox, sandbox.tmp() + "/icon.png");
        addAppWithIcon(sandbox, "Paint", typicalIcns());
    }

    // A leftover file (or, with `folder`, a folder holding one file) dated `hours` back.
    std::string leave(const std::string& path, int hours, bool folder = false) const {
        if (folder) {
            sandbox.writeFile(path + "/Contents/Info.plist", "left behind");
            age(path + "/Contents/Info.plist", hours);
            age(path + "/Contents", hours);
        } else {
            sandbox.writeFile(path, "left behind");
        }
        age(path, hours);
        return path;
    }

    Sandbox sandbox;
    std::string notes, icon;
};

TEST_F(Leftovers, OldOnesOfOurNamingAreSweptByTheNextWriteYoungOnesAndOthersStay) {
    const std::string support = sandbox.homePath("Library/Application Support/com.quartelmisko.Mivora");
    const std::string images = cachedImagesFolder(sandbox);
    const std::string uuid = platform::newUUIDString();
    struct Leftover {
        std::string path;
        bool old, ours, folder;
    };
    const std::vector<Leftover> leftovers = {
        // temporary files of atomic writes and copies
        {support + "/.icon-cache.json.Ab12Cd", true, true, false},
        {support + "/.icon-cache.json.Zz99Yy", false, true, false},
        {images + "/." + uuid + ".png.q1W2e3", true, true, false},
        {images + "/." + platform::newUUIDString() + ".png.r4T5y6", false, true, false},
        // a folder a removal moved aside
        {images + "/.Old.app.removing-" + platform::newUUIDString(), true, true, true},
        // our items in the temporary folder
        {sandbox.tmp() + "/mivora-extract-" + platform::newUUIDString(), true, true, true},
        {sandbox.tmp() + "/mivora-" + platform::newUUIDString() + ".png", true, true, false},
        {sandbox.tmp() + "/mivora-bundled-" + platform::newUUIDString() + ".png", false, true, false},
        // look-alikes that are not ours, however old
        {support + "/.notes.txt.backup", true, false, false},
        {images + "/.zshrc.AbCdEf", true, false, false},
        {support + "/.icon-cache.json.bak", true, false, false},
        {sandbox.tmp() + "/mivora-sandbox-AbCdEf", true, false, true},
    };
    for (const auto& leftover : leftovers)
        leave(leftover.path, leftover.old ? 2 : 0, leftover.folder);

    // set-icon writes the cached image and icon-cache.json; extract-icon makes its temporary folder.
    auto set = sandbox.run({"set-icon", notes, icon, "--appearance", "light", "--no-refresh"});
    ASSERT_EQ(set.status, 0) << set.err;
    auto extract =
        sandbox.run({"extract-icon", "Paint", "--out", sandbox.homePath("paint.png"), "--size", "32"});
    ASSERT_EQ(extract.status, 0) << extract.err;

    for (const auto& leftover : leftovers) {
        bool swept = leftover.old && leftover.ours;
        EXPECT_EQ(platform::fileExists(leftover.path), !swept) << leftover.path;
    }
}

TEST_F(Leftovers, AnOldRemovalLeftInTheProxyFolderNoLongerKeepsItFromGoing) {
    auto calculator = addPinnedSystemApp(sandbox, "Calculator", "com.apple.calculator");
    auto setAndRemove = [&](const std::function<void()>& between) {
        auto set = sandbox.run({"set-icon", calculator.path, icon, "--no-refresh"});
        ASSERT_EQ(set.status, 0) << set.err;
        between();
        auto removed = sandbox.run({"remove-icon", calculator.path, "--no-refresh"});
        ASSERT_EQ(removed.status, 0) << removed.err;
    };
    // Runs killed half-way through removing the proxy left their folders aside:
    // one long ago, one just now (which may be a removal under way).
    const std::string aside = calculator.proxyFolder + "/.Calculator.app.removing-";
    const std::string old = aside + platform::newUUIDString(), young = aside + platform::newUUIDString();
    setAndRemove([&] {
        leave(old, 2, /*folder=*/true);
        leave(young, 0, /*folder=*/true);
    });
    EXPECT_FALSE(platform::fileExists(old));
    EXPECT_EQ(platform::listDirectory(calculator.proxyFolder),
              std::vector<std::string>{platform::lastPathComponent(young)})
        << "the young one stays, and keeps the folder";

    setAndRemove([&] {
        age(young + "/Contents", 2);
        age(young, 2);
    });
    EXPECT_FALSE(platform::fileExists(calculator.proxyFolder)) << "swept, then removed as empty";
}

} // namespace
} // namespace mivora::testing
