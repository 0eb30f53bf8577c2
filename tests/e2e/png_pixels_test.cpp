// PNG pixels through the binary, as the platform reads them: an interlaced file
// gives the pixels of the same samples written without interlacing, and a
// 16-bit file without colour chunks those of its 8-bit edition. The raw copy
// that collections add keeps of its input (the picture at its own size) shows
// what was read.
#include "support/collection_fixture.h"
#include "support/icon_fixtures.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

struct Twins {
    const char* name;
    PNGPicture first, second;
    int tolerance; // levels
};

PNGPicture interlaced(PNGPicture picture) {
    picture.interlaced = true;
    return picture;
}

TEST(PNGPixels, TwinFilesGiveTheSamePictureThroughTheBinary) {
    Sandbox sandbox;
    writeCollection(sandbox, "naruto", manifestDocument("naruto", "Naruto"));
    PNGPicture tagged = patternPNGPicture(40, 24, 16, 6);
    tagged.sRGB = true;
    const std::vector<Twins> cases = {
        {"16-bit RGBA, interlaced", patternPNGPicture(40, 24, 16, 6),
         interlaced(patternPNGPicture(40, 24, 16, 6)), 0},
        {"16-bit grey and alpha, interlaced", patternPNGPicture(17, 31, 16, 4),
         interlaced(patternPNGPicture(17, 31, 16, 4)), 0},
        {"16-bit RGB, interlaced", patternPNGPicture(9, 9, 16, 2), interlaced(patternPNGPicture(9, 9, 16, 2)),
         0},
        {"4-bit palette, interlaced", patternPNGPicture(30, 20, 4, 3),
         interlaced(patternPNGPicture(30, 20, 4, 3)), 0},
        {"2-bit grey, interlaced", patternPNGPicture(30, 20, 2, 0),
         interlaced(patternPNGPicture(30, 20, 2, 0)), 0},
        {"16-bit RGB and its 8-bit edition", patternPNGPicture(33, 7, 16, 2),
         eightBitEdition(patternPNGPicture(33, 7, 16, 2)), 1},
        {"16-bit grey and its 8-bit edition", patternPNGPicture(20, 20, 16, 0),
         eightBitEdition(patternPNGPicture(20, 20, 16, 0)), 1},
        {"16-bit RGBA untagged and tagged sRGB", patternPNGPicture(40, 24, 16, 6), tagged, 0},
    };
    int index = 0;
    for (const Twins& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<image::Bitmap> raws;
        for (const PNGPicture* picture : {&c.first, &c.second}) {
            const std::string app = "Twin " + std::to_string(index++);
            const std::string path = sandbox.homePath("art/twin.png");
            sandbox.writeFile(path, libpngFile(*picture));
            RunResult result = sandbox.run({"collections", "add", "naruto", app, path, "--raw", "--force"});
            ASSERT_EQ(result.status, 0) << result.err;
            raws.push_back(readPNGFile(collectionFolder(sandbox, "naruto") + "/raw/twin-" +
                                       std::to_string(index - 1) + ".png"));
        }
        ASSERT_EQ(raws[0].width, static_cast<int>(c.first.width));
        ASSERT_EQ(raws[0].pixels.size(), raws[1].pixels.size());
        int worst = 0;
        for (size_t i = 0; i < raws[0].pixels.size(); ++i)
            worst = std::max(worst, std::abs(raws[0].pixels[i] - raws[1].pixels[i]));
        EXPECT_LE(worst, c.tolerance);
    }
    // And the untagged 16-bit file is not read as linear light: mid-grey stays mid-grey.
    PNGPicture grey = patternPNGPicture(4, 4, 16, 0);
    grey.samples.assign(16, 0x8080);
    sandbox.writeFile(sandbox.homePath("art/grey.png"), libpngFile(grey));
    RunResult result = sandbox.run(
        {"collections", "add", "naruto", "Grey", sandbox.homePath("art/grey.png"), "--raw", "--force"});
    ASSERT_EQ(result.status, 0) << result.err;
    const image::Bitmap raw = readPNGFile(collectionFolder(sandbox, "naruto") + "/raw/grey.png");
    ASSERT_EQ(raw.width, 4);
    EXPECT_EQ(pixelOf(raw, 2, 2).red, 128);
}

} // namespace
} // namespace mivora::testing
