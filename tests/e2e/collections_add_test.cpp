// `mivora collections add`: staging through the normalisation and the quality
// gate, the raw copies, the dark variant, the manifest entry, and every refusal
// with what it leaves on disk.
#include "platform/filesystem.h"
#include "support/collection_fixture.h"
#include "support/icon_fixtures.h"
#include "support/icons_driver.h"

#include <cstring>
#include <gtest/gtest.h>
#include <png.h>
#include <random>

namespace mivora::testing {
namespace {

// Four differently coloured quadrants: no flat background, so only a reference
// footprint (the application's own icon) gives it transparent corners.
image::Bitmap quadrants(int side) {
    image::Bitmap bitmap = solidBitmap(side, side, {200, 30, 30, 255});
    fillRect(bitmap, side / 2, 0, side - side / 2, side / 2, {30, 200, 30, 255});
    fillRect(bitmap, 0, side / 2, side / 2, side - side / 2, {30, 30, 200, 255});
    fillRect(bitmap, side / 2, side / 2, side - side / 2, side - side / 2, {200, 200, 30, 255});
    return bitmap;
}

// A generated icon as it usually comes: artwork on a flat, slightly noisy
// background, with specks and soft edges (alpha between 0 and 255) inside.
image::Bitmap speckledIcon(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    image::Bitmap bitmap = solidBitmap(width, height, {250, 248, 245, 255});
    for (int i = 0; i < width * height / 50; ++i)
        setPixel(bitmap, static_cast<int>(random() % width), static_cast<int>(random() % height),
                 {static_cast<uint8_t>(240 + random() % 16), 250, 245, 255});
    fillRect(bitmap, width / 6, height / 7, width * 2 / 3, height * 5 / 7, {30, 90, 200, 255});
    for (int i = 0; i < 2000; ++i) {
        setPixel(bitmap, width / 5 + static_cast<int>(random() % (width * 3 / 5)),
                 height / 5 + static_cast<int>(random() % (height * 3 / 5)),
                 {static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                  static_cast<uint8_t>(random()), static_cast<uint8_t>(random())});
    }
    return bitmap;
}

// FNV-1a over the straight (un-premultiplied) RGBA bytes that a PNG file holds,
// read by libpng itself, with its size in front.
uint64_t straightPixelDigest(const std::string& path) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        ADD_FAILURE() << path << ": " << png.message;
        return 0;
    }
    png.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) {
        ADD_FAILURE() << path << ": " << png.message;
        return 0;
    }
    uint64_t hash = 14695981039346656037ull;
    auto mix = [&hash](uint8_t byte) { hash = (hash ^ byte) * 1099511628211ull; };
    for (uint32_t side : {png.width, png.height}) {
        for (int shift = 0; shift < 32; shift += 8)
            mix(static_cast<uint8_t>(side >> shift));
    }
    for (uint8_t byte : pixels)
        mix(byte);
    return hash;
}

const std::string kOpaqueCorners =
    "Icon corners are fully opaque — it would show as a square tile in the Dock "
    "(missing squircle alpha clip).";

class CollectionsAdd : public ::testing::Test {
protected:
    Sandbox sandbox;
    std::string folder = collectionFolder(sandbox, "naruto");

    void SetUp() override {
        addAppWithIcon(sandbox, "Notion", typicalIcns());
        writeCollection(sandbox, "naruto",
                        manifestDocument("naruto", "Naruto",
                                         {{.key = "safari", .appName = "Safari"},
                                          {.key = "notion",
                                           .appName = "Notion",
                                           .status = "rejected",
                                           .attempts = 1,
                                           .reason = "logo mutated"}}));
    }

    std::string image(const std::string& name, const image::Bitmap& bitmap) {
        std::string path = sandbox.homePath("art/" + name);
        sandbox.writeFile(path, pngBytes(bitmap));
        return path;
    }

    std::string manifestBytes() { return *sandbox.readFile(folder + "/manifest.json"); }
    std::vector<std::string> bundledTemporaries() {
        return namesStartingWith(sandbox.tmp(), "mivora-bundled-");
    }
};

