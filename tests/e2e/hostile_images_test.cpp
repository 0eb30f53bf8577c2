// Hostile image files through the real binary: tiny files announcing huge
// pictures, lying lengths, short masks, ICNS files of several huge members and
// extreme aspect ratios, PNG chunks announcing a gigabyte, ICNS files of tens of
// thousands of members, read by extract-icon (through the iconset stand-in),
// collections add and set-icon's Dock-ready fallback. Each ends with a clear
// outcome, in bounded time and within bounded memory (the peak resident size of
// the children, which includes the stand-ins they ran).
#include "platform/file_reading.h"
#include "support/collection_fixture.h"
#include "support/hostile_inputs.h"
#include "support/icon_commands_fixture.h"
#include "support/icon_fixtures.h"

#include <chrono>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace mivora::testing {
namespace {

constexpr double kMaxSeconds = 15;
constexpr long kMaxPeakKilobytes = 640 * 1024;

// The largest resident size of any child of this test so far (each test runs in
// its own process, so it is the peak of this test's runs).
long childrenPeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

std::string jpegAnnouncing(int side) {
    std::string jpeg = jpegBytes(solidBitmap(8, 8, {9, 9, 9, 255}));
    size_t sof = jpeg.find("\xFF\xC0");
    jpeg[sof + 5] = jpeg[sof + 7] = static_cast<char>(side >> 8);
    jpeg[sof + 6] = jpeg[sof + 8] = static_cast<char>(side & 0xFF);
    return jpeg;
}

std::string severalHugeMembers() {
    return icnsFile({{"ic10", bilevelPNG(16384, 16384)},
                     {"ic09", pngWithHeader(16384, 16384)},
                     {"ic14", pngWithHeader(16384, 16384)}});
}

// Five 4096 x 4096 pictures: more pixels together than one file may decode to.
std::string fiveLargeMembers() {
    std::vector<IcnsEntry> members;
    for (const char* type : {"ic10", "ic09", "ic08", "ic07", "ic14"})
        members.push_back({type, bilevelPNG(4096, 4096)});
    return icnsFile(members);
}

std::string shortMask(bool withGoodMember) {
    std::vector<IcnsEntry> members = {{"il32", runLengthChannels(32, {10, 20, 30})},
                                      {"l8mk", std::string(100, '\x40')}};
    if (withGoodMember) members.push_back({"ic07", solidPNG(128, 128, kIconBlue)});
    return icnsFile(members);
}

std::string lyingMemberLength() {
    std::string member = solidPNG(4, 4, kIconRed);
    return "icns" + bigEndian32(static_cast<uint32_t>(16 + member.size())) +
           icnsMemberWithLength("ic10", member, 1u << 31);
}

enum class Road { extractIcon, collectionsAdd, setIcon };

struct Case {
    const char* name;
    Road road;
    std::string bytes;
    const char* extension; // of the file: set-icon converts any but ".png" to PNG through sips
    int status;
    std::string errPart; // in standard error (the whole of it must be empty when this is)
};

class HostileImages : public ::testing::Test {
protected:
    Sandbox sandbox;

    void SetUp() override {
        prepareIconCommands(sandbox, false);
        sandbox.addApp({.name = "Notes"}); // no icon of its own
        writeCollection(sandbox, "naruto", manifestDocument("naruto", "Naruto"));
        // With the composition script present, set-icon makes a Dock-ready copy
        // of the image itself when the application has no icon to compose with.
        sandbox.writeFile(sandbox.homePath("Library/Application Support/com.quartelmisko.Mivora/compose/"
                                           "compose_dock_icon.py"),
                          "# composition script\n");
    }

