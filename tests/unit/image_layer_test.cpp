#include "platform/image/canvas.h"
#include "platform/image/icns.h"
#include "platform/image/jpeg.h"
#include "platform/image/jpeg2000.h"
#include "platform/image/png.h"
#include "support/icns_writer.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

using image::Bitmap;
using image::Image;

bool near(int a, int b, int tolerance) {
    return a - b <= tolerance && b - a <= tolerance;
}

void expectPixelNear(const Bitmap& bitmap, int x, int y, RGBA expected, int tolerance) {
    RGBA p = pixelOf(bitmap, x, y);
    EXPECT_TRUE(near(p.red, expected.red, tolerance) && near(p.green, expected.green, tolerance) &&
                near(p.blue, expected.blue, tolerance) && near(p.alpha, expected.alpha, tolerance))
        << "pixel (" << x << ", " << y << ") is " << int(p.red) << "," << int(p.green) << "," << int(p.blue)
        << "," << int(p.alpha) << "; expected about " << int(expected.red) << "," << int(expected.green)
        << "," << int(expected.blue) << "," << int(expected.alpha);
}

TEST(ImagePNG, RoundTripKeepsPremultipliedPixels) {
    Bitmap bitmap = solidBitmap(3, 2, {10, 20, 30, 255});
    setPixel(bitmap, 1, 0, {255, 0, 0, 128});
    setPixel(bitmap, 2, 1, {0, 0, 0, 0});
    Bitmap decoded = image::decodePNG(image::encodePNG(bitmap));
    ASSERT_EQ(decoded.width, 3);
    ASSERT_EQ(decoded.height, 2);
    EXPECT_EQ(decoded.pixels, bitmap.pixels);
}

TEST(ImageCanvas, KeepsRGBAByteOrderThroughCairo) {
    // One pixel of each channel: a mix-up of cairo's native-endian words shows here.
    Bitmap source = Bitmap::transparent(4, 1);
    setPixel(source, 0, 0, {255, 0, 0, 255});
    setPixel(source, 1, 0, {0, 255, 0, 255});
    setPixel(source, 2, 0, {0, 0, 255, 255});
    setPixel(source, 3, 0, {255, 255, 255, 128});
    image::Canvas canvas(4, 1);
    canvas.drawImage(Image(source), {0, 0, 4, 1});
    EXPECT_EQ(canvas.bitmap().pixels, source.pixels);
}

TEST(ImageCanvas, StartsTransparentAndDrawsSourceOver) {
    image::Canvas canvas(2, 2);
    for (uint8_t byte : canvas.bitmap().pixels)
        ASSERT_EQ(byte, 0);
    canvas.drawImage(Image(solidBitmap(1, 1, {255, 0, 0, 255})), {0, 0, 2, 2});
    canvas.drawImage(Image(solidBitmap(1, 1, {0, 0, 255, 128})), {0, 0, 2, 2});
    // Half blue over red, premultiplied: red keeps (1 - 128/255), blue adds 128.
    expectPixelNear(canvas.bitmap(), 1, 1, {127, 0, 128, 255}, 1);
}

TEST(ImageCanvas, StretchedImageKeepsOpaqueEdgesAndColoursAtItsEnds) {
    Bitmap source = Bitmap::transparent(2, 1);
    setPixel(source, 0, 0, {255, 0, 0, 255});
    setPixel(source, 1, 0, {0, 0, 255, 255});
    image::Canvas canvas(64, 8);
    canvas.drawImage(Image(source), {0, 0, 64, 8});
    Bitmap out = canvas.bitmap();
    expectPixelNear(out, 0, 0, {255, 0, 0, 255}, 2);
    expectPixelNear(out, 63, 7, {0, 0, 255, 255}, 2);
    for (int x = 0; x < 64; ++x)
        EXPECT_EQ(pixelOf(out, x, 0).alpha, 255) << x;
}

