// The iconutil and sips stand-ins in the forms the tool uses, and their refusals.
#include "platform/file_reading.h"
#include "platform/filesystem.h"
#include "platform/image/png.h"
#include "support/icon_fixtures.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

RunResult runStandin(const Sandbox& sandbox, const std::string& program,
                     const std::vector<std::string>& arguments, const std::string& workingDirectory = "") {
    std::vector<std::string> argv = {standinsDirectory() + "/" + program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return sandbox.runProgram(argv, workingDirectory);
}

TEST(IconutilStandin, WritesEveryMemberUnderItsIconsetName) {
    Sandbox sandbox;
    const std::string retinaPNG = solidPNG(1024, 1024, kIconBlue);
    std::string icns = icnsFile({
        {"TOC ", bigEndian32(0)},
        {"ic12", solidPNG(64, 64, kIconRed)},
        {"ic07", solidPNG(128, 128, kIconRed)},
        {"ic13", solidPNG(256, 256, kIconRed)},
        {"ic08", solidPNG(256, 256, kIconRed)},
        {"ic04", "ARGB" + runLengthChannels(16, {255, 1, 2, 3})},
        {"ic14", solidPNG(512, 512, kIconRed)},
        {"ic09", solidPNG(512, 512, kIconRed)},
        {"ic05", "ARGB" + runLengthChannels(32, {255, 1, 2, 3})},
        {"ic10", retinaPNG},
        {"ic11", solidPNG(32, 32, kIconRed)},
        {"is32", runLengthChannels(16, {9, 9, 9})},
        {"s8mk", std::string(256, '\xFF')},
        {"info", "<plist/>"},
    });
    sandbox.writeFile(sandbox.tmp() + "/App.icns", icns);
    auto result =
        runStandin(sandbox, "iconutil",
                   {"-c", "iconset", sandbox.tmp() + "/App.icns", "-o", sandbox.tmp() + "/out/App.iconset"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    auto names = *platform::listDirectory(sandbox.tmp() + "/out/App.iconset");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"icon_128x128.png", "icon_128x128@2x.png", "icon_16x16.png",
                                               "icon_16x16@2x.png", "icon_256x256.png", "icon_256x256@2x.png",
                                               "icon_32x32.png", "icon_32x32@2x.png", "icon_512x512.png",
                                               "icon_512x512@2x.png"}));
    // A PNG member is written byte for byte; the run-length ones are encoded.
    EXPECT_EQ(platform::readFile(sandbox.tmp() + "/out/App.iconset/icon_512x512@2x.png", kTestReadLimit),
              retinaPNG);
    image::Bitmap retina = readPNGFile(sandbox.tmp() + "/out/App.iconset/icon_512x512@2x.png");
    EXPECT_EQ(retina.width, 1024);
    if (retina.width == 1024) {
        EXPECT_EQ(pixelOf(retina, 5, 5).blue, kIconBlue.blue);
    }
    image::Bitmap small = readPNGFile(sandbox.tmp() + "/out/App.iconset/icon_16x16.png");
    if (small.width == 16) {
        EXPECT_EQ(pixelOf(small, 5, 5).blue, 3) << "the ARGB member, not is32";
    }
}

// What the stand-ins do with a PNG they would keep as it is.
enum class Outcome {
    kept,      // whole: byte for byte
    reencoded, // its pixels read, but it is not whole: encoded again from them
    refused,   // its pixels do not read
};

struct PNGVariant {
    const char* name;
    std::string bytes;
    Outcome outcome;
};

