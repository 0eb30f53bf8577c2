// The quality gate of collection icons: size, alpha channel and the four
// corners, each refusal with its own message.
#include "collections/local_collection_icon_stager.h"
#include "support/icns_writer.h"

#include <gtest/gtest.h>

namespace mivora::testing {
namespace {

using collections::LocalCollectionIconStager;

// A 1024 x 1024 icon: clear corners unless given, a solid square in the middle.
image::Bitmap icon(uint8_t cornerAlpha) {
    image::Bitmap bitmap = solidBitmap(1024, 1024, {40, 90, 200, cornerAlpha});
    fillRect(bitmap, 100, 100, 824, 824, {40, 90, 200, 255});
    return bitmap;
}

TEST(QualityGate, FindingsInOrder) {
    const std::string opaque = "Icon corners are fully opaque — it would show as a square tile in the Dock "
                               "(missing squircle alpha clip).";
    const std::string noAlpha = "Icon has no alpha channel — it would show as a square tile in the Dock.";
    image::Bitmap oneClearCorner = icon(217);
    setPixel(oneClearCorner, 1023, 1023, {40, 90, 200, 216});
    image::Bitmap onlyFarCornerClear = icon(255);
    setPixel(onlyFarCornerClear, 0, 1023, {0, 0, 0, 0});
    struct Case {
        const char* name;
        std::string bytes;
        std::optional<std::string> finding;
    };
    const std::vector<Case> cases = {
        {"not an image", "just some text", "Staged image is not a decodable PNG."},
        {"damaged PNG", solidPNG(1024, 1024, {0, 0, 0, 0}).substr(0, 60),
         "Staged image is not a decodable PNG."},
        {"small with alpha", solidPNG(512, 512, {0, 0, 0, 0}), "Icon is 512x512, expected 1024x1024."},
        {"not square", solidPNG(1024, 512, {0, 0, 0, 0}), "Icon is 1024x512, expected 1024x1024."},
        // The size is checked before the alpha channel.
        {"small without alpha", rgbPNGBytes(solidBitmap(16, 16, {1, 2, 3, 255})),
         "Icon is 16x16, expected 1024x1024."},
        {"no alpha channel", rgbPNGBytes(icon(255)), noAlpha},
        {"JPEG", jpegBytes(icon(255)), noAlpha},
        {"all corners at 0.86", pngBytes(icon(219)), opaque},
        {"all corners just above 0.85", pngBytes(icon(217)), opaque},
        {"one corner at 0.85 or below", pngBytes(oneClearCorner), std::nullopt},
        {"one transparent corner", pngBytes(onlyFarCornerClear), std::nullopt},
        {"clipped icon", pngBytes(icon(0)), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LocalCollectionIconStager::validate(c.bytes), c.finding) << c.name;
}

} // namespace
} // namespace mivora::testing