TEST(ImageCanvas, DrawsIntoOnlyTheDestinationRectangle) {
    image::Canvas canvas(10, 10);
    canvas.drawImage(Image(solidBitmap(4, 4, {0, 255, 0, 255})), {2, 3, 4, 4});
    Bitmap out = canvas.bitmap();
    expectPixelNear(out, 2, 3, {0, 255, 0, 255}, 0);
    expectPixelNear(out, 5, 6, {0, 255, 0, 255}, 0);
    expectPixelNear(out, 1, 3, {0, 0, 0, 0}, 0);
    expectPixelNear(out, 6, 6, {0, 0, 0, 0}, 0);
    expectPixelNear(out, 2, 7, {0, 0, 0, 0}, 0);
}

TEST(ImageCanvas, RoundedRectangleIsAntiAliasedAndClearAtItsCorners) {
    image::Canvas canvas(100, 100);
    canvas.fillRoundedRect({10, 10, 80, 80}, 20, 20, {1, 1, 1, 1});
    Bitmap out = canvas.bitmap();
    EXPECT_EQ(pixelOf(out, 50, 50).alpha, 255);
    EXPECT_EQ(pixelOf(out, 12, 50).alpha, 255); // straight edge, inside
    EXPECT_EQ(pixelOf(out, 11, 11).alpha, 0);   // cut-off corner
    EXPECT_EQ(pixelOf(out, 5, 50).alpha, 0);
    int partial = 0;
    for (int x = 10; x < 30; ++x) {
        uint8_t alpha = pixelOf(out, x, x).alpha;
        if (alpha > 0 && alpha < 255) ++partial;
    }
    EXPECT_GT(partial, 0) << "the corner arc has no anti-aliased pixels";
}

TEST(ImageCanvas, RefusesSizesOutOfRange) {
    EXPECT_THROW(image::Canvas(0, 10), image::ImageError);
    EXPECT_THROW(image::Canvas(image::kMaxImageSide + 1, 1), image::ImageError);
}

TEST(ImageDecoding, ReadsJPEGAndJPEG2000) {
    Bitmap source = solidBitmap(16, 8, {200, 40, 90, 255});
    Bitmap jpeg = image::decodeImage(jpegBytes(source)).bestRepresentation()[0];
    EXPECT_EQ(jpeg.width, 16);
    EXPECT_EQ(jpeg.height, 8);
    expectPixelNear(jpeg, 5, 5, {200, 40, 90, 255}, 6);

    Bitmap translucent = solidBitmap(32, 32, {0, 0, 255, 255});
    fillRect(translucent, 0, 0, 32, 16, {255, 0, 0, 0});
    Bitmap jp2 = image::decodeImage(jpeg2000Bytes(translucent)).bestRepresentation()[0];
    EXPECT_EQ(jp2.width, 32);
    expectPixelNear(jp2, 16, 28, {0, 0, 255, 255}, 3);
    expectPixelNear(jp2, 16, 4, {0, 0, 0, 0}, 3);
}

// --- ICNS ------------------------------------------------------------------------