// A sound 48 x 48 RGBA PNG of varied pixels, and copies damaged in the ways a
// PNG reader must notice (or, where libpng reads past the damage, may ignore).
std::vector<PNGVariant> pngVariants() {
    const size_t side = 48;
    std::vector<uint8_t> pixels(side * side * 4);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(i * 7 + i / 191);
    const std::string rows = filteredRows(pixels, side * 4, 4, {0, 1, 2, 3, 4});
    const std::string stream = zlibStream(rows);
    const std::string header = pngHeader(side, side, 8, 6);
    const std::string data = pngChunk("IDAT", stream);
    const std::string end = pngChunk("IEND", "");
    const std::string text = pngChunk("tEXt", std::string("k\0v", 3));
    const std::string sound = pngFile({header, data, end});
    std::string badChecksum = stream;
    badChecksum.back() ^= 0x10;
    std::string badFilter = rows;
    badFilter[(side * 4 + 1) * 20] = 9;
    std::string lyingLength = sound;
    lyingLength[33 + 3] = static_cast<char>(lyingLength[33 + 3] + 16); // the IDAT length
    return {
        {"sound", sound, Outcome::kept},
        {"a text chunk after the image data", pngFile({header, data, text, end}), Outcome::kept},
        {"a bad CRC on a text chunk",
         pngFile({header, pngChunk("tEXt", std::string("k\0v", 3), 7), data, end}), Outcome::reencoded},
        {"bytes after IEND", sound + "tail", Outcome::reencoded},
        {"no IEND", pngFile({header, data}), Outcome::reencoded},
        {"cut inside the chunk after the image data",
         pngFile({header, data, text}).substr(0, 33 + data.size() + 9), Outcome::reencoded},
        {"a bad CRC on IEND", pngFile({header, data, pngChunk("IEND", "", 7)}), Outcome::reencoded},
        {"bytes after the zlib stream", pngFile({header, pngChunk("IDAT", stream + "xx"), end}),
         Outcome::reencoded},
        {"an unknown critical chunk after the image data",
         pngFile({header, data, pngChunk("ABCD", "x"), end}), Outcome::reencoded},
        {"a bad CRC on the image data", pngFile({header, pngChunk("IDAT", stream, 7), end}),
         Outcome::refused},
        {"a bad zlib checksum", pngFile({header, pngChunk("IDAT", badChecksum), end}), Outcome::refused},
        {"a row short",
         pngFile({header, pngChunk("IDAT", zlibStream(rows.substr(0, rows.size() - side))), end}),
         Outcome::refused},
        {"an invalid row filter", pngFile({header, pngChunk("IDAT", zlibStream(badFilter)), end}),
         Outcome::refused},
        {"a length beyond the file", lyingLength, Outcome::refused},
        {"cut inside the image data", sound.substr(0, sound.size() - 40), Outcome::refused},
    };
}

// A PNG written in place of the variant: its own bytes when kept, else a whole
// file of the same pixels.
void expectWrittenAsItShould(const PNGVariant& variant, const std::string& path) {
    const std::optional<std::string> written = platform::readFile(path, kTestReadLimit);
    ASSERT_TRUE(written.has_value());
    if (variant.outcome == Outcome::kept) {
        EXPECT_EQ(*written, variant.bytes);
        return;
    }
    EXPECT_NE(*written, variant.bytes);
    EXPECT_TRUE(image::isWholePNG(*written));
    EXPECT_EQ(image::decodePNG(*written).pixels, image::decodePNG(variant.bytes).pixels);
}

TEST(IconutilStandin, KeepsWholePNGMembersReencodesTheOthersAndSkipsOnlyTheDamagedOnes) {
    Sandbox sandbox;
    const std::string other = solidPNG(16, 16, kIconGreen);
    for (const PNGVariant& variant : pngVariants()) {
        SCOPED_TRACE(variant.name);
        const std::string icns = sandbox.tmp() + "/App.icns", out = sandbox.tmp() + "/App.iconset";
        platform::removeItemQuietly(out);
        sandbox.writeFile(icns, icnsFile({{"ic12", variant.bytes}, {"ic04", other}}));
        auto result = runStandin(sandbox, "iconutil", {"-c", "iconset", icns, "-o", out});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(platform::readFile(out + "/icon_16x16.png", kTestReadLimit), other);
        if (variant.outcome == Outcome::refused) {
            EXPECT_EQ(result.err.rfind("iconutil: " + icns + ": skipped member 'ic12': damaged PNG: ", 0), 0u)
                << result.err;
            EXPECT_FALSE(platform::fileExists(out + "/icon_32x32@2x.png"));
        } else {
            EXPECT_EQ(result.err, "");
            expectWrittenAsItShould(variant, out + "/icon_32x32@2x.png");
        }
    }
}