TEST_F(CollectionsAdd, StagesThroughTheAppsFootprintAndMarksTheEntryDone) {
    installRecordingStandin(sandbox, "iconutil");
    auto result =
        sandbox.run({"collections", "add", "naruto", "notion", image("notion.png", quadrants(600))});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "✓ Staged Notion → naruto/icons/notion.png\n"
                          "  Progress: 1 done, 1 pending\n");
    EXPECT_EQ(result.err, "");

    // The application's icon was extracted as the reference, through a temporary file that is gone.
    EXPECT_EQ(sandbox.loggedCalls("iconutil.log").size(), 1u);
    EXPECT_EQ(bundledTemporaries(), std::vector<std::string>{});

    image::Bitmap staged = readPNGFile(folder + "/icons/notion.png");
    ASSERT_EQ(staged.width, 1024);
    ASSERT_EQ(staged.height, 1024);
    EXPECT_EQ(pixelOf(staged, 5, 5).alpha, 0);
    EXPECT_EQ(pixelOf(staged, 512, 512).alpha, 255);
    image::Bitmap raw = readPNGFile(folder + "/raw/notion.png");
    EXPECT_EQ(raw.width, 600); // the input at its own size
    EXPECT_EQ(pixelOf(raw, 5, 5).alpha, 255);

    core::Json entry = readManifest(sandbox, "naruto")["icons"]["notion"];
    EXPECT_EQ(keysOf(entry),
              (std::vector<std::string>{"appName", "attempts", "dark", "status", "updatedAt"}));
    EXPECT_EQ(entry["status"], "done"); // the earlier rejection and its reason are gone
    EXPECT_EQ(entry["attempts"], 2);
    EXPECT_EQ(entry["dark"], false);
    EXPECT_NE(entry["updatedAt"], "2026-03-01T09:15:00Z");
}

TEST_F(CollectionsAdd, JSONWithADarkVariantThenAgainWithoutIt) {
    std::string light = image("light.png", squareOnWhite(512));
    std::string dark = image("dark.png", quadrants(512));
    auto result =
        sandbox.run({"collections", "add", "naruto", "Notion", light, "--dark-image", dark, "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    core::Json reply = core::Json::parse(result.out);
    EXPECT_EQ(keysOf(reply),
              (std::vector<std::string>{"appName", "appSlug", "darkIconPath", "done", "iconPath",
                                        "normalized", "pending", "slug", "success"}));
    EXPECT_EQ(reply["success"], true);
    EXPECT_EQ(reply["slug"], "naruto");
    EXPECT_EQ(reply["appSlug"], "notion");
    EXPECT_EQ(reply["appName"], "Notion");
    EXPECT_EQ(reply["iconPath"], folder + "/icons/notion.png");
    EXPECT_EQ(reply["darkIconPath"], folder + "/icons/notion@dark.png");
    EXPECT_EQ(reply["normalized"], true);
    EXPECT_EQ(reply["done"], 1);
    EXPECT_EQ(reply["pending"], 1);
    EXPECT_EQ(readPNGFile(folder + "/icons/notion@dark.png").width, 1024);
    EXPECT_EQ(readPNGFile(folder + "/raw/notion@dark.png").width, 512);
    EXPECT_EQ(readManifest(sandbox, "naruto")["icons"]["notion"]["dark"], true);

    auto text = sandbox.run({"collections", "add", "naruto", "Notion", light, "--dark-image", dark});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, "✓ Staged Notion → naruto/icons/notion.png\n"
                        "  Dark variant: " +
                            folder +
                            "/icons/notion@dark.png\n"
                            "  Progress: 1 done, 1 pending\n");

    ASSERT_EQ(sandbox.run({"collections", "add", "naruto", "Notion", light}).status, 0);
    core::Json entry = readManifest(sandbox, "naruto")["icons"]["notion"];
    EXPECT_EQ(entry["attempts"], 4);
    EXPECT_EQ(entry["dark"], false);
    EXPECT_TRUE(platform::fileExists(folder + "/icons/notion@dark.png")); // left on disk
}

TEST_F(CollectionsAdd, AnAppThatIsNotInstalledIsStagedByItsTextWithoutAReference) {
    installRecordingStandin(sandbox, "iconutil");
    std::string work = sandbox.homePath("art");
    image("icon.png", squareOnWhite(300));
    auto result = sandbox.run({"collections", "add", "naruto", "Cool App", "icon.png", "--json"}, work);
    ASSERT_EQ(result.status, 0) << result.err;
    core::Json reply = core::Json::parse(result.out);
    EXPECT_EQ(reply["appSlug"], "cool-app");
    EXPECT_EQ(reply["appName"], "Cool App");
    EXPECT_FALSE(reply.contains("darkIconPath"));
    EXPECT_FALSE(reply.contains("warning"));
    EXPECT_EQ(sandbox.loggedCalls("iconutil.log").size(), 0u);
    core::Json entry = readManifest(sandbox, "naruto")["icons"]["cool-app"];
    EXPECT_EQ(entry["appName"], "Cool App");
    EXPECT_EQ(entry["attempts"], 1);
    // Without the footprint of an installed app, an image with no flat background stays a square tile.
    auto refused = sandbox.run({"collections", "add", "naruto", "Cool App", image("q.png", quadrants(300))});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "Error: " + kOpaqueCorners + " Re-generate the icon, or pass --force to stage it anyway.\n");
}

