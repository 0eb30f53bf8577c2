// PNG reading: the direct reader of the usual files must agree with libpng, the
// reference, on every verdict, every error text and every pixel; the whole-file
// check passes only files that libpng reads.
#include "platform/image/pixel_format.h"
#include "platform/image/png.h"
#include "support/icns_writer.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <random>

namespace mivora::testing {
namespace {

using image::Bitmap;

// What a reader made of some bytes: its pixels, or its error.
struct Reading {
    bool accepted = false;
    std::string error;
    Bitmap bitmap;
};

template <typename Read> Reading readWith(Read read) {
    Reading reading;
    try {
        reading.bitmap = read();
        reading.accepted = true;
    } catch (const image::ImageError& error) {
        reading.error = error.what();
    }
    return reading;
}

// Decoding and libpng's own reading of the bytes agree, and a file that is
// whole is one that libpng reads; returns libpng's reading.
Reading expectReadersAgree(const std::string& bytes) {
    const Reading reference = readWith([&] { return image::decodePNGThroughLibpng(bytes); });
    const Reading decoded = readWith([&] { return image::decodePNG(bytes); });
    EXPECT_EQ(decoded.accepted, reference.accepted) << reference.error << " / " << decoded.error;
    EXPECT_EQ(decoded.error, reference.error);
    if (image::isWholePNG(bytes)) {
        EXPECT_TRUE(reference.accepted) << "whole, yet " << reference.error;
    }
    if (reference.accepted && decoded.accepted) {
        EXPECT_EQ(decoded.bitmap.width, reference.bitmap.width);
        EXPECT_EQ(decoded.bitmap.height, reference.bitmap.height);
        EXPECT_TRUE(decoded.bitmap.pixels == reference.bitmap.pixels) << "the pixels differ from libpng's";
    }
    return reference;
}

// Straight pixels from a fixed seed; alpha drawn from 0, a partial value and 255.
std::vector<uint8_t> noisePixels(size_t width, size_t height, size_t channels, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> pixels(width * height * channels);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const bool alpha = channels == 4 && i % 4 == 3;
        pixels[i] = alpha ? std::array<uint8_t, 3>{0, 77, 255}[random() % 3] : static_cast<uint8_t>(random());
    }
    return pixels;
}

std::string eightBitPNG(const std::vector<uint8_t>& pixels, uint32_t width, uint32_t height, size_t channels,
                        const std::vector<uint8_t>& filters,
                        const std::vector<std::string>& beforeData = {}) {
    std::vector<std::string> chunks = {pngHeader(width, height, 8, channels == 4 ? 6 : 2)};
    chunks.insert(chunks.end(), beforeData.begin(), beforeData.end());
    chunks.push_back(pngChunk("IDAT", zlibStream(filteredRows(pixels, width * channels, channels, filters))));
    chunks.push_back(pngChunk("IEND", ""));
    return pngFile(chunks);
}

TEST(PNGReading, UsualFilesDecodeToLibpngsPixelsWhateverTheirRowFilters) {
    struct Case {
        const char* name;
        uint32_t width, height;
        size_t channels;
        std::vector<uint8_t> filters;
    };
    const Case cases[] = {
        {"RGBA, no filter", 7, 5, 4, {0}},
        {"RGBA, Sub", 9, 4, 4, {1}},
        {"RGBA, Up", 6, 6, 4, {2}},
        {"RGBA, Average", 11, 5, 4, {3}},
        {"RGBA, Paeth", 13, 7, 4, {4}},
        {"RGBA, every filter in turn, one column", 1, 11, 4, {0, 1, 2, 3, 4}},
        {"RGBA, every filter in turn, one row", 33, 1, 4, {4}},
        {"RGBA, every filter in turn", 65, 23, 4, {3, 4, 1, 0, 2}},
        {"RGB, every filter in turn", 31, 12, 3, {0, 1, 2, 3, 4}},
        {"RGB, Paeth, odd width", 17, 9, 3, {4}},
        {"RGB, Average, one pixel", 1, 1, 3, {3}},
    };
    unsigned seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> pixels = noisePixels(c.width, c.height, c.channels, seed++);
        const std::string png = eightBitPNG(pixels, c.width, c.height, c.channels, c.filters);
        const Reading reading = expectReadersAgree(png);
        ASSERT_TRUE(reading.accepted) << reading.error;
        // Read directly, not left to libpng.
        image::InflateBuffer buffer;
        const std::optional<Bitmap> direct = image::directlyDecodedPNG(png);
        EXPECT_TRUE(direct.has_value());
        // The plain loops that any machine runs give the same pixels as the SIMD lanes.
        const std::optional<Bitmap> portable = image::directlyDecodedPNG(png, image::Unfiltering::portable);
        ASSERT_TRUE(portable.has_value());
        EXPECT_TRUE(direct && portable->pixels == direct->pixels);
        EXPECT_EQ(image::directlyCheckedWhole(png, buffer), image::DirectVerdict::whole);
        // And both are the source pixels, premultiplied (alpha 255 where the file has none).
        std::vector<uint8_t> expected;
        for (size_t i = 0; i < pixels.size(); i += c.channels) {
            expected.insert(expected.end(), pixels.begin() + i, pixels.begin() + i + 3);
            expected.push_back(c.channels == 4 ? pixels[i + 3] : 255);
        }
        image::premultiplyRGBA(expected.data(), expected.size() / 4);
        EXPECT_TRUE(reading.bitmap.pixels == expected);
    }
}