TEST(ImageICNS, DecodesEveryEncodingOfPictureMembers) {
    std::string file = icnsFile({
        {"TOC ", bigEndian32(0)},
        {"ic11", solidPNG(32, 32, {255, 0, 0, 255})},
        {"ic07", jpeg2000Bytes(solidBitmap(128, 128, {0, 255, 0, 255}))},
        {"ic04", "ARGB" + runLengthChannels(16, {128, 0, 0, 255})},
        {"il32", runLengthChannels(32, {10, 20, 30})},
        {"l8mk", std::string(32 * 32, '\x40')},
        {"is32", runLengthChannels(16, {90, 90, 90})},
        {"name", "not a picture"},
    });
    image::IcnsContents contents = image::decodeIcns(file);
    EXPECT_TRUE(contents.problems.empty()) << contents.problems.front();
    ASSERT_EQ(contents.pictures.size(), 5u);
    struct Expected {
        const char* type;
        const char* fileName;
        int side;
        RGBA centre;
    };
    const Expected expected[] = {
        {"ic11", "icon_16x16@2x.png", 32, {255, 0, 0, 255}},
        {"ic07", "icon_128x128.png", 128, {0, 255, 0, 255}},
        {"ic04", "icon_16x16.png", 16, {0, 0, 128, 128}},  // ARGB: alpha 128, blue 255, premultiplied
        {"il32", "icon_32x32.png", 32, {3, 5, 8, 64}},     // masked by l8mk
        {"is32", "icon_16x16.png", 16, {90, 90, 90, 255}}, // no s8mk: opaque
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        const auto& picture = contents.pictures[i];
        SCOPED_TRACE(expected[i].type);
        EXPECT_EQ(picture.type, expected[i].type);
        EXPECT_EQ(picture.slot.iconsetFileName(), expected[i].fileName);
        EXPECT_EQ(picture.bitmap.width, expected[i].side);
        EXPECT_EQ(picture.bitmap.height, expected[i].side);
        expectPixelNear(picture.bitmap, expected[i].side / 2, expected[i].side / 2, expected[i].centre, 3);
    }
    // Two members for icon_16x16.png: the modern one wins.
    auto chosen = image::iconsetPictures(contents);
    EXPECT_EQ(chosen.size(), 4u);
    EXPECT_EQ(chosen.at("icon_16x16.png")->type, "ic04");

    Image picture = image::decodeImage(file);
    EXPECT_EQ(picture.size().width, 128);
    EXPECT_EQ(picture.bestRepresentation()->width, 128);
}

TEST(ImageICNS, ReportsMembersThatDoNotDecodeAndKeepsTheRest) {
    std::string file = icnsFile({
        {"ic10", solidPNG(8, 8, {1, 2, 3, 255}).substr(0, 30)},
        {"ic04", "ARGB\x05"},
        {"ic08", solidPNG(4, 4, {1, 2, 3, 255})},
    });
    image::IcnsContents contents = image::decodeIcns(file);
    ASSERT_EQ(contents.pictures.size(), 1u);
    EXPECT_EQ(contents.pictures[0].type, "ic08");
    ASSERT_EQ(contents.problems.size(), 2u);
    EXPECT_NE(contents.problems[0].find("ic10"), std::string::npos);
    EXPECT_NE(contents.problems[1].find("ic04"), std::string::npos);
}

TEST(ImageICNS, CheckingPNGMembersFindsWhatDecodingThemFinds) {
    // Members that repeat each other's bytes (checked once), a damaged one twice,
    // the largest damaged (checked on the second thread), a non-PNG member, and
    // one that decodes but is not whole (cut after its image data), which is
    // decoded instead of kept.
    std::string cut = solidPNG(64, 64, {9, 9, 9, 255});
    cut[cut.size() - 20] ^= 0x40;
    const std::string same = solidPNG(32, 32, {1, 2, 3, 255});
    const std::string noEnd = same.substr(0, same.size() - 12);
    const std::vector<std::vector<IcnsEntry>> files = {
        {{"ic09", same}, {"ic14", same}, {"ic12", cut}, {"ic07", cut}, {"ic04", "ARGB\x05"}},
        {{"ic10", cut}, {"ic08", same}, {"ic13", same}},
        {{"ic08", same}, {"ic13", noEnd}},
    };
    for (const auto& members : files) {
        const std::string file = icnsFile(members);
        const image::IcnsContents decoded = image::decodeIcns(file);
        const image::IcnsContents checked = image::decodeIcns(file, image::IcnsPNGMembers::keepWhole);
        EXPECT_EQ(checked.problems, decoded.problems);
        ASSERT_EQ(checked.pictures.size(), decoded.pictures.size());
        for (size_t i = 0; i < checked.pictures.size(); ++i) {
            const image::IcnsPicture& picture = checked.pictures[i];
            EXPECT_EQ(picture.type, decoded.pictures[i].type);
            if (picture.png == same) {
                EXPECT_TRUE(picture.bitmap.pixels.empty());
            } else {
                EXPECT_TRUE(picture.png.empty()) << picture.type;
                EXPECT_EQ(picture.bitmap.pixels, decoded.pictures[i].bitmap.pixels) << picture.type;
            }
        }
    }
    const image::IcnsContents checked =
        image::decodeIcns(icnsFile(files[0]), image::IcnsPNGMembers::keepWhole);
    EXPECT_EQ(checked.pictures.size(), 2u);
    EXPECT_EQ(checked.problems.size(), 3u);
    // A kept member's bytes are a view into the file's.
    const std::string thirdFile = icnsFile(files[2]);
    const image::IcnsContents third = image::decodeIcns(thirdFile, image::IcnsPNGMembers::keepWhole);
    ASSERT_EQ(third.pictures.size(), 2u);
    EXPECT_EQ(third.pictures[0].png, same);
    EXPECT_TRUE(third.pictures[1].png.empty());
    EXPECT_EQ(third.pictures[1].bitmap.width, 32);
}

