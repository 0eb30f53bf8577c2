#include "icons/icon_normalization.h"
#include "icons/icon_rendering.h"
#include "platform/image/png.h"
#include "support/icns_writer.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

using icons::IconBitmap;
using icons::PixelRect;
using image::Image;

constexpr RGBA kClear{0, 0, 0, 0};
constexpr RGBA kWhite{255, 255, 255, 255};
constexpr RGBA kRed{255, 0, 0, 255};
constexpr RGBA kGreen{0, 255, 0, 255};
constexpr RGBA kBlue{0, 0, 255, 255};

bool samePixel(RGBA a, RGBA b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
}

// Rows [from, to) that hold no visible pixel.
int transparentRows(const IconBitmap& bitmap, int from, int to) {
    int rows = 0;
    for (int y = from; y < to; ++y) {
        bool clear = true;
        for (int x = 0; x < bitmap.width && clear; ++x)
            clear = pixelOf(bitmap, x, y).alpha == 0;
        rows += clear;
    }
    return rows;
}

IconBitmap bitmapOf(const Image& picture) {
    EXPECT_NE(picture.bestRepresentation(), nullptr);
    return picture.bestRepresentation() ? *picture.bestRepresentation() : IconBitmap{};
}

// --- corners -------------------------------------------------------------------

TEST(IconCorners, TransparentCornerNeedsHalfOfItsWindow) {
    struct Case {
        const char* name;
        int side;
        int transparentPerCorner; // pixels cleared in each chosen corner window, row by row
        int corners;              // how many corners get them
        bool expected;
    };
    const Case cases[] = {
        {"13 of 25 in three corners", 20, 13, 3, true},
        {"12 of 25 in three corners", 20, 12, 3, false},
        {"13 of 25 in all four", 20, 13, 4, true},
        {"whole windows in only two corners", 20, 25, 2, false},
        {"3 x 3 bitmap, windows clipped to 9 pixels, 5 clear", 3, 5, 1, true},
        {"3 x 3 bitmap, 4 clear", 3, 4, 1, false},
        {"1 x 1 bitmap, clear", 1, 1, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IconBitmap bitmap = solidBitmap(c.side, c.side, kRed);
        const int window = std::min(5, c.side);
        // Each corner's window, counted from the corner pixel inwards.
        const int origins[4][2] = {
            {0, 0}, {c.side - window, 0}, {c.side - window, c.side - window}, {0, c.side - window}};
        for (int corner = 0; corner < c.corners; ++corner) {
            for (int n = 0; n < c.transparentPerCorner; ++n) {
                setPixel(bitmap, origins[corner][0] + n % window, origins[corner][1] + n / window,
                         {255, 0, 0, 199});
            }
        }
        EXPECT_EQ(icons::hasTransparentCorners(bitmap), c.expected);
    }
}

TEST(IconCorners, AlphaOf200IsNotTransparentAndAnEmptyBitmapHasNoCorners) {
    IconBitmap bitmap = solidBitmap(20, 20, {255, 0, 0, 200});
    EXPECT_FALSE(icons::hasTransparentCorners(bitmap));
    EXPECT_FALSE(icons::hasTransparentCorners(IconBitmap{}));
}

TEST(IconCorners, BackgroundColourIsTheIntegerMeanOfTheFourWindows) {
    IconBitmap bitmap = solidBitmap(20, 20, {10, 20, 30, 255});
    // One pixel of the top-left window differs: (10 * 99 + 109) / 100 = 10.99 -> 10.
    setPixel(bitmap, 0, 0, {109, 119, 129, 255});
    // Pixels outside every window do not count.
    setPixel(bitmap, 10, 10, {255, 255, 255, 255});
    EXPECT_EQ(icons::cornerBackgroundColor(bitmap), (icons::RGBColour{10, 20, 30}));
    setPixel(bitmap, 1, 0, {110, 120, 130, 255}); // now (10 * 98 + 109 + 110) / 100 = 11.99 -> 11
    EXPECT_EQ(icons::cornerBackgroundColor(bitmap), (icons::RGBColour{11, 21, 31}));
    // On a 2 x 2 bitmap every window is the whole bitmap: each pixel counts four times.
    IconBitmap tiny = solidBitmap(2, 2, {0, 0, 0, 255});
    setPixel(tiny, 0, 0, {7, 7, 7, 255});
    EXPECT_EQ(icons::cornerBackgroundColor(tiny), (icons::RGBColour{1, 1, 1}));
    EXPECT_EQ(icons::cornerBackgroundColor(IconBitmap{}), std::nullopt);
}

// --- flood fill ------------------------------------------------------------------

TEST(IconFloodFill, ClearsBorderConnectedBackgroundButNotAnEnclosedArea) {
    // 9 x 9 white; a red ring from 2 to 6 encloses white at 3..5.
    IconBitmap bitmap = solidBitmap(9, 9, kWhite);
    fillRect(bitmap, 2, 2, 5, 5, kRed);
    fillRect(bitmap, 3, 3, 3, 3, kWhite);
    // Within tolerance (22) still background; 23 away is not, and stops the fill.
    setPixel(bitmap, 1, 4, {233, 233, 233, 255});
    setPixel(bitmap, 8, 8, {232, 255, 255, 255});
    icons::removeBorderBackground(bitmap, {255, 255, 255});
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 9; ++x) {
            RGBA p = pixelOf(bitmap, x, y);
            bool ring = x >= 2 && x <= 6 && y >= 2 && y <= 6 && !(x >= 3 && x <= 5 && y >= 3 && y <= 5);
            bool inside = x >= 3 && x <= 5 && y >= 3 && y <= 5;
            if (x == 8 && y == 8)
                EXPECT_EQ(p.alpha, 255) << "23 away is not background";
            else if (ring)
                EXPECT_TRUE(samePixel(p, kRed)) << x << "," << y;
            else if (inside)
                EXPECT_TRUE(samePixel(p, kWhite)) << "enclosed " << x << "," << y;
            else
                EXPECT_TRUE(samePixel(p, kClear)) << "background " << x << "," << y;
        }
    }
}