TEST(IconutilStandin, RefusesWhatItCannotDo) {
    Sandbox sandbox;
    sandbox.writeFile(sandbox.tmp() + "/bad.icns", "icns" + bigEndian32(12) + "junk");
    sandbox.writeFile(sandbox.tmp() + "/empty.icns", icnsFile({{"TOC ", ""}}));
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::string errorPart;
    };
    const std::vector<Case> cases = {
        {"no arguments", {}, "Usage: iconutil"},
        {"missing file", {"-c", "iconset", sandbox.tmp() + "/none.icns"}, "cannot read the file"},
        {"the other direction", {"-c", "icns", sandbox.tmp() + "/x.iconset"}, "only '-c iconset'"},
        {"a bad container",
         {"-c", "iconset", sandbox.tmp() + "/bad.icns", "-o", sandbox.tmp() + "/o"},
         "ICNS"},
        {"no pictures",
         {"-c", "iconset", sandbox.tmp() + "/empty.icns", "-o", sandbox.tmp() + "/o"},
         "no picture"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = runStandin(sandbox, "iconutil", c.arguments);
        EXPECT_NE(result.status, 0);
        EXPECT_NE(result.err.find(c.errorPart), std::string::npos) << result.err;
    }
    EXPECT_FALSE(platform::fileExists(sandbox.tmp() + "/o"));
}

TEST(SipsStandin, ReportsPixelSizesWithTheFilePathFirst) {
    Sandbox sandbox;
    sandbox.writeFile(sandbox.tmp() + "/wide.png", solidPNG(40, 30, kIconRed));
    auto result =
        runStandin(sandbox, "sips", {"-g", "pixelWidth", "-g", "pixelHeight", "wide.png"}, sandbox.tmp());
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, sandbox.tmp() + "/wide.png\n  pixelWidth: 40\n  pixelHeight: 30\n");
    result = runStandin(sandbox, "sips", {"-g", "pixelHeight", sandbox.tmp() + "/wide.png"});
    EXPECT_EQ(result.out, sandbox.tmp() + "/wide.png\n  pixelHeight: 30\n");
}

TEST(SipsStandin, ConvertsToPNGAndResamplesHeightThenWidth) {
    Sandbox sandbox;
    sandbox.writeFile(sandbox.tmp() + "/photo.jpg", jpegBytes(solidBitmap(24, 12, kIconGreen)));
    sandbox.writeFile(sandbox.tmp() + "/App.icns", typicalIcns());
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::string output;
        int width, height;
    };
    const std::vector<Case> cases = {
        {"JPEG to PNG at its own size",
         {"-s", "format", "png", "photo.jpg", "--out", "photo.png"},
         "photo.png",
         24,
         12},
        {"-z height width",
         {"-s", "format", "png", "-z", "10", "20", "photo.jpg", "--out", "z.png"},
         "z.png",
         20,
         10},
        {"ICNS to PNG: the largest member",
         {"-s", "format", "png", "App.icns", "--out", "app.png"},
         "app.png",
         1024,
         1024},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = runStandin(sandbox, "sips", c.arguments, sandbox.tmp());
        ASSERT_EQ(result.status, 0) << result.err;
        image::Bitmap written = readPNGFile(sandbox.tmp() + "/" + c.output);
        EXPECT_EQ(written.width, c.width);
        EXPECT_EQ(written.height, c.height);
    }
}