TEST_F(CollectionsAdd, RawSkipsNormalisationButNotTheRedrawOrTheGate) {
    std::string opaque = image("opaque.png", quadrants(512));
    const std::string before = manifestBytes();
    auto refused = sandbox.run({"collections", "add", "naruto", "Notion", opaque, "--raw"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err,
              "Error: " + kOpaqueCorners + " Re-generate the icon, or pass --force to stage it anyway.\n");
    EXPECT_TRUE(platform::fileExists(folder + "/raw/notion.png")); // the raw copy is kept for debugging
    EXPECT_FALSE(platform::fileExists(folder + "/icons/notion.png"));
    EXPECT_EQ(manifestBytes(), before);

    auto forced = sandbox.run({"collections", "add", "naruto", "Notion", opaque, "--raw", "--force"});
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(forced.out, "✓ Staged Notion → naruto/icons/notion.png\n"
                          "  ⚠ " +
                              kOpaqueCorners +
                              "\n"
                              "  Progress: 1 done, 1 pending\n");
    image::Bitmap staged = readPNGFile(folder + "/icons/notion.png");
    EXPECT_EQ(staged.width, 1024); // redrawn at 1024 although --raw
    EXPECT_EQ(pixelOf(staged, 5, 5).alpha, 255);

    auto json = sandbox.run({"collections", "add", "naruto", "Notion", opaque, "--raw", "--force", "--json"});
    core::Json reply = core::Json::parse(json.out);
    EXPECT_EQ(reply["normalized"], false);
    EXPECT_EQ(reply["warning"], kOpaqueCorners);
}

// Both images are made ready before anything is written, so an unreadable dark
// image leaves no staged light icon that no entry names.
TEST_F(CollectionsAdd, AFailingDarkImageStagesNothing) {
    std::string light = image("light.png", squareOnWhite(256));
    const std::string before = manifestBytes();
    auto result =
        sandbox.run({"collections", "add", "naruto", "Notion", light, "--dark-image", "missing-dark.png"},
                    sandbox.home());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: Could not read image at " + sandbox.home() + "/missing-dark.png\n");
    EXPECT_FALSE(platform::fileExists(folder + "/icons/notion.png"));
    EXPECT_FALSE(platform::fileExists(folder + "/icons/notion@dark.png"));
    EXPECT_EQ(manifestBytes(), before);
    EXPECT_EQ(bundledTemporaries(), std::vector<std::string>{});
}

TEST_F(CollectionsAdd, RefusalsBeforeAnythingIsStaged) {
    std::string light = image("light.png", squareOnWhite(256));
    sandbox.writeFile(sandbox.homePath("art/not-an-image.png"), "plain text");
    const std::string before = manifestBytes();
    expectRefusals(sandbox,
                   {
                       {"no collection",
                        {"collections", "add", "nope", "Notion", light},
                        1,
                        "Error: No local collection named 'nope'. Run `mivora collections create` first.\n"},
                       {"a path is no collection",
                        {"collections", "add", "../collections/naruto", "Notion", light},
                        1,
                        "Error: No local collection named '../collections/naruto'."},
                       // The slug is checked before any image is read.
                       {"no slug from the name",
                        {"collections", "add", "naruto", "---", "/no/such.png"},
                        64,
                        "Error: Could not derive an app slug from \"---\".\nUsage: mivora collections add"},
                       {"missing image",
                        {"collections", "add", "naruto", "Notion", "~/art/gone.png"},
                        1,
                        "Error: Could not read image at " + sandbox.home() + "/art/gone.png\n"},
                       {"not an image",
                        {"collections", "add", "naruto", "Notion", sandbox.homePath("art/not-an-image.png")},
                        1,
                        "Error: Could not read image at " + sandbox.home() + "/art/not-an-image.png\n"},
                       {"missing image argument",
                        {"collections", "add", "naruto", "Notion"},
                        64,
                        "Error: Missing expected argument '<image>'"},
                   });
    EXPECT_EQ(manifestBytes(), before);
    EXPECT_EQ(platform::listDirectory(folder + "/icons"), std::vector<std::string>{});
    EXPECT_EQ(bundledTemporaries(), std::vector<std::string>{});
}

TEST_F(CollectionsAdd, WithoutARawFolderOnlyTheRawCopyIsMissing) {
    platform::removeItem(folder + "/raw");
    platform::removeItem(folder + "/icons");
    auto result =
        sandbox.run({"collections", "add", "naruto", "Notion", image("light.png", squareOnWhite(256))});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(platform::fileExists(folder + "/icons/notion.png"));
    EXPECT_FALSE(platform::fileExists(folder + "/raw"));
}

TEST_F(CollectionsAdd, WritesBackIntoTheFolderItLoadedFrom) {
    // A copied collection still records the original's slug; staging into the
    // copy must not overwrite the original's manifest.
    writeCollection(sandbox, "naruto-copy", manifestDocument("naruto", "Naruto copy"));
    const std::string original = manifestBytes();
    auto result =
        sandbox.run({"collections", "add", "naruto-copy", "Notion", image("light.png", squareOnWhite(256))});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.substr(0, result.out.find('\n')), "✓ Staged Notion → naruto-copy/icons/notion.png");
    EXPECT_EQ(manifestBytes(), original);
    core::Json copy = readManifest(sandbox, "naruto-copy");
    EXPECT_EQ(copy["slug"], "naruto");
    EXPECT_EQ(copy["icons"]["notion"]["status"], "done");
}

