// The zlib stream of the PNGs we write: whatever the input, two independent
// decoders must give back every byte, and the Huffman codes stay within the
// format's limits.
#include "platform/image/byte_order.h"
#include "platform/image/zlib_stream.h"

#include <algorithm>
#include <bit>
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <random>
#include <zlib.h>

namespace mivora::image {
namespace {

std::vector<uint8_t> inflatedByZlib(const std::string& stream, size_t expected) {
    std::vector<uint8_t> out(expected + 1);
    uLongf length = out.size();
    const int status = uncompress(out.data(), &length, reinterpret_cast<const Bytef*>(stream.data()),
                                  static_cast<uLong>(stream.size()));
    EXPECT_EQ(status, Z_OK);
    out.resize(status == Z_OK ? length : 0);
    return out;
}

std::vector<uint8_t> inflatedByLibdeflate(const std::string& stream, size_t expected) {
    std::vector<uint8_t> out(expected + 1);
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    size_t length = 0, consumed = 0;
    const auto status = libdeflate_zlib_decompress_ex(decompressor, stream.data(), stream.size(), out.data(),
                                                      out.size(), &consumed, &length);
    libdeflate_free_decompressor(decompressor);
    EXPECT_EQ(status, LIBDEFLATE_SUCCESS);
    EXPECT_EQ(consumed, stream.size()); // nothing after the stream's end
    out.resize(status == LIBDEFLATE_SUCCESS ? length : 0);
    return out;
}

std::vector<uint8_t> noise(size_t size, unsigned seed, unsigned values = 256) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (auto& byte : bytes)
        byte = static_cast<uint8_t>(random() % values);
    return bytes;
}

// Rows of a flat picture after the Paeth filter: a filter byte, zeros, and a
// few specks.
std::vector<uint8_t> filteredRows(size_t rows, size_t rowBytes, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(rows * (rowBytes + 1), 0);
    for (size_t y = 0; y < rows; ++y) {
        bytes[y * (rowBytes + 1)] = 4;
        for (int speck = 0; speck < 6; ++speck)
            bytes[y * (rowBytes + 1) + 1 + random() % rowBytes] = static_cast<uint8_t>(random());
    }
    return bytes;
}

std::vector<uint8_t> repeated(const std::vector<uint8_t>& unit, size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = unit[i % unit.size()];
    return bytes;
}

TEST(ZlibStream, EveryByteComesBackThroughTwoDecoders) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const std::vector<Case> cases = {
        {"nothing", {}},
        {"one byte", {42}},
        {"three bytes, shorter than any match", {1, 2, 3}},
        {"zeros over many pieces", std::vector<uint8_t>(3'000'001, 0)},
        {"filtered rows across piece boundaries", filteredRows(700, 4096, 1)},
        {"noise, stored rather than coded", noise(700'000, 2)},
        {"two values only", noise(300'000, 3, 2)},
        {"a period of exactly the window", repeated(noise(32768, 4), 200'000)},
        {"a period just beyond the window", repeated(noise(32769, 5), 200'000)},
        {"a short period", repeated(noise(7, 6), 1'000'000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string stream = zlibCompress(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(inflatedByZlib(stream, c.bytes.size()), c.bytes);
        EXPECT_EQ(inflatedByLibdeflate(stream, c.bytes.size()), c.bytes);
        // A machine of either byte order makes the very same stream.
        for (const std::endian order : {std::endian::little, std::endian::big}) {
            SCOPED_TRACE(order == std::endian::big ? "big-endian" : "little-endian");
            EXPECT_TRUE(zlibCompressInByteOrder(order, c.bytes.data(), c.bytes.size()) == stream);
        }
    }
}

TEST(ZlibStream, MatchLengthsAreFoundAlikeInEitherByteOrder) {
    // Two runs that agree up to each place in turn (within and across words),
    // up to limits short of, at and past that place.
    const std::vector<uint8_t> a = noise(64, 7);
    for (size_t differ = 0; differ <= 40; ++differ) {
        std::vector<uint8_t> b = a;
        if (differ < b.size()) b[differ] ^= 0x01;
        for (const size_t limit :
             {size_t{0}, size_t{3}, differ, differ + 1, size_t{8}, size_t{17}, size_t{48}}) {
            const size_t expected = std::min(differ, limit);
            EXPECT_EQ(commonPrefixLength<std::endian::little>(a.data(), b.data(), limit), expected)
                << differ << " " << limit;
            EXPECT_EQ(commonPrefixLength<std::endian::big>(a.data(), b.data(), limit), expected)
                << differ << " " << limit;
        }
    }
    const uint8_t bytes[4] = {0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ((littleEndianWord<uint32_t, std::endian::little>(bytes)), 0x44332211u);
    EXPECT_EQ((littleEndianWord<uint32_t, std::endian::big>(bytes)), 0x44332211u);
}

TEST(ZlibStream, CompressesWhatRepeatsAndBoundsWhatDoesNot) {
    const auto zeros = std::vector<uint8_t>(4'000'000, 0);
    EXPECT_LT(zlibCompress(zeros.data(), zeros.size()).size(), 8'000u);
    const auto rows = filteredRows(1024, 4096, 7);
    EXPECT_LT(zlibCompress(rows.data(), rows.size()).size(), rows.size() / 20);
    // Stored blocks cost five bytes per 64 KiB, and each piece's flush as much again.
    const auto random = noise(1'000'000, 8);
    EXPECT_LT(zlibCompress(random.data(), random.size()).size(), random.size() + random.size() / 1000);
}

// Sum of 2^-length over the used symbols, in units of 2^-limit.
uint64_t kraftSum(const std::vector<uint8_t>& lengths, int limit) {
    uint64_t sum = 0;
    for (uint8_t length : lengths) {
        if (length > 0) sum += uint64_t{1} << (limit - length);
    }
    return sum;
}

TEST(ZlibStream, HuffmanCodesAreCompleteAndWithinTheirLimit) {
    std::vector<uint32_t> fibonacci = {1, 1};
    while (fibonacci.size() < 30)
        fibonacci.push_back(fibonacci[fibonacci.size() - 1] + fibonacci[fibonacci.size() - 2]);
    struct Case {
        const char* name;
        std::vector<uint32_t> frequencies;
        int limit;
    };
    const std::vector<Case> cases = {
        {"two symbols", {0, 5, 0, 9}, 15},
        {"even", std::vector<uint32_t>(286, 3), 15},
        // A Huffman tree over these is 29 levels deep: it must be flattened.
        {"Fibonacci, deeper than 15", fibonacci, 15},
        {"Fibonacci, deeper than 7 (the code-length alphabet)",
         std::vector<uint32_t>(fibonacci.begin(), fibonacci.begin() + 19), 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto lengths = huffmanCodeLengths(c.frequencies, c.limit);
        ASSERT_EQ(lengths.size(), c.frequencies.size());
        for (size_t s = 0; s < lengths.size(); ++s) {
            EXPECT_EQ(lengths[s] == 0, c.frequencies[s] == 0) << "symbol " << s;
            EXPECT_LE(lengths[s], c.limit);
        }
        EXPECT_EQ(kraftSum(lengths, c.limit), uint64_t{1} << c.limit);
    }
    // An unlimited tree stays optimal: 1, 2, 3, 3 for these.
    EXPECT_EQ(huffmanCodeLengths({8, 4, 2, 2}, 15), (std::vector<uint8_t>{1, 2, 3, 3}));
}

} // namespace
} // namespace mivora::image
