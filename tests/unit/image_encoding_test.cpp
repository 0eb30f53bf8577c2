// The PNG writer and the shortcuts around drawing: whatever takes a faster road
// must give the very bytes and pixels of the slow one.
#include "icons/icon_normalization.h"
#include "icons/icon_rendering.h"
#include "platform/image/canvas.h"
#include "platform/image/pixel_format.h"
#include "platform/image/png.h"
#include "support/icns_writer.h"

#include <deque>
#include <gtest/gtest.h>
#include <random>

namespace mivora::testing {
namespace {

using image::Bitmap;

// Pixels from a fixed seed, premultiplied as bitmaps hold them; `alphaLevels`
// spreads alpha over that many steps from 0 to 255 (1: opaque).
Bitmap noiseBitmap(int width, int height, unsigned seed, int alphaLevels) {
    std::mt19937 random(seed);
    Bitmap bitmap = Bitmap::transparent(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int step = alphaLevels > 1 ? static_cast<int>(random() % alphaLevels) : 0;
            uint8_t alpha = alphaLevels > 1 ? static_cast<uint8_t>(step * 255 / (alphaLevels - 1)) : 255;
            setPixel(bitmap, x, y,
                     {static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                      static_cast<uint8_t>(random()), alpha});
        }
    }
    return bitmap;
}

// What a decoder gives back for a bitmap: its colours un-premultiplied into the
// file and premultiplied again on the way in.
std::vector<uint8_t> throughStraightColour(const Bitmap& bitmap) {
    std::vector<uint8_t> straight(bitmap.pixels.size());
    image::unpremultiplyRGBA(bitmap.pixels.data(), straight.data(), straight.size() / 4);
    image::premultiplyRGBA(straight.data(), straight.size() / 4);
    return straight;
}

TEST(ImagePNGWriter, EveryPixelSurvivesTheRoundTripThroughLibpng) {
    struct Case {
        const char* name;
        Bitmap bitmap;
    };
    Bitmap gradient = Bitmap::transparent(37, 9);
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 37; ++x)
            setPixel(gradient, x, y, {static_cast<uint8_t>(x * 7), static_cast<uint8_t>(y * 28), 200, 255});
    }
    // Rows that repeat the one above, and stretches that match it only in part.
    Bitmap patches = solidBitmap(61, 40, {10, 20, 30, 128});
    fillRect(patches, 7, 5, 30, 20, {200, 100, 0, 255});
    fillRect(patches, 0, 30, 61, 3, {0, 0, 0, 0});
    setPixel(patches, 13, 9, {1, 2, 3, 4});
    setPixel(patches, 60, 39, {255, 255, 255, 255});
    const std::vector<Case> cases = {
        {"one opaque pixel", solidBitmap(1, 1, {1, 2, 3, 255})},
        {"one clear pixel", solidBitmap(1, 1, {0, 0, 0, 0})},
        {"a gradient (every Paeth predictor)", gradient},
        {"opaque noise", noiseBitmap(64, 48, 1, 1)},
        {"noise with every alpha", noiseBitmap(33, 65, 2, 256)},
        {"a tall single column", noiseBitmap(1, 300, 3, 4)},
        {"repeated rows and flat patches", patches},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string png = image::encodePNG(c.bitmap);
        // libpng checks the signature, every chunk's CRC and the zlib stream.
        Bitmap decoded = image::decodePNG(png);
        ASSERT_EQ(decoded.width, c.bitmap.width);
        ASSERT_EQ(decoded.height, c.bitmap.height);
        EXPECT_EQ(decoded.pixels, throughStraightColour(c.bitmap));
        EXPECT_TRUE(image::pngHasAlpha(png));
        EXPECT_EQ(image::pngPixelSize(png).width, c.bitmap.width);
        EXPECT_EQ(image::pngPixelSize(png).height, c.bitmap.height);
    }
}

TEST(ImagePNGWriter, RefusesBitmapsItCannotWrite) {
    Bitmap empty;
    Bitmap lying = solidBitmap(4, 4, {1, 2, 3, 255});
    lying.pixels.pop_back();
    EXPECT_THROW(image::encodePNG(empty), image::ImageError);
    EXPECT_THROW(image::encodePNG(lying), image::ImageError);
}