TEST(PNGReading, ChunksThatChangeColoursAreHonouredAsLibpngHonoursThem) {
    const std::vector<uint8_t> pixels = noisePixels(8, 8, 3, 7);
    const std::vector<uint8_t> grey = {0, 40, 80, 120, 160, 200, 240, 255};
    struct Case {
        const char* name;
        std::string png;
    };
    const Case cases[] = {
        {"a gamma other than the display's",
         eightBitPNG(pixels, 8, 8, 3, {4}, {pngChunk("gAMA", bigEndian32(100000))})},
        {"a transparent colour", eightBitPNG(pixels, 8, 8, 3, {1}, {pngChunk("tRNS", std::string(6, '\0'))})},
        {"significant bits", eightBitPNG(pixels, 8, 8, 3, {2}, {pngChunk("sBIT", "\x05\x06\x05")})},
        {"an sRGB chunk", eightBitPNG(pixels, 8, 8, 3, {0}, {pngChunk("sRGB", std::string(1, '\0'))})},
        {"a palette",
         pngFile({pngHeader(2, 2, 8, 3), pngChunk("PLTE", std::string("\xFF\0\0\0\xFF\0", 6)),
                  pngChunk("IDAT", zlibStream(std::string("\0\0\1\0\1\0", 6))), pngChunk("IEND", "")})},
        {"grey", pngFile({pngHeader(8, 1, 8, 0), pngChunk("IDAT", zlibStream(filteredRows(grey, 8, 1, {1}))),
                          pngChunk("IEND", "")})},
        {"16 bits",
         pngFile(
             {pngHeader(2, 1, 16, 2),
              pngChunk("IDAT", zlibStream(std::string("\0\x12\x34\x56\x78\x9A\xBC\xFF\xFF\0\0\x80\x80", 13))),
              pngChunk("IEND", "")})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Reading reading = expectReadersAgree(c.png);
        EXPECT_TRUE(reading.accepted) << reading.error;
    }
    // The gamma is applied: the pixels are not those of the same file without it.
    EXPECT_NE(image::decodePNG(cases[0].png).pixels,
              image::decodePNG(eightBitPNG(pixels, 8, 8, 3, {4})).pixels);
}

// The zlib stream with another window size in its header (2^(8 + cinfo) bytes).
std::string withZlibWindow(const std::string& stream, int cinfo) {
    const int cmf = (cinfo << 4) | 8, flg = static_cast<unsigned char>(stream[1]) & 0xE0;
    const int check = (31 - ((cmf << 8) | flg) % 31) % 31;
    return std::string{static_cast<char>(cmf), static_cast<char>(flg | check)} + stream.substr(2);
}

TEST(PNGReading, DamagedFilesGetLibpngsVerdictFromEveryReader) {
    const uint32_t width = 5, height = 4;
    const std::vector<uint8_t> pixels = noisePixels(width, height, 4, 3);
    const std::string rows = filteredRows(pixels, width * 4, 4, {1, 4});
    const std::string stream = zlibStream(rows);
    const std::string header = pngHeader(width, height, 8, 6);
    const std::string data = pngChunk("IDAT", stream);
    const std::string end = pngChunk("IEND", "");
    const std::string good = pngFile({header, data, end});
    std::string badChecksum = stream;
    badChecksum.back() ^= 1;
    std::string badFilter = rows;
    badFilter[(width * 4 + 1) * 3] = 5;
    // Two rows of noise 801 bytes long, then the same two again: the copies
    // reach 1,602 bytes back, beyond a 512-byte window, which zlib refuses.
    const std::string wideRows = filteredRows(noisePixels(200, 2, 4, 9), 800, 4, {0});
    const std::string wideHeader = pngHeader(200, 4, 8, 6);
    const std::string farBack = withZlibWindow(zlibStream(wideRows + wideRows), 1);
    std::string lyingLength = good;
    lyingLength[8 + 25 + 3] += 40; // the IDAT length, beyond the file

    struct Case {
        const char* name;
        std::string png;
        bool accepted;
        bool whole = false; // kept as its bytes where a PNG passes through
    };
    const Case cases[] = {
        {"sound", good, true, true},
        // libpng stops reading where the image data ends, and keeps going past damage
        // in chunks that only describe the picture.
        {"a bad CRC on a text chunk",
         pngFile({header, pngChunk("tEXt", std::string("a\0b", 3), 1), data, end}), true},
        {"a bad CRC on IEND", pngFile({header, data, pngChunk("IEND", "", 1)}), true},
        {"no IEND", pngFile({header, data}), true},
        {"bytes after IEND", good + "trailing", true},
        {"an unknown critical chunk after the data", pngFile({header, data, pngChunk("ABCD", "x"), end}),
         true},
        {"bytes after the zlib stream",
         pngFile({header, pngChunk("IDAT", stream + std::string(4, '\0')), end}), true},
        {"more rows than the header says", pngFile({header, pngChunk("IDAT", zlibStream(rows + rows)), end}),
         true},
        {"the data in several chunks, some empty",
         pngFile({header, pngChunk("IDAT", ""), pngChunk("IDAT", stream.substr(0, 9)), pngChunk("IDAT", ""),
                  pngChunk("IDAT", stream.substr(9)), end}),
         true, true},
        {"an unknown ancillary chunk", pngFile({header, pngChunk("prVt", "anything"), data, end}), true,
         true},
        {"a bad CRC on the data", pngFile({header, pngChunk("IDAT", stream, 1), end}), false},
        {"a bad CRC on the header", pngFile({pngChunk("IHDR", header.substr(8, 13), 1), data, end}), false},
        {"a bad zlib checksum", pngFile({header, pngChunk("IDAT", badChecksum), end}), false},
        {"the stream cut before its checksum",
         pngFile({header, pngChunk("IDAT", stream.substr(0, stream.size() - 4)), end}), false},
        {"one byte too few",
         pngFile({header, pngChunk("IDAT", zlibStream(rows.substr(0, rows.size() - 1))), end}), false},
        {"an invalid filter type", pngFile({header, pngChunk("IDAT", zlibStream(badFilter)), end}), false},
        {"a chunk between two data chunks",
         pngFile({header, pngChunk("IDAT", stream.substr(0, 9)), pngChunk("tEXt", std::string("a\0b", 3)),
                  pngChunk("IDAT", stream.substr(9)), end}),
         false},
        {"an unknown critical chunk before the data", pngFile({header, pngChunk("ABCD", "x"), data, end}),
         false},
        {"no data", pngFile({header, end}), false},
        {"a chunk length beyond the file", lyingLength, false},
        {"a chunk length of 2^31", pngFile({header}) + bigEndian32(0x80000000u) + "tEXt" + data + end, false},
        {"cut inside the data", good.substr(0, good.size() - 30), false},
        {"a zlib window smaller than the distances used",
         pngFile({wideHeader, pngChunk("IDAT", farBack), end}), false},
        {"the same stream declaring the whole window",
         pngFile({wideHeader, pngChunk("IDAT", withZlibWindow(farBack, 7)), end}), true, true},
        {"a small zlib window that the distances keep to",
         pngFile({header, pngChunk("IDAT", withZlibWindow(stream, 1)), end}), true, true},
        {"a zlib stream asking for a dictionary",
         pngFile({header, pngChunk("IDAT", std::string("\x78\xBB", 2) + stream.substr(2)), end}), false},
        {"a compression method other than 0",
         pngFile({pngChunk("IHDR", header.substr(8, 10) + "\x01\x00\x00"), data, end}), false},
        {"bit depth 4 with RGBA", pngFile({pngHeader(width, height, 4, 6), data, end}), false},
        {"interlacing method 2", pngFile({pngHeader(width, height, 8, 6, 2), data, end}), false},
        {"a header larger than the cap", pngWithHeader(16385, 16), false},
        {"a file far too small for its header", pngWithHeader(8192, 8192), false},
        {"nothing but the signature", pngFile({}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Reading reading = expectReadersAgree(c.png);
        EXPECT_EQ(reading.accepted, c.accepted) << reading.error;
        EXPECT_EQ(image::isWholePNG(c.png), c.whole);
    }
}

TEST(PNGReading, TheCheckKnowsTheDataSizeOfEveryLayout) {
    // Image data of exactly the size each layout needs (all rows unfiltered),
    // and the same with one byte less and one row's filter type invalid.
    struct Case {
        const char* name;
        uint32_t width, height;
        uint8_t bitDepth, colourType, interlace;
    };
    const Case cases[] = {
        {"1-bit grey, interlaced", 13, 7, 1, 0, 1},
        {"2-bit grey", 9, 3, 2, 0, 0},
        {"16-bit RGBA, interlaced", 3, 9, 16, 6, 1},
        {"8-bit grey and alpha, interlaced, one pixel", 1, 1, 8, 4, 1},
        {"8-bit RGB, interlaced, a single column", 1, 10, 8, 2, 1},
        {"16-bit grey, a single row", 17, 1, 16, 0, 0},
    };
    static constexpr uint32_t kWhole[4] = {0, 0, 1, 1};
    static constexpr uint32_t kAdam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                              {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int channels = c.colourType == 6 ? 4 : c.colourType == 2 ? 3 : c.colourType == 4 ? 2 : 1;
        std::string rows;
        for (int pass = 0; pass < (c.interlace ? 7 : 1); ++pass) {
            const uint32_t* p = c.interlace ? kAdam7[pass] : kWhole;
            if (c.width <= p[0] || c.height <= p[1]) continue;
            const uint64_t columns = (c.width - p[0] + p[2] - 1) / p[2];
            const uint64_t count = (c.height - p[1] + p[3] - 1) / p[3];
            const size_t rowBytes = (columns * channels * c.bitDepth + 7) / 8;
            for (uint64_t row = 0; row < count; ++row)
                rows += std::string(1, '\0') + std::string(rowBytes, '\x5A');
        }
        const std::string header = pngHeader(c.width, c.height, c.bitDepth, c.colourType, c.interlace);
        auto file = [&](const std::string& data) {
            return pngFile({header, pngChunk("IDAT", zlibStream(data)), pngChunk("IEND", "")});
        };
        EXPECT_TRUE(expectReadersAgree(file(rows)).accepted);
        image::InflateBuffer buffer;
        EXPECT_EQ(image::directlyCheckedWhole(file(rows), buffer), image::DirectVerdict::whole)
            << "left to libpng";
        EXPECT_FALSE(expectReadersAgree(file(rows.substr(0, rows.size() - 1))).accepted);
        std::string badFilter = rows;
        badFilter[0] = 7;
        EXPECT_FALSE(expectReadersAgree(file(badFilter)).accepted);
    }
}

TEST(PNGReading, InterlacedFilesOfEveryDepthAndColourTypeGiveTheirTwinsPixels) {
    struct Kind {
        int colourType;
        std::vector<int> depths;
    };
    const Kind kinds[] = {{0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
    const std::pair<uint32_t, uint32_t> sizes[] = {{13, 11}, {5, 1}, {1, 9}, {33, 17}};
    for (const Kind& kind : kinds) {
        for (int depth : kind.depths) {
            for (const auto& [width, height] : sizes) {
                for (const std::optional<double> gamma :
                     {std::optional<double>(), std::optional<double>(1.0)}) {
                    SCOPED_TRACE("colour type " + std::to_string(kind.colourType) + ", " +
                                 std::to_string(depth) + " bits, " + std::to_string(width) + " x " +
                                 std::to_string(height) + (gamma ? ", gamma 1.0" : ""));
                    PNGPicture picture = patternPNGPicture(width, height, depth, kind.colourType);
                    picture.fileGamma = gamma;
                    const std::string plain = libpngFile(picture);
                    picture.interlaced = true;
                    const std::string interlaced = libpngFile(picture);
                    ASSERT_NE(plain, interlaced);
                    const Bitmap expected = image::decodePNG(plain);
                    const Bitmap decoded = image::decodePNG(interlaced);
                    EXPECT_EQ(decoded.width, expected.width);
                    EXPECT_TRUE(decoded.pixels == expected.pixels) << "pixels out of place";
                }
            }
        }
    }
}

TEST(PNGReading, UntaggedSixteenBitSamplesAreTakenAsTheyAre) {
    // Mid-grey stays mid-grey: 0x8080 is 128, not the 186 of linear light.
    PNGPicture grey = patternPNGPicture(1, 1, 16, 0);
    grey.samples = {0x8080};
    EXPECT_EQ(image::decodePNG(libpngFile(grey)).pixels, (std::vector<uint8_t>{128, 128, 128, 255}));
    for (int colourType : {0, 2, 4, 6}) {
        SCOPED_TRACE("colour type " + std::to_string(colourType));
        PNGPicture wide = patternPNGPicture(21, 13, 16, colourType);
        const bool alpha = colourType == 4 || colourType == 6;
        // With alpha, samples that scale exactly, so that premultiplying adds no rounding of its own.
        if (alpha) {
            for (uint16_t& sample : wide.samples)
                sample = static_cast<uint16_t>((sample >> 8) * 257);
        }
        const PNGPicture narrow = eightBitEdition(wide);
        const Bitmap sixteen = image::decodePNG(libpngFile(wide));
        const Bitmap eight = image::decodePNG(libpngFile(narrow));
        ASSERT_EQ(sixteen.pixels.size(), eight.pixels.size());
        int worst = 0;
        for (size_t i = 0; i < eight.pixels.size(); ++i)
            worst = std::max(worst, std::abs(sixteen.pixels[i] - eight.pixels[i]));
        EXPECT_LE(worst, alpha ? 0 : 1) << "the 8-bit edition of the same picture";
        // An sRGB chunk says what untagged samples are taken to be.
        PNGPicture tagged = wide;
        tagged.sRGB = true;
        EXPECT_TRUE(image::decodePNG(libpngFile(tagged)).pixels == sixteen.pixels);
        // A chunk that says the samples are linear light is still honoured.
        PNGPicture linear = wide;
        linear.fileGamma = 1.0;
        EXPECT_FALSE(image::decodePNG(libpngFile(linear)).pixels == sixteen.pixels);
    }
}

} // namespace
} // namespace mivora::testing