TEST(IconFloodFill, SpreadsOnlyToTheFourDirectNeighbours) {
    IconBitmap bitmap = solidBitmap(5, 5, kBlue);
    fillRect(bitmap, 0, 0, 5, 1, kWhite);
    setPixel(bitmap, 1, 1, kWhite); // below the white top row: reached
    setPixel(bitmap, 2, 2, kWhite); // only diagonal to (1, 1): not reached
    icons::removeBorderBackground(bitmap, {255, 255, 255});
    EXPECT_TRUE(samePixel(pixelOf(bitmap, 3, 0), kClear));
    EXPECT_TRUE(samePixel(pixelOf(bitmap, 1, 1), kClear));
    EXPECT_TRUE(samePixel(pixelOf(bitmap, 2, 2), kWhite));
    EXPECT_TRUE(samePixel(pixelOf(bitmap, 0, 4), kBlue));
}

// --- bounding boxes --------------------------------------------------------------

TEST(IconBoundingBox, AlphaBoxCountsAlphaFromNine) {
    IconBitmap bitmap = solidBitmap(100, 100, kClear);
    fillRect(bitmap, 30, 40, 10, 20, kRed);
    setPixel(bitmap, 90, 90, {255, 0, 0, 8});
    EXPECT_EQ(icons::alphaBoundingBox(bitmap), (PixelRect{30, 40, 10, 20}));
    setPixel(bitmap, 90, 90, {255, 0, 0, 9});
    EXPECT_EQ(icons::alphaBoundingBox(bitmap), (PixelRect{30, 40, 61, 51}));
    EXPECT_EQ(icons::alphaBoundingBox(solidBitmap(4, 4, kClear)), std::nullopt);
}