    RunResult runRoad(const Case& c, int index) {
        const std::string name = "case" + std::to_string(index);
        switch (c.road) {
        case Road::extractIcon:
            addAppWithIcon(sandbox, name, c.bytes);
            return sandbox.run({"extract-icon", name, "--out", sandbox.tmp() + "/" + name + ".png"});
        case Road::collectionsAdd: {
            const std::string path = sandbox.homePath("art/" + name + c.extension);
            sandbox.writeFile(path, c.bytes);
            return sandbox.run({"collections", "add", "naruto", "Cool App " + name, path});
        }
        case Road::setIcon: {
            const std::string path = sandbox.homePath("art/" + name + c.extension);
            sandbox.writeFile(path, c.bytes);
            return sandbox.run({"set-icon", "Notes", path, "--no-refresh"});
        }
        }
        return {};
    }
};

TEST_F(HostileImages, EndClearlyInBoundedTimeAndMemory) {
    const std::vector<Case> cases = {
        {"extract-icon: several 16384 x 16384 members", Road::extractIcon, severalHugeMembers(), ".icns", 1,
         "larger than the 67108864 pixels"},
        {"extract-icon: members too large together", Road::extractIcon, fiveLargeMembers(), ".icns", 1,
         "more than the 67108864 pixels"},
        {"extract-icon: the only picture has a short mask", Road::extractIcon, shortMask(false), ".icns", 1,
         "its mask 'l8mk' holds 100 bytes"},
        {"extract-icon: a short mask beside a good member", Road::extractIcon, shortMask(true), ".icns", 0,
         ""},
        {"extract-icon: a member longer than the file", Road::extractIcon, lyingMemberLength(), ".icns", 1,
         "declares 2147483648 bytes"},
        {"add: complete PNG of 16384 x 16384", Road::collectionsAdd, bilevelPNG(16384, 16384), ".png", 1,
         "Could not read image at"},
        {"add: PNG header of 16384 x 16384", Road::collectionsAdd, pngWithHeader(16384, 16384), ".png", 1,
         "Could not read image at"},
        {"add: PNG header of 8192 x 8192 on a tiny file", Road::collectionsAdd, pngWithHeader(8192, 8192),
         ".png", 1, "Could not read image at"},
        {"add: JPEG header of 16384 x 16384", Road::collectionsAdd, jpegAnnouncing(16384), ".jpg", 1,
         "Could not read image at"},
        {"add: JPEG header of 8000 x 8000 on a tiny file", Road::collectionsAdd, jpegAnnouncing(8000), ".jpg",
         1, "Could not read image at"},
        {"add: ICNS of several 16384 x 16384 members", Road::collectionsAdd, severalHugeMembers(), ".icns", 1,
         "Could not read image at"},
        {"add: ICNS too large together, of which one member is drawn", Road::collectionsAdd,
         fiveLargeMembers(), ".icns", 0, ""},
        {"add: ICNS whose only picture has a short mask", Road::collectionsAdd, shortMask(false), ".icns", 1,
         "Could not read image at"},
        // Its Dock-ready copy cannot be made, so the file itself is applied.
        {"set-icon: complete PNG of 16384 x 16384", Road::setIcon, bilevelPNG(16384, 16384), ".png", 0, ""},
        // Converted for the icon cache, which refuses it; nothing is applied.
        {"set-icon: ICNS of several 16384 x 16384 members", Road::setIcon, severalHugeMembers(), ".icns", 1,
         "larger than the 67108864 pixels"},
        {"set-icon: JPEG header of 16384 x 16384", Road::setIcon, jpegAnnouncing(16384), ".jpg", 1,
         "larger than the 67108864 pixels"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const auto start = std::chrono::steady_clock::now();
        RunResult result = runRoad(c, static_cast<int>(i));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_FALSE(result.timedOut);
        if (c.errPart.empty()) {
            EXPECT_EQ(result.err, "");
        } else {
            EXPECT_NE(result.err.find(c.errPart), std::string::npos) << result.err;
        }
        EXPECT_LT(seconds, kMaxSeconds);
        EXPECT_LT(childrenPeakKilobytes(), kMaxPeakKilobytes);
    }
}

// A run over a few dozen bytes of input costs what a small icon does (a few
// MiB; the bound leaves room for sanitizers), not the gigabyte announced.
constexpr long kSmallRunPeakKilobytes = 128 * 1024;
// A file of tens of thousands of members is read in well under the 15 s that
// the tool gives a stand-in (each check per member is linear in their number).
constexpr double kManyMembersSeconds = 8 * kSlowdown;

// One pixel's header, then a chunk that announces 1 GiB of `type` and ends
// after a few bytes: 43 bytes in all.
std::string pngAnnouncingAGigabyte(const std::string& type) {
    return pngFile({pngHeader(1, 1, 8, 6)}) + bigEndian32(1u << 30) + type + std::string("k\0", 2);
}

TEST_F(HostileImages, ChunksAnnouncingAGigabyteCostNoMoreThanTheirBytes) {
    int index = 0;
    for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT", "pCAL", "sCAL"}) {
        SCOPED_TRACE(type);
        const std::string bomb = pngAnnouncingAGigabyte(type);
        // As an ICNS member beside a sound one: skipped, and the sound one extracted.
        const std::string name = "bomb" + std::to_string(index++);
        addAppWithIcon(sandbox, name, icnsFile({{"ic07", solidPNG(128, 128, kIconBlue)}, {"ic10", bomb}}));
        const std::string output = sandbox.tmp() + "/" + name + ".png";
        MeasuredRun extracted = runMeasured(sandbox, {"extract-icon", name, "--out", output});
        EXPECT_EQ(extracted.result.status, 0) << extracted.result.err;
        EXPECT_EQ(readPNGFile(output).width, 1024);
        EXPECT_LT(extracted.seconds, kMaxSeconds);
        if (kPeaksAreMeaningful) {
            EXPECT_LT(extracted.peakKilobytes, kSmallRunPeakKilobytes);
        }
        // As a file named .jpg, which set-icon converts through sips.
        const std::string path = sandbox.homePath("art/" + name + ".jpg");
        sandbox.writeFile(path, bomb);
        MeasuredRun set = runMeasured(sandbox, {"set-icon", "Notes", path, "--no-refresh"});
        EXPECT_EQ(set.result.status, 1);
        EXPECT_NE(set.result.err.find("damaged PNG: read beyond end of data"), std::string::npos)
            << set.result.err;
        EXPECT_LT(set.seconds, kMaxSeconds);
        if (kPeaksAreMeaningful) {
            EXPECT_LT(set.peakKilobytes, kSmallRunPeakKilobytes);
        }
    }
}

// 40,000 distinct PNG members of one pixel each (about 3 MB), and 64,000 old
// run-length members of 16 x 16 beside one mask (about 1.3 MB).
std::vector<std::pair<std::string, std::string>> iconFilesOfManyMembers() {
    static const char* const kModern[] = {"ic04", "ic05", "ic07", "ic08", "ic09",
                                          "ic10", "ic11", "ic12", "ic13", "ic14"};
    std::vector<IcnsEntry> pngs, runs;
    for (int i = 0; i < 40000; ++i) {
        const std::string pixel = {'\0', static_cast<char>(i), static_cast<char>(i >> 8), '\x07', '\xFF'};
        pngs.push_back({kModern[i % 10], pngFile({pngHeader(1, 1, 8, 6), pngChunk("IDAT", zlibStream(pixel)),
                                                  pngChunk("IEND", "")})});
    }
    for (int i = 0; i < 64000; ++i) {
        // Each channel a run of 130 and one of 126 of the same value.
        const char v = static_cast<char>(i);
        std::string channels;
        for (int channel = 0; channel < 3; ++channel)
            channels += std::string{'\xFF', v, '\xFB', v};
        runs.push_back({"is32", channels});
    }
    runs.push_back({"s8mk", std::string(256, '\xFF')});
    return {{"40,000 one-pixel PNG members", icnsFile(pngs)}, {"64,000 run-length members", icnsFile(runs)}};
}

TEST_F(HostileImages, IconFilesOfTensOfThousandsOfMembersReadInLinearTime) {
    int index = 0;
    for (const auto& [what, icns] : iconFilesOfManyMembers()) {
        SCOPED_TRACE(what);
        const std::string name = "many" + std::to_string(index++);
        const std::string file = sandbox.tmp() + "/" + name + ".icns";
        sandbox.writeFile(file, icns);
        MeasuredRun iconset = runMeasuredProgram(
            sandbox, {standinsDirectory() + "/iconutil", "-c", "iconset", file, "-o", file + ".iconset"});
        EXPECT_EQ(iconset.result.status, 0) << iconset.result.err;
        EXPECT_TRUE(platform::fileExists(file + ".iconset/icon_16x16.png"));
        EXPECT_LT(iconset.seconds, kManyMembersSeconds);

        addAppWithIcon(sandbox, name, icns);
        const std::string output = sandbox.tmp() + "/" + name + ".png";
        MeasuredRun extracted = runMeasured(sandbox, {"extract-icon", name, "--out", output});
        EXPECT_EQ(extracted.result.status, 0) << extracted.result.err;
        EXPECT_EQ(readPNGFile(output).width, 1024);
        EXPECT_LT(extracted.seconds, kManyMembersSeconds);

        // As the styled image (opaque, so staged only with --force).
        MeasuredRun added =
            runMeasured(sandbox, {"collections", "add", "naruto", "Cool App " + name, file, "--force"});
        EXPECT_EQ(added.result.status, 0) << added.result.err;
        EXPECT_LT(added.seconds, kManyMembersSeconds);
    }
}

TEST_F(HostileImages, ExtremeAspectRatioIsStagedVisibly) {
    // A 16384 x 1 strip covers the canvas with its middle; fitted to the
    // application's footprint it comes out as an opaque icon in a clear margin.
    addAppWithIcon(sandbox, "Notion", typicalIcns());
    image::Bitmap strip = solidBitmap(16384, 1, kIconRed);
    fillRect(strip, 8000, 0, 384, 1, kIconGreen);
    const std::string path = sandbox.homePath("art/strip.png");
    sandbox.writeFile(path, pngBytes(strip));
    RunResult result = sandbox.run({"collections", "add", "naruto", "Notion", path});
    ASSERT_EQ(result.status, 0) << result.err;
    image::Bitmap staged = readPNGFile(collectionFolder(sandbox, "naruto") + "/icons/notion.png");
    ASSERT_EQ(staged.width, 1024);
    RGBA centre = pixelOf(staged, 512, 512);
    EXPECT_EQ(centre.alpha, 255);
    EXPECT_GT(centre.green, 150);
    EXPECT_EQ(pixelOf(staged, 2, 2).alpha, 0);
    // The raw copy keeps the strip at its own size.
    image::Bitmap raw = readPNGFile(collectionFolder(sandbox, "naruto") + "/raw/notion.png");
    EXPECT_EQ(raw.width, 16384);
    EXPECT_EQ(raw.height, 1);
}

} // namespace
} // namespace mivora::testing