// Drawing a picture at its own size at the origin of a fresh canvas is skipped:
// the result must be exactly what cairo draws.
TEST(IconDrawing, PictureAtItsOwnSizeComesOutAsCairoDrawsIt) {
    const std::vector<Bitmap> bitmaps = {noiseBitmap(40, 30, 4, 256), noiseBitmap(16, 16, 5, 1),
                                         solidBitmap(3, 7, {9, 99, 199, 77})};
    for (const Bitmap& bitmap : bitmaps) {
        image::Image picture(bitmap);
        const image::Rect whole{0, 0, static_cast<double>(bitmap.width), static_cast<double>(bitmap.height)};
        image::Canvas canvas(bitmap.width, bitmap.height);
        canvas.drawImage(picture, whole);
        auto drawn = icons::drawImageIntoBitmap(picture, bitmap.width, bitmap.height, whole);
        ASSERT_TRUE(drawn);
        EXPECT_EQ(drawn->pixels, canvas.bitmap().pixels);
        auto rendered = icons::LocalCollectionIconStager::renderBitmap(picture, std::nullopt);
        ASSERT_TRUE(rendered);
        EXPECT_EQ(rendered->pixels, canvas.bitmap().pixels);
    }
}

TEST(IconDrawing, ShortcutOnlyWhenNothingMovesOrScales) {
    image::Image picture(noiseBitmap(8, 6, 6, 4));
    // Several sizes of one picture: the largest is the one drawn.
    image::Image sizes(std::vector<Bitmap>{noiseBitmap(4, 3, 7, 1), noiseBitmap(8, 6, 8, 1)});
    EXPECT_TRUE(icons::drawnUnchanged(picture, 8, 6, {0, 0, 8, 6}));
    EXPECT_EQ(icons::drawnUnchanged(sizes, 8, 6, {0, 0, 8, 6}).get(), sizes.bestRepresentation());
    struct Case {
        const char* name;
        int width, height;
        image::Rect destination;
    };
    const std::vector<Case> cases = {
        {"moved", 8, 6, {1, 0, 8, 6}},         {"moved by a fraction", 8, 6, {0, 0.5, 8, 6}},
        {"stretched", 16, 12, {0, 0, 16, 12}}, {"into a larger canvas", 10, 10, {0, 0, 8, 6}},
        {"squeezed", 8, 6, {0, 0, 7, 6}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(icons::drawnUnchanged(picture, c.width, c.height, c.destination));
    }
    EXPECT_FALSE(icons::drawnUnchanged(image::Image(), 8, 6, {0, 0, 8, 6}));
}

// The fill as plainly as it can be written: every border pixel near the colour,
// then their neighbours near it, and so on.
Bitmap referenceFill(Bitmap bitmap, icons::RGBColour colour) {
    const int w = bitmap.width, h = bitmap.height;
    auto near = [&](int x, int y) {
        RGBA p = pixelOf(bitmap, x, y);
        return std::abs(p.red - colour.red) <= 22 && std::abs(p.green - colour.green) <= 22 &&
               std::abs(p.blue - colour.blue) <= 22;
    };
    std::vector<bool> reached(static_cast<size_t>(w) * h);
    std::deque<std::pair<int, int>> pending;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if ((x == 0 || y == 0 || x == w - 1 || y == h - 1) && near(x, y)) {
                reached[static_cast<size_t>(y) * w + x] = true;
                pending.emplace_back(x, y);
            }
        }
    }
    std::vector<std::pair<int, int>> cleared;
    while (!pending.empty()) {
        auto [x, y] = pending.front();
        pending.pop_front();
        cleared.emplace_back(x, y);
        const int next[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
        for (const auto& [nx, ny] : next) {
            if (nx < 0 || ny < 0 || nx >= w || ny >= h || reached[static_cast<size_t>(ny) * w + nx]) continue;
            if (!near(nx, ny)) continue;
            reached[static_cast<size_t>(ny) * w + nx] = true;
            pending.emplace_back(nx, ny);
        }
    }
    for (auto [x, y] : cleared)
        setPixel(bitmap, x, y, {0, 0, 0, 0});
    return bitmap;
}

TEST(IconFloodFill, AgreesWithAPlainFillOnWindingShapes) {
    struct Case {
        const char* name;
        int width, height;
        int wallPercent; // share of pixels that are not background
    };
    // Around the percolation threshold the background breaks into long winding
    // passages and many enclosed pockets: the fill's front grows and shrinks.
    const std::vector<Case> cases = {
        {"sparse walls", 70, 50, 20}, {"winding passages", 64, 64, 40}, {"near percolation", 90, 70, 45},
        {"mostly walls", 33, 47, 70}, {"one row", 200, 1, 30},          {"one column", 1, 150, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::mt19937 random(static_cast<unsigned>(c.width * 1000 + c.height));
        Bitmap bitmap = solidBitmap(c.width, c.height, {250, 250, 250, 255});
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                if (static_cast<int>(random() % 100) < c.wallPercent)
                    setPixel(bitmap, x, y, {20, 60, 200, 255});
            }
        }
        Bitmap expected = referenceFill(bitmap, {255, 255, 255});
        icons::removeBorderBackground(bitmap, {255, 255, 255});
        EXPECT_EQ(bitmap.pixels, expected.pixels);
    }
}

} // namespace
} // namespace mivora::testing