TEST(IconBoundingBox, ContentBoxUsesTheAlphaBoxBelowNinetyEightPercent) {
    struct Case {
        const char* name;
        PixelRect opaque; // the opaque part of a transparent 100 x 100 bitmap
        PixelRect expected;
    };
    // The opaque part is black with a red square at (45, 45, 5, 5); transparent
    // pixels are (0, 0, 0) too, so by colour only the square is content.
    const Case cases[] = {
        {"98 x 99 = 9702 < 9800: the alpha box", {0, 0, 98, 99}, {0, 0, 98, 99}},
        {"99 x 99 = 9801: no box, colour against the top-left", {0, 0, 99, 99}, {45, 45, 5, 5}},
        {"fully opaque: colour against the top-left", {0, 0, 100, 100}, {45, 45, 5, 5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IconBitmap bitmap = solidBitmap(100, 100, kClear);
        fillRect(bitmap, c.opaque.x, c.opaque.y, c.opaque.width, c.opaque.height, {0, 0, 0, 255});
        fillRect(bitmap, 45, 45, 5, 5, kRed);
        EXPECT_EQ(icons::contentBoundingBox(bitmap), c.expected);
    }
}

TEST(IconBoundingBox, ContentBoxByColourToleratesFourteenAndFallsBackToTheWholeBitmap) {
    IconBitmap bitmap = solidBitmap(50, 40, {100, 100, 100, 255});
    EXPECT_EQ(icons::contentBoundingBox(bitmap), (PixelRect{0, 0, 50, 40})) << "flat colour";
    setPixel(bitmap, 10, 10, {114, 86, 100, 255});
    EXPECT_EQ(icons::contentBoundingBox(bitmap), (PixelRect{0, 0, 50, 40})) << "14 away is background";
    setPixel(bitmap, 20, 30, {100, 100, 115, 255});
    EXPECT_EQ(icons::contentBoundingBox(bitmap), (PixelRect{20, 30, 1, 1}));
    EXPECT_EQ(icons::contentBoundingBox(solidBitmap(8, 8, kClear)), (PixelRect{0, 0, 8, 8}))
        << "no visible pixel and no differing colour";
}

// --- crop, fit, mask --------------------------------------------------------------

TEST(IconCrop, CopiesTheInsidePartAndRefusesEmptyRectangles) {
    IconBitmap bitmap = solidBitmap(4, 4, kRed);
    setPixel(bitmap, 3, 3, kBlue);
    auto cropped = icons::cropBitmap({2, 2, 4, 3}, bitmap);
    ASSERT_TRUE(cropped);
    EXPECT_EQ(cropped->width, 4);
    EXPECT_EQ(cropped->height, 3);
    EXPECT_TRUE(samePixel(pixelOf(*cropped, 0, 0), kRed));
    EXPECT_TRUE(samePixel(pixelOf(*cropped, 1, 1), kBlue));
    EXPECT_TRUE(samePixel(pixelOf(*cropped, 2, 0), kClear)) << "outside the source";
    EXPECT_FALSE(icons::cropBitmap({0, 0, 0, 3}, bitmap));
}

TEST(IconAspectFit, ScalesUpOrDownKeepingTheRatioAndRoundingHalvesAway) {
    struct Case {
        int width, height, boxWidth, boxHeight, expectedWidth, expectedHeight;
    };
    const Case cases[] = {
        {100, 50, 824, 824, 824, 412}, // enlarged
        {2000, 1000, 824, 824, 824, 412},
        {3, 2, 5, 5, 5, 3},       // 3.33... -> 3
        {4, 3, 5, 5, 5, 4},       // 3.75 -> 4
        {2, 1, 5, 5, 5, 3},       // 2.5 rounds away from zero
        {1000, 1, 10, 10, 10, 1}, // never below 1
    };
    for (const auto& c : cases) {
        auto fitted = icons::aspectFitBitmap(c.boxWidth, c.boxHeight, solidBitmap(c.width, c.height, kRed));
        ASSERT_TRUE(fitted);
        EXPECT_EQ(fitted->width, c.expectedWidth) << c.width << "x" << c.height;
        EXPECT_EQ(fitted->height, c.expectedHeight) << c.width << "x" << c.height;
    }
    EXPECT_FALSE(icons::aspectFitBitmap(824, 824, IconBitmap{}));
}

TEST(IconMask, ApplyMaskFloorsEveryByte) {
    IconBitmap bitmap = IconBitmap::transparent(3, 1);
    bitmap.pixels = {255, 128, 1, 200, 254, 254, 254, 254, 9, 9, 9, 9};
    icons::applyMask({128, 1, 255}, bitmap);
    // 255*128/255 = 128, 128*128/255 = 64.25, 1*128/255 = 0.5, 200*128/255 = 100.4; 254*1/255 = 0.996.
    EXPECT_EQ(bitmap.pixels, (std::vector<uint8_t>{128, 64, 0, 100, 0, 0, 0, 0, 9, 9, 9, 9}));
    IconBitmap untouched = bitmap;
    icons::applyMask({0, 0}, untouched);
    EXPECT_EQ(untouched.pixels, bitmap.pixels) << "a mask of the wrong length is ignored";
}

TEST(IconMask, RoundedRectangleCoversTheFootprintWithCutCorners) {
    auto mask = icons::roundedRectMask();
    ASSERT_TRUE(mask);
    ASSERT_EQ(mask->size(), 1024u * 1024u);
    auto at = [&](int x, int y) { return (*mask)[static_cast<size_t>(y) * 1024 + x]; };
    EXPECT_EQ(at(0, 0), 0);
    EXPECT_EQ(at(512, 512), 255);
    EXPECT_EQ(at(100, 512), 255);
    EXPECT_EQ(at(923, 512), 255);
    EXPECT_EQ(at(99, 512), 0);
    EXPECT_EQ(at(924, 512), 0);
    EXPECT_EQ(at(512, 99), 0);
    EXPECT_EQ(at(101, 101), 0) << "corner outside the 185 radius";
    EXPECT_EQ(at(285, 100), 255) << "where the top edge's straight part begins";
    int partial = 0;
    for (int i = 100; i < 300; ++i)
        partial += at(i, i) > 0 && at(i, i) < 255;
    EXPECT_GT(partial, 0);
    for (int y = 0; y < 1024; y += 37) {
        for (int x = 0; x < 1024; x += 41)
            ASSERT_EQ(at(x, y), at(1023 - x, 1023 - y)) << x << "," << y;
    }
}

// --- reference shape ---------------------------------------------------------------

IconBitmap referenceWithContent(const PixelRect& box) {
    IconBitmap reference = solidBitmap(1024, 1024, kClear);
    fillRect(reference, box.x, box.y, box.width, box.height, kGreen);
    return reference;
}

TEST(IconReferenceShape, CentresAnOddMarginWithTheExtraPixelRightAndBottom) {
    struct Case {
        const char* name;
        PixelRect referenceBox;
        PixelRect expectedContent;
    };
    const Case cases[] = {
        {"824 x 412: 306 rows above and below", {0, 0, 824, 412}, {100, 306, 824, 412}},
        {"824 x 411: 306 above, 307 below", {5, 7, 824, 411}, {100, 306, 824, 411}},
        {"411 x 824: 306 left, 307 right", {0, 0, 411, 824}, {306, 100, 411, 824}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result =
            icons::fitToReferenceShape(solidBitmap(1024, 1024, kRed), referenceWithContent(c.referenceBox));
        ASSERT_TRUE(result);
        IconBitmap out = bitmapOf(*result);
        ASSERT_EQ(out.width, 1024);
        EXPECT_EQ(icons::alphaBoundingBox(out), c.expectedContent);
        const PixelRect& e = c.expectedContent;
        EXPECT_EQ(transparentRows(out, 0, e.y), e.y);
        EXPECT_EQ(transparentRows(out, e.y + e.height, 1024), 1024 - e.y - e.height);
        EXPECT_TRUE(samePixel(pixelOf(out, 512, 512), kRed));
    }
}

TEST(IconReferenceShape, CutsThePictureAtTheReferenceBoxAndMasksTheCorners) {
    // The picture's quarters are coloured so that the cut shows: the reference's
    // content is the top-left quarter, so only red survives.
    IconBitmap picture = solidBitmap(1024, 1024, kBlue);
    fillRect(picture, 0, 0, 512, 512, kRed);
    auto result = icons::fitToReferenceShape(picture, referenceWithContent({0, 0, 512, 512}));
    ASSERT_TRUE(result);
    IconBitmap out = bitmapOf(*result);
    EXPECT_EQ(icons::alphaBoundingBox(out), (PixelRect{100, 100, 824, 824}));
    EXPECT_TRUE(samePixel(pixelOf(out, 200, 512), kRed));
    EXPECT_TRUE(samePixel(pixelOf(out, 900, 512), kRed));
    EXPECT_EQ(pixelOf(out, 900, 900).alpha, 0) << "outside the bottom-right arc";
    EXPECT_EQ(pixelOf(out, 101, 101).alpha, 0) << "outside the rounded corner";
    EXPECT_EQ(pixelOf(out, 99, 512).alpha, 0);
}

// --- whole normalisation --------------------------------------------------------------

TEST(IconNormalize, PictureWithTransparentMarginIsKeptAsDrawnEvenWithAReference) {
    IconBitmap picture = solidBitmap(1024, 1024, kClear);
    fillRect(picture, 200, 200, 600, 600, kRed);
    Image reference(referenceWithContent({0, 0, 300, 300}));
    for (const auto& ref : {std::optional<Image>(), std::optional<Image>(reference)}) {
        Image result = icons::normalizeIconImage(Image(picture), ref);
        EXPECT_EQ(bitmapOf(result).pixels, picture.pixels);
    }
}

TEST(IconNormalize, FlatWhiteBackgroundBecomesTransparentButEnclosedWhiteStays) {
    IconBitmap picture = solidBitmap(1024, 1024, kWhite);
    fillRect(picture, 300, 300, 400, 400, kRed);
    fillRect(picture, 400, 400, 200, 200, kWhite);
    IconBitmap out = bitmapOf(icons::normalizeIconImage(Image(picture), std::nullopt));
    ASSERT_EQ(out.width, 1024);
    EXPECT_TRUE(samePixel(pixelOf(out, 0, 0), kClear));
    EXPECT_TRUE(samePixel(pixelOf(out, 299, 500), kClear));
    EXPECT_TRUE(samePixel(pixelOf(out, 300, 500), kRed));
    EXPECT_TRUE(samePixel(pixelOf(out, 500, 500), kWhite));
    EXPECT_EQ(icons::alphaBoundingBox(out), (PixelRect{300, 300, 400, 400}));
}

TEST(IconNormalize, TwoTransparentCornersAreNotKeptAsDrawn) {
    // Top half clear: two transparent corners of four.
    IconBitmap picture = solidBitmap(1024, 1024, kClear);
    fillRect(picture, 0, 512, 1024, 512, {0, 0, 0, 255});
    fillRect(picture, 400, 700, 200, 50, kRed);
    ASSERT_FALSE(icons::hasTransparentCorners(picture));

    // With a reference: fitted to the footprint.
    IconBitmap fitted =
        bitmapOf(icons::normalizeIconImage(Image(picture), Image(solidBitmap(1024, 1024, kGreen))));
    EXPECT_EQ(icons::alphaBoundingBox(fitted), (PixelRect{100, 512, 824, 412}));

    // Without: the corners' mean colour (black, as the clear pixels are 0, 0, 0 too) is flood-filled away.
    IconBitmap cleared = bitmapOf(icons::normalizeIconImage(Image(picture), std::nullopt));
    EXPECT_EQ(icons::alphaBoundingBox(cleared), (PixelRect{400, 700, 200, 50}));
    EXPECT_TRUE(samePixel(pixelOf(cleared, 500, 720), kRed));
}

TEST(IconNormalize, ReferenceTreatmentFitsTheFootprint) {
    // A fully opaque flat reference: its content box is the whole canvas, so
    // the whole picture is fitted into 824 x 824 at (100, 100).
    Image flatReference(solidBitmap(1024, 1024, kGreen));
    IconBitmap out = bitmapOf(icons::normalizeIconImage(Image(solidBitmap(1024, 1024, kRed)), flatReference));
    EXPECT_EQ(icons::alphaBoundingBox(out), (PixelRect{100, 100, 824, 824}));
    EXPECT_EQ(pixelOf(out, 101, 101).alpha, 0);
    EXPECT_TRUE(samePixel(pixelOf(out, 512, 512), kRed));

    // A reference that cannot be rendered falls through to the background treatment.
    IconBitmap onWhite = solidBitmap(1024, 1024, kWhite);
    fillRect(onWhite, 100, 100, 50, 50, kRed);
    IconBitmap fallback = bitmapOf(icons::normalizeIconImage(Image(onWhite), Image()));
    EXPECT_EQ(icons::alphaBoundingBox(fallback), (PixelRect{100, 100, 50, 50}));
}

TEST(IconNormalize, LandscapePictureCoversTheCanvasAtScaleOne) {
    // 2048 x 1024: scale max(0.5, 1) = 1, so the outer 512-point strips fall outside.
    IconBitmap picture = solidBitmap(2048, 1024, kGreen);
    fillRect(picture, 0, 0, 512, 1024, kRed);
    fillRect(picture, 1536, 0, 512, 1024, kBlue);
    auto rendered = icons::renderImageBitmap(Image(picture), 1024);
    ASSERT_TRUE(rendered);
    for (int y : {0, 511, 1023}) {
        EXPECT_TRUE(samePixel(pixelOf(*rendered, 0, y), kGreen));
        EXPECT_TRUE(samePixel(pixelOf(*rendered, 1023, y), kGreen));
    }
    // A small portrait picture is enlarged to cover: 256 x 512 at scale 4.
    IconBitmap portrait = solidBitmap(256, 512, kBlue);
    fillRect(portrait, 0, 0, 256, 128, kRed);
    rendered = icons::renderImageBitmap(Image(portrait), 1024);
    ASSERT_TRUE(rendered);
    EXPECT_TRUE(samePixel(pixelOf(*rendered, 512, 20), kBlue)) << "the top 512 rows at scale 4 are cut off";
    EXPECT_TRUE(samePixel(pixelOf(*rendered, 512, 1023), kBlue));
}

TEST(IconNormalize, ExtremeAspectRatiosStillCoverTheCanvas) {
    // Cover-scaling a 16384 x 1 strip makes it 16.7 million pixels wide, far
    // beyond the drawing library's coordinate range: only the part on the
    // canvas may be handed to it. The strip's middle (green) covers the canvas.
    struct Case {
        const char* name;
        int width, height;
    };
    const Case cases[] = {
        {"16384 x 1", 16384, 1},
        {"1 x 16384", 1, 16384},
        {"16384 x 2", 16384, 2},
        {"3 x 12000", 3, 12000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IconBitmap strip = solidBitmap(c.width, c.height, kGreen);
        // Red ends: they fall outside the canvas.
        if (c.width > c.height) {
            fillRect(strip, 0, 0, c.width / 4, c.height, kRed);
            fillRect(strip, c.width - c.width / 4, 0, c.width / 4, c.height, kRed);
        } else {
            fillRect(strip, 0, 0, c.width, c.height / 4, kRed);
            fillRect(strip, 0, c.height - c.height / 4, c.width, c.height / 4, kRed);
        }
        auto rendered = icons::renderImageBitmap(Image(strip), 1024);
        ASSERT_TRUE(rendered);
        for (int y : {0, 512, 1023}) {
            for (int x : {0, 512, 1023})
                EXPECT_TRUE(samePixel(pixelOf(*rendered, x, y), kGreen)) << x << ", " << y;
        }
        // Stretched over a square, the whole strip shows, red ends included.
        auto png = icons::LocalCollectionIconStager::renderPNG(Image(strip), 64);
        ASSERT_TRUE(png);
        IconBitmap stretched = image::decodePNG(*png);
        EXPECT_TRUE(samePixel(pixelOf(stretched, 0, 0), kRed));
        EXPECT_TRUE(samePixel(pixelOf(stretched, 32, 32), kGreen));
        EXPECT_TRUE(samePixel(pixelOf(stretched, 63, 63), kRed));
    }
}

TEST(IconNormalize, ImageOfZeroSizeIsReturnedUnchanged) {
    Image empty;
    Image result = icons::normalizeIconImage(empty, std::nullopt);
    EXPECT_EQ(result.size().width, 0);
    EXPECT_EQ(result.bestRepresentation(), nullptr);
    EXPECT_FALSE(icons::renderImageBitmap(empty, 1024));
}

// --- PNG rendering ---------------------------------------------------------------

TEST(IconRenderPNG, RendersAtTheImageSizeOrStretchedToASide) {
    Image square(solidBitmap(512, 512, kRed));
    struct Case {
        const char* name;
        Image picture;
        std::optional<int> side;
        int expectedWidth, expectedHeight;
    };
    const Case cases[] = {
        {"own size", square, std::nullopt, 512, 512},
        {"side 1024", square, 1024, 1024, 1024},
        {"landscape stretched to a square", Image(solidBitmap(40, 10, kRed)), 16, 16, 16},
        {"landscape at its own size", Image(solidBitmap(40, 10, kRed)), std::nullopt, 40, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto png = icons::LocalCollectionIconStager::renderPNG(c.picture, c.side);
        ASSERT_TRUE(png);
        IconBitmap decoded = image::decodePNG(*png);
        EXPECT_EQ(decoded.width, c.expectedWidth);
        EXPECT_EQ(decoded.height, c.expectedHeight);
        EXPECT_TRUE(samePixel(pixelOf(decoded, 0, 0), kRed));
        EXPECT_TRUE(samePixel(pixelOf(decoded, c.expectedWidth - 1, c.expectedHeight - 1), kRed));
    }
}

TEST(IconRenderPNG, GivesNothingForNoSize) {
    Image square(solidBitmap(8, 8, kRed));
    EXPECT_FALSE(icons::LocalCollectionIconStager::renderPNG(Image(), std::nullopt));
    EXPECT_FALSE(icons::LocalCollectionIconStager::renderPNG(square, 0));
    EXPECT_FALSE(icons::LocalCollectionIconStager::renderPNG(square, -5));
    EXPECT_FALSE(icons::LocalCollectionIconStager::renderPNG(square, 20000));
}

} // namespace
} // namespace mivora::testing