TEST(ImageICNS, OldMembersAreCheckedBeforeTheirDecoderSeesThem) {
    // Each hostile member sits beside a good one: it is reported and skipped,
    // the good one still decodes.
    const std::string is32 = runLengthChannels(16, {90, 90, 90});
    const std::string il32 = runLengthChannels(32, {10, 20, 30});
    // Two repeats of 130 bytes: the second runs past the channel's 256.
    const std::string crossing = std::string("\xFF\x01\xFF\x01", 4) + runLengthChannels(16, {2, 3});
    struct Case {
        const char* name;
        std::vector<IcnsEntry> members;
        const char* problem;
    };
    const Case cases[] = {
        {"mask shorter than side x side",
         {{"il32", il32}, {"l8mk", std::string(1000, '\x40')}},
         "1000 bytes"},
        {"empty mask", {{"is32", is32}, {"s8mk", ""}}, "holds 0 bytes"},
        {"mask longer than side x side", {{"is32", is32}, {"s8mk", std::string(257, '\x40')}}, "257 bytes"},
        {"run-length data cut short", {{"il32", il32.substr(0, il32.size() - 7)}}, "ends early"},
        {"run-length data of the wrong side", {{"il32", is32}}, "ends early"},
        {"a run that crosses into the next channel", {{"is32", crossing}}, "overruns"},
        {"it32 without its four leading bytes", {{"it32", "\0\0"}}, "ends early"},
        {"ARGB data cut short",
         {{"ic05", "ARGB" + runLengthChannels(32, {255, 1, 2, 3}).substr(0, 90)}},
         "ends early"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<IcnsEntry> members = c.members;
        members.push_back({"ic08", solidPNG(8, 8, {1, 2, 3, 255})});
        image::IcnsContents contents = image::decodeIcns(icnsFile(members));
        ASSERT_EQ(contents.pictures.size(), 1u);
        EXPECT_EQ(contents.pictures[0].type, "ic08");
        ASSERT_EQ(contents.problems.size(), 1u);
        EXPECT_NE(contents.problems[0].find(c.members[0].type), std::string::npos) << contents.problems[0];
        EXPECT_NE(contents.problems[0].find(c.problem), std::string::npos) << contents.problems[0];
    }

    // it32 data begins with four zero bytes; with them and an exact mask it decodes.
    std::string it32 = std::string(4, '\0') + runLengthChannels(128, {200, 100, 50});
    image::IcnsContents contents =
        image::decodeIcns(icnsFile({{"it32", it32}, {"t8mk", std::string(128 * 128, '\xFF')}}));
    ASSERT_EQ(contents.pictures.size(), 1u) << contents.problems.front();
    expectPixelNear(contents.pictures[0].bitmap, 64, 64, {200, 100, 50, 255}, 0);
}

TEST(ImageICNS, PixelBudgetCoversAllMembersThatAreDecoded) {
    // Five 4096 x 4096 pictures: 80 million pixels together, more than one file
    // may decode to. Read whole (as the iconset stand-in does) the file is refused
    // before any member is decoded; as an image only the largest is decoded.
    std::vector<IcnsEntry> members;
    for (const char* type : {"ic10", "ic09", "ic08", "ic07", "ic14"})
        members.push_back({type, bilevelPNG(4096, 4096)});
    members.push_back({"ic04", solidPNG(16, 16, {1, 2, 3, 255})});
    const std::string file = icnsFile(members);
    try {
        image::decodeIcns(file);
        ADD_FAILURE() << "decoded";
    } catch (const image::ImageError& error) {
        EXPECT_NE(std::string(error.what()).find("more than the 67108864 pixels"), std::string::npos)
            << error.what();
    }
    Image picture = image::decodeImage(file);
    ASSERT_EQ(picture.representations().size(), 1u);
    EXPECT_EQ(picture.bestRepresentation()->width, 4096);

    // When the largest member does not decode, the next largest is used.
    Image fallback = image::decodeImage(icnsFile({{"ic08", solidPNG(256, 256, {0, 0, 255, 255})},
                                                  {"ic10", pngWithHeader(1024, 1024)},
                                                  {"ic04", solidPNG(16, 16, {1, 2, 3, 255})}}));
    EXPECT_EQ(fallback.size().width, 256);
}

// --- bad input ---------------------------------------------------------------------

struct BadInput {
    const char* name;
    std::string bytes;
    const char* messagePart;
};

std::vector<BadInput> badInputs() {
    std::string png = solidPNG(20, 20, {9, 9, 9, 255});
    std::string jpeg = jpegBytes(solidBitmap(8, 8, {9, 9, 9, 255}));
    std::string hugeJPEG = jpeg;
    // Patch the frame header (FF C0, length, precision, height, width) to 30000 x 30000.
    size_t sof = hugeJPEG.find("\xFF\xC0");
    hugeJPEG[sof + 5] = hugeJPEG[sof + 7] = static_cast<char>(30000 >> 8);
    hugeJPEG[sof + 6] = hugeJPEG[sof + 8] = static_cast<char>(30000 & 0xFF);
    std::string overBudgetJPEG = jpeg;
    overBudgetJPEG[sof + 5] = overBudgetJPEG[sof + 7] = static_cast<char>(16384 >> 8);
    overBudgetJPEG[sof + 6] = overBudgetJPEG[sof + 8] = static_cast<char>(16384 & 0xFF);
    // A progressive JPEG whose last scan is repeated 300 times: every scan is
    // a pass over the whole picture.
    std::string manyScans = jpegBytes(solidBitmap(8, 8, {9, 9, 9, 255}), true);
    size_t lastScan = manyScans.rfind("\xFF\xDA");
    std::string scan = manyScans.substr(lastScan, manyScans.size() - 2 - lastScan);
    for (int i = 0; i < 300; ++i)
        manyScans.insert(manyScans.size() - 2, scan);
    std::string bigJPEG = jpeg;
    bigJPEG[sof + 5] = bigJPEG[sof + 7] = static_cast<char>(8000 >> 8);
    bigJPEG[sof + 6] = bigJPEG[sof + 8] = static_cast<char>(8000 & 0xFF);
    // A JPEG 2000 file whose image header and SIZ marker both announce 4096 x 4096.
    std::string bigJP2 = jpeg2000Bytes(solidBitmap(32, 32, {9, 9, 9, 255}));
    auto patch = [&](size_t at, uint32_t value) { bigJP2.replace(at, 4, bigEndian32(value)); };
    size_t ihdr = bigJP2.find("ihdr"), siz = bigJP2.find("\xFF\x51");
    for (size_t at : {ihdr + 4, ihdr + 8, siz + 6, siz + 10, siz + 22, siz + 26})
        patch(at, 4096);
    std::string member = solidPNG(4, 4, {1, 2, 3, 255});
    std::string twoMembers =
        icnsMemberWithLength("ic08", member, static_cast<uint32_t>(member.size() + 8 + 20)) +
        icnsMemberWithLength("ic09", member, static_cast<uint32_t>(member.size() + 8));
    return {
        {"empty file", "", "empty"},
        {"unknown format", "GIF89a....", "not a PNG"},
        {"truncated PNG", png.substr(0, png.size() / 2), "PNG"},
        {"PNG of 0 x 0", pngWithHeader(0, 0), "PNG"},
        {"PNG header of 30000 x 30000", pngWithHeader(30000, 30000), "larger than 16384"},
        {"PNG header of 8000 x 8000 on a small file", pngWithHeader(8000, 8000), "cannot hold"},
        {"complete PNG of 16384 x 16384", bilevelPNG(16384, 16384), "larger than the 67108864 pixels"},
        {"complete PNG of 16384 x 4097", bilevelPNG(16384, 4097), "larger than the 67108864 pixels"},
        {"JPEG with a bad header", std::string("\xFF\xD8\xFF\xE0\x00\x02garbage", 13), "JPEG"},
        {"JPEG header of 30000 x 30000", hugeJPEG, "larger than 16384"},
        {"JPEG header of 16384 x 16384", overBudgetJPEG, "larger than the 67108864 pixels"},
        {"JPEG header of 8000 x 8000 on a small file", bigJPEG, "damaged JPEG"},
        {"truncated JPEG", jpeg.substr(0, jpeg.size() - 40), "damaged JPEG"},
        {"progressive JPEG of 300 scans", manyScans, "more than 256 scans"},
        {"JPEG 2000 header of 4096 x 4096", bigJP2, "larger than 2048"},
        {"ICNS shorter than its header", std::string("icns\0\0", 6), "not an ICNS"},
        {"ICNS declaring more than the file",
         "icns" + bigEndian32(4096) + icnsMemberWithLength("ic08", member, uint32_t(member.size() + 8)),
         "truncated"},
        {"ICNS member longer than the file",
         "icns" + bigEndian32(uint32_t(8 + member.size() + 8)) +
             icnsMemberWithLength("ic08", member, 1u << 30),
         "only"},
        {"ICNS member of length 0", "icns" + bigEndian32(16) + icnsMemberWithLength("ic08", "", 0),
         "impossible length of 0"},
        {"ICNS members overlapping", "icns" + bigEndian32(uint32_t(8 + twoMembers.size())) + twoMembers,
         "ICNS"},
        {"ICNS with a 30000 x 30000 member", icnsFile({{"ic10", pngWithHeader(30000, 30000)}}),
         "larger than 16384"},
        {"ICNS without pictures", icnsFile({{"TOC ", ""}, {"icnV", "abcd"}}), "no picture"},
        {"ICNS of several 16384 x 16384 members",
         icnsFile({{"ic10", bilevelPNG(16384, 16384)},
                   {"ic09", bilevelPNG(16384, 16384)},
                   {"ic14", bilevelPNG(16384, 16384)}}),
         "larger than the 67108864 pixels"},
        {"ICNS whose only picture has a short mask",
         icnsFile({{"il32", runLengthChannels(32, {10, 20, 30})}, {"l8mk", std::string(32 * 31, '\x40')}}),
         "mask"},
    };
}

TEST(ImageDecoding, RefusesBadInputWithAClearError) {
    for (const auto& input : badInputs()) {
        SCOPED_TRACE(input.name);
        try {
            image::decodeImage(input.bytes);
            ADD_FAILURE() << "decoded";
        } catch (const image::ImageError& error) {
            EXPECT_NE(std::string(error.what()).find(input.messagePart), std::string::npos) << error.what();
        }
    }
}

} // namespace
} // namespace mivora::testing