TEST(SipsStandin, PNGAlreadyAtTheAskedSizeIsKeptByteForByte) {
    Sandbox sandbox;
    const std::string png = pngBytes(solidBitmap(12, 12, {10, 20, 30, 128}));
    sandbox.writeFile(sandbox.tmp() + "/icon.png", png);
    sandbox.writeFile(sandbox.tmp() + "/photo.jpg", jpegBytes(solidBitmap(12, 12, kIconGreen)));
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        bool sameBytes;
        int side;
    };
    const std::vector<Case> cases = {
        {"same size given",
         {"-s", "format", "png", "-z", "12", "12", "icon.png", "--out", "a.png"},
         true,
         12},
        {"no size given", {"-s", "format", "png", "icon.png", "--out", "b.png"}, true, 12},
        {"another size", {"-s", "format", "png", "-z", "6", "6", "icon.png", "--out", "c.png"}, false, 6},
        {"not a PNG", {"-s", "format", "png", "-z", "12", "12", "photo.jpg", "--out", "d.png"}, false, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = runStandin(sandbox, "sips", c.arguments, sandbox.tmp());
        ASSERT_EQ(result.status, 0) << result.err;
        const std::string output = sandbox.tmp() + "/" + c.arguments[c.arguments.size() - 1];
        EXPECT_EQ(platform::readFile(output, kTestReadLimit) == png, c.sameBytes);
        image::Bitmap written = readPNGFile(output);
        EXPECT_EQ(written.width, c.side);
        EXPECT_EQ(written.height, c.side);
    }
    // A PNG that decodes no further than its header is refused, not copied.
    std::string cut = png.substr(0, png.size() - 20);
    sandbox.writeFile(sandbox.tmp() + "/cut.png", cut);
    auto result =
        runStandin(sandbox, "sips", {"-s", "format", "png", "cut.png", "--out", "e.png"}, sandbox.tmp());
    EXPECT_NE(result.status, 0);
    EXPECT_FALSE(platform::fileExists(sandbox.tmp() + "/e.png"));
}

TEST(SipsStandin, PNGKeptAtItsSizeIsCheckedWholeFirst) {
    Sandbox sandbox;
    for (const PNGVariant& variant : pngVariants()) {
        SCOPED_TRACE(variant.name);
        sandbox.writeFile(sandbox.tmp() + "/in.png", variant.bytes);
        platform::removeItemQuietly(sandbox.tmp() + "/out.png");
        auto result = runStandin(sandbox, "sips",
                                 {"-s", "format", "png", "-z", "48", "48", "in.png", "--out", "out.png"},
                                 sandbox.tmp());
        if (variant.outcome == Outcome::refused) {
            EXPECT_NE(result.status, 0);
            EXPECT_EQ(result.err.rfind("Error: " + sandbox.tmp() + "/in.png: damaged PNG: ", 0), 0u)
                << result.err;
            EXPECT_FALSE(platform::fileExists(sandbox.tmp() + "/out.png"));
        } else {
            ASSERT_EQ(result.status, 0) << result.err;
            expectWrittenAsItShould(variant, sandbox.tmp() + "/out.png");
        }
    }
}

TEST(SipsStandin, RefusesWhatItCannotDoAndWritesNothing) {
    Sandbox sandbox;
    std::string png = solidPNG(8, 8, kIconRed);
    sandbox.writeFile(sandbox.tmp() + "/ok.png", png);
    sandbox.writeFile(sandbox.tmp() + "/cut.png", png.substr(0, png.size() - 20));
    sandbox.writeFile(sandbox.tmp() + "/huge.png", pngWithHeader(30000, 30000));
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::string errorPart;
    };
    const std::vector<Case> cases = {
        {"size 0",
         {"-s", "format", "png", "-z", "0", "0", "ok.png", "--out", "out.png"},
         "a size must be above 0"},
        {"negative size",
         {"-s", "format", "png", "-z", "-1", "8", "ok.png", "--out", "out.png"},
         "a size must be above 0"},
        {"size not a number",
         {"-s", "format", "png", "-z", "ten", "8", "ok.png", "--out", "out.png"},
         "whole numbers"},
        {"size beyond the cap",
         {"-s", "format", "png", "-z", "20000", "20000", "ok.png", "--out", "out.png"},
         "at most 16384"},
        {"missing file", {"-s", "format", "png", "none.png", "--out", "out.png"}, "cannot read"},
        {"truncated PNG", {"-s", "format", "png", "cut.png", "--out", "out.png"}, "damaged PNG"},
        {"oversized header", {"-g", "pixelWidth", "huge.png"}, "larger than 16384"},
        {"another format", {"-s", "format", "tiff", "ok.png", "--out", "out.png"}, "only png"},
        {"another property", {"-g", "dpiWidth", "ok.png"}, "not available"},
        {"no file", {"-g", "pixelWidth"}, "Usage: sips"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = runStandin(sandbox, "sips", c.arguments, sandbox.tmp());
        EXPECT_NE(result.status, 0);
        EXPECT_NE(result.err.find(c.errorPart), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_FALSE(platform::fileExists(sandbox.tmp() + "/out.png"));
}

} // namespace
} // namespace mivora::testing