// Faster roads through decoding, normalisation and encoding must not move a
// single byte of what is staged: the pixels of both files are pinned.
TEST_F(CollectionsAdd, StagedAndRawPixelsStayExactlyAsTheyWere) {
    image::Bitmap margin = image::Bitmap::transparent(640, 640);
    fillRect(margin, 80, 80, 480, 480, {200, 40, 90, 180});
    struct Case {
        const char* name;
        const char* app;
        image::Bitmap input;
        std::vector<std::string> flags;
        uint64_t staged, raw;
    };
    const std::vector<Case> cases = {
        {"flat background cleared",
         "Flat Icon",
         speckledIcon(1024, 1024, 1),
         {},
         15954021364216575102ull,
         11307930793526264874ull},
        {"fitted to the app's footprint",
         "Notion",
         speckledIcon(700, 500, 2),
         {},
         2648565133717673187ull,
         12363675896220139385ull},
        {"transparent margin kept as drawn",
         "Flat Icon",
         margin,
         {},
         7060754205213431509ull,
         9259101159933852261ull},
        {"raw, stretched to 1024",
         "Flat Icon",
         speckledIcon(333, 777, 3),
         {"--raw", "--force"},
         2345087628904471603ull,
         16732260042725946944ull},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> arguments = {"collections", "add", "naruto", c.app,
                                              image("in.png", c.input)};
        arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
        auto result = sandbox.run(arguments);
        ASSERT_EQ(result.status, 0) << result.err;
        const std::string slug = c.app == std::string("Notion") ? "notion" : "flat-icon";
        EXPECT_EQ(straightPixelDigest(folder + "/icons/" + slug + ".png"), c.staged);
        EXPECT_EQ(straightPixelDigest(folder + "/raw/" + slug + ".png"), c.raw);
    }
    // Already Dock-ready at 1024: both files are the input's pixels, encoded once.
    image::Bitmap ready = image::Bitmap::transparent(1024, 1024);
    fillRect(ready, 100, 100, 824, 824, {20, 160, 90, 255});
    fillRect(ready, 90, 300, 10, 400, {20, 160, 90, 77});
    const std::string input = image("ready.png", ready);
    auto result = sandbox.run({"collections", "add", "naruto", "Flat Icon", input});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(straightPixelDigest(folder + "/icons/flat-icon.png"), straightPixelDigest(input));
    EXPECT_EQ(straightPixelDigest(folder + "/raw/flat-icon.png"), straightPixelDigest(input));
}

} // namespace
} // namespace mivora::testing
