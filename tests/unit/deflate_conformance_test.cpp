// The check that deflate data keeps to the format: streams that libdeflate
// reads and zlib refuses are told apart from those both read.
#include "platform/image/deflate_conformance.h"
#include "platform/image/png.h"
#include "platform/image/zlib_stream.h"
#include "support/icns_writer.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <random>
#include <vector>
#include <zlib.h>

namespace mivora::testing {
namespace {

// Deflate bits, least significant first; Huffman codes most significant bit first.
class Bits {
public:
    Bits& put(uint32_t value, int count) {
        for (int i = 0; i < count; ++i)
            bit((value >> i) & 1);
        return *this;
    }
    Bits& code(uint32_t value, int length) {
        for (int i = length - 1; i >= 0; --i)
            bit((value >> i) & 1);
        return *this;
    }
    std::string bytes() const { return out_; }

private:
    void bit(uint32_t b) {
        if (used_ % 8 == 0) out_.push_back('\0');
        out_.back() = static_cast<char>(out_.back() | (b << (used_ % 8)));
        ++used_;
    }
    std::string out_;
    size_t used_ = 0;
};

bool libdeflateReads(const std::string& data) {
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    std::vector<char> out(1 << 20);
    size_t produced = 0;
    const auto result = libdeflate_deflate_decompress(decompressor, data.data(), data.size(), out.data(),
                                                      out.size(), &produced);
    libdeflate_free_decompressor(decompressor);
    return result == LIBDEFLATE_SUCCESS;
}

bool zlibReads(const std::string& data) {
    z_stream stream{};
    inflateInit2(&stream, -15);
    std::vector<unsigned char> out(1 << 20);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    return status == Z_STREAM_END;
}

// A block of codes of its own holding the literal 'a' (code 0), the lengths
// given and the end of block: the code-length code gives lengths 0, 1 and 2 and
// runs of zeros (symbol 18) two bits each. `literalLengths` are the lengths of
// the symbols from 256 on (256 itself first); `distanceLengths` those of the
// distance symbols.
Bits dynamicBlock(const std::vector<uint8_t>& literalLengths, const std::vector<uint8_t>& distanceLengths) {
    std::vector<uint8_t> all(256, 0);
    all['a'] = 1;
    all.insert(all.end(), literalLengths.begin(), literalLengths.end());
    const size_t literals = all.size();
    all.insert(all.end(), distanceLengths.begin(), distanceLengths.end());
    Bits bits;
    bits.put(1, 1).put(2, 2);
    bits.put(static_cast<uint32_t>(literals - 257), 5)
        .put(static_cast<uint32_t>(distanceLengths.size() - 1), 5);
    // Code-length code lengths in their order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1: 18, 0, 2, 1 get 2.
    const uint8_t order[] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1};
    bits.put(static_cast<uint32_t>(std::size(order) - 4), 4);
    for (uint8_t symbol : order)
        bits.put(symbol == 18 || symbol == 0 || symbol == 1 || symbol == 2 ? 2 : 0, 3);
    // Canonical codes: 0 -> 00, 1 -> 01, 2 -> 10, 18 -> 11.
    for (size_t i = 0; i < all.size();) {
        size_t run = 0;
        while (i + run < all.size() && all[i + run] == 0 && run < 138)
            ++run;
        if (run >= 11) {
            bits.code(3, 2).put(static_cast<uint32_t>(run - 11), 7);
            i += run;
            continue;
        }
        bits.code(all[i], 2);
        ++i;
    }
    return bits;
}

TEST(DeflateConformance, TellsTheStreamsOnlyLibdeflateReadsFromTheOthers) {
    std::mt19937 random(5);
    std::string noise(70000, '\0'), text;
    for (char& c : noise)
        c = static_cast<char>(random());
    for (int i = 0; i < 3000; ++i)
        text += "icon " + std::to_string(i % 97) + " ";
    auto zlibDeflate = [](const std::string& raw, int level) {
        uLongf size = compressBound(static_cast<uLong>(raw.size()));
        std::string out(size, '\0');
        compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
                  static_cast<uLong>(raw.size()), level);
        return out.substr(2, size - 6);
    };
    auto ours = [](const std::string& raw) {
        const std::string stream =
            image::zlibCompress(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
        return stream.substr(2, stream.size() - 6);
    };
    // 'a' then a match of three at distance 1, its distance symbol written as "1".
    Bits singleDistanceOne = dynamicBlock({2, 2}, {1});
    singleDistanceOne.code(0, 1).code(3, 2).code(1, 1).code(2, 2);
    Bits singleDistanceZero = dynamicBlock({2, 2}, {1});
    singleDistanceZero.code(0, 1).code(3, 2).code(0, 1).code(2, 2);
    Bits emptyDistances = dynamicBlock({2, 2}, {0});
    emptyDistances.code(0, 1).code(3, 2).code(0, 1).code(2, 2);
    // 287 length symbols announced: 256 and the reserved 286 hold the two-bit codes.
    std::vector<uint8_t> wide(31, 0);
    wide[0] = 2;
    wide[30] = 2;
    Bits tooManyLiterals = dynamicBlock(wide, {0});
    tooManyLiterals.code(0, 1).code(2, 2);
    // Fixed codes: 'a' (0x30 + 0x61, eight bits), then a reserved symbol, then the end (seven zero bits).
    Bits reservedLength;
    reservedLength.put(1, 1).put(1, 2).code(0x91, 8).code(0xC6, 8).code(0, 5).code(0, 7);
    // 40,000 stored bytes, then a match of three at the reserved distance symbol 30 (14 extra bits of 0).
    Bits stored;
    stored.put(0, 1).put(0, 2);
    std::string farBack = stored.bytes() + std::string("\x40\x9C\xBF\x63", 4) + std::string(40000, 'x');
    Bits reservedDistance;
    reservedDistance.put(1, 1).put(1, 2).code(1, 7).code(30, 5).put(0, 14).code(0, 7);
    farBack += reservedDistance.bytes();

    struct Case {
        const char* name;
        std::string data;
        bool conforming;
    };
    const Case cases[] = {
        {"zlib, stored", zlibDeflate(noise, 0), true},
        {"zlib, fastest", zlibDeflate(text, 1), true},
        {"zlib, best", zlibDeflate(text + noise.substr(0, 5000), 9), true},
        {"ours", ours(text + noise), true},
        {"a one-symbol distance code read as 0", singleDistanceZero.bytes(), true},
        {"a one-symbol distance code read as 1", singleDistanceOne.bytes(), false},
        {"a distance from an empty distance code", emptyDistances.bytes(), false},
        {"287 length symbols announced", tooManyLiterals.bytes(), false},
        {"the reserved length symbol 286", reservedLength.bytes(), false},
        {"the reserved distance symbol 30", farBack, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(libdeflateReads(c.data));
        EXPECT_EQ(zlibReads(c.data), c.conforming);
        EXPECT_EQ(image::conformingDeflate(c.data), c.conforming);
    }
    // And what no reader takes: cut short, or not deflate at all.
    const std::string good = zlibDeflate(text, 9);
    EXPECT_FALSE(image::conformingDeflate(good.substr(0, good.size() / 2)));
    EXPECT_FALSE(image::conformingDeflate(""));
    EXPECT_FALSE(image::conformingDeflate(std::string(8, '\xFF')));
}

// Against zlib itself, on streams cut at every length and with bits flipped:
// wherever libdeflate reads the data, the check says what zlib says.
TEST(DeflateConformance, AgreesWithZlibOnCutAndDamagedStreams) {
    std::mt19937 random(11);
    std::string text;
    for (int i = 0; i < 400; ++i)
        text += "icon " + std::to_string(i % 37) + (i % 5 ? " light " : " dark ");
    std::string noise(3000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random() % 16);
    auto deflated = [](const std::string& raw, int level, int strategy) {
        z_stream stream{};
        deflateInit2(&stream, level, Z_DEFLATED, -15, 8, strategy);
        std::string out(deflateBound(&stream, static_cast<uLong>(raw.size())), '\0');
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
        stream.avail_in = static_cast<uInt>(raw.size());
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        deflate(&stream, Z_FINISH);
        out.resize(stream.total_out);
        deflateEnd(&stream);
        return out;
    };
    struct Case {
        const char* name;
        std::string data;
    };
    const Case cases[] = {
        {"fixed codes", deflated(text, 6, Z_FIXED)},
        {"codes of its own", deflated(text + noise, 9, Z_DEFAULT_STRATEGY)},
        {"literals only", deflated(noise, 6, Z_HUFFMAN_ONLY)},
        {"stored", deflated(noise.substr(0, 500), 0, Z_DEFAULT_STRATEGY)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (size_t length = 0; length <= c.data.size(); ++length) {
            const std::string cut = c.data.substr(0, length);
            ASSERT_EQ(image::conformingDeflate(cut), zlibReads(cut)) << "cut to " << length;
        }
        for (int trial = 0; trial < 2000; ++trial) {
            std::string damaged = c.data;
            const size_t bit = random() % (damaged.size() * 8);
            damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (1 << (bit % 8)));
            if (!libdeflateReads(damaged)) continue;
            ASSERT_EQ(image::conformingDeflate(damaged), zlibReads(damaged)) << "bit " << bit << " flipped";
        }
    }
}

TEST(DeflateConformance, APNGWhoseDataOnlyLibdeflateReadsDecodesButIsNotWhole) {
    // One RGBA pixel of 'a' bytes: the row's filter byte in a stored block,
    // then 'a' and a match of three at distance 1 whose distance is written "1".
    Bits stored;
    stored.put(0, 1).put(0, 2).put(0, 5).put(1, 16).put(0xFFFE, 16).put(0, 8);
    Bits samples = dynamicBlock({2, 2}, {1});
    samples.code(0, 1).code(3, 2).code(1, 1).code(2, 2);
    const std::string raw("\0aaaa", 5);
    const uint32_t adler = static_cast<uint32_t>(adler32(1, reinterpret_cast<const Bytef*>(raw.data()), 5));
    const std::string stream = "\x78\x01" + stored.bytes() + samples.bytes() + bigEndian32(adler);
    const std::string png = pngFile({pngHeader(1, 1, 8, 6), pngChunk("IDAT", stream), pngChunk("IEND", "")});
    const image::Bitmap bitmap = image::decodePNG(png);
    EXPECT_EQ(bitmap.pixels, (std::vector<uint8_t>{37, 37, 37, 0x61})); // premultiplied
    EXPECT_FALSE(image::isWholePNG(png));
    EXPECT_THROW(image::decodePNGThroughLibpng(png), image::ImageError) << "zlib refuses it";
}

} // namespace
} // namespace mivora::testing
