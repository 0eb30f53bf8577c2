#include "platform/image/deflate_conformance.h"

#include "platform/image/byte_order.h"
#include "platform/image/deflate_format.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace mivora::image {

namespace {

using namespace deflate;

constexpr int kMaxCodeLength = 15;
// Codes of up to this many bits are read in one table look-up: nearly every
// symbol of real image data (longer codes belong to rare symbols).
constexpr int kFastBits = 11;
// As a block of fixed codes has them, the two reserved ones of each included.
constexpr int kFixedLiteralLengthSymbols = 288;
constexpr int kFixedDistanceSymbols = 32;

// Bits from the least significant end of each byte, as deflate packs them.
// Symbols are read after one refill() and may run past the data's end into
// zero bits: overrun() then tells that the data ended early.
class BitReader {
public:
    explicit BitReader(std::string_view data)
        : next_(reinterpret_cast<const uint8_t*>(data.data())), end_(next_ + data.size()) {}

    // At least `count` (at most 32) bits buffered; false when the data ends first.
    bool need(int count) {
        while (count_ < count) {
            if (next_ == end_) return false;
            bits_ |= uint64_t{*next_++} << count_;
            count_ += 8;
        }
        return true;
    }
    // At least 56 bits buffered, or every bit left: enough for a length, a
    // distance and their extra bits (48 at most). Eight bytes at a time where
    // eight are left; the bits above the count are then those of the bytes
    // still ahead, so that or-ing them in again changes nothing.
    void refill() {
        if (count_ < 0) return;
        if (end_ - next_ >= 8) {
            bits_ |= littleEndianWord<uint64_t>(next_) << count_;
            next_ += (63 - count_) >> 3;
            count_ |= 56;
            return;
        }
        while (count_ < 56 && next_ != end_) {
            bits_ |= uint64_t{*next_++} << count_;
            count_ += 8;
        }
    }
    bool overrun() const { return count_ < 0; }
    uint32_t peek(int count) const { return static_cast<uint32_t>(bits_ & ((uint64_t{1} << count) - 1)); }
    void drop(int count) {
        bits_ >>= count;
        count_ -= count;
    }
    // `count` bits after need(count) or refill().
    uint32_t take(int count) {
        const uint32_t value = peek(count);
        drop(count);
        return value;
    }
    bool read(int count, uint32_t& value) {
        if (!need(count)) return false;
        value = take(count);
        return true;
    }
    void alignToByte() { drop(count_ % 8); }
    // Skips whole bytes (after alignToByte); false when fewer are left.
    bool skipBytes(size_t count) {
        while (count > 0 && count_ >= 8) {
            drop(8);
            --count;
        }
        if (count == 0) return true;
        if (count > static_cast<size_t>(end_ - next_)) return false;
        // Nothing is buffered now; bits of bytes skipped must not be or-ed into later ones.
        bits_ = 0;
        next_ += count;
        return true;
    }

private:
    const uint8_t* next_;
    const uint8_t* end_;
    uint64_t bits_ = 0;
    int count_ = 0;
};

// A canonical Huffman code: the counts of each length, the symbols in code
// order, and a table for codes of up to kFastBits bits, as they arrive.
struct Code {
    std::array<uint16_t, kMaxCodeLength + 1> count{};
    std::array<uint16_t, kFixedLiteralLengthSymbols> symbols{};
    std::array<uint16_t, 1 << kFastBits> fast{}; // (symbol << 4) | length; 0: look further

    enum class Shape { complete, single, empty, invalid };

    // zlib's rules: over-subscribed lengths are invalid; a code with unused
    // codewords is valid only as one codeword of one bit (or none at all).
    Shape build(const uint8_t* lengths, int n) {
        count.fill(0);
        fast.fill(0);
        for (int s = 0; s < n; ++s)
            ++count[lengths[s]];
        count[0] = 0;
        int left = 1, longest = 0;
        for (int length = 1; length <= kMaxCodeLength; ++length) {
            left = (left << 1) - count[length];
            if (left < 0) return Shape::invalid;
            if (count[length] > 0) longest = length;
        }
        std::array<uint16_t, kMaxCodeLength + 2> offset{};
        for (int length = 1; length <= kMaxCodeLength; ++length)
            offset[length + 1] = static_cast<uint16_t>(offset[length] + count[length]);
        for (int s = 0; s < n; ++s) {
            if (lengths[s] != 0) symbols[offset[lengths[s]]++] = static_cast<uint16_t>(s);
        }
        // The fast table, from each symbol's canonical code read bit-reversed.
        uint32_t code = 0;
        int index = 0;
        for (int length = 1; length <= kFastBits; ++length) {
            for (int k = 0; k < count[length]; ++k, ++code, ++index) {
                uint32_t reversed = 0;
                for (int b = 0; b < length; ++b)
                    reversed |= ((code >> b) & 1) << (length - 1 - b);
                const auto entry = static_cast<uint16_t>((symbols[index] << 4) | length);
                for (uint32_t slot = reversed; slot < (1u << kFastBits); slot += 1u << length)
                    fast[slot] = entry;
            }
            code <<= 1;
        }
        if (longest == 0) return Shape::empty;
        if (left == 0) return Shape::complete;
        return longest == 1 ? Shape::single : Shape::invalid;
    }

    // The next symbol, or -1 for a codeword the code does not hold, after
    // refill() (past the data's end it reads zero bits: see overrun()).
    int decode(BitReader& in) const {
        const uint16_t entry = fast[in.peek(kFastBits)];
        if (entry != 0) {
            in.drop(entry & 15);
            return entry >> 4;
        }
        // Bit by bit, in canonical order.
        int code = 0, first = 0, index = 0;
        for (int length = 1; length <= kMaxCodeLength; ++length) {
            code |= static_cast<int>(in.take(1));
            const int n = count[length];
            if (code - n < first) return symbols[index + (code - first)];
            index += n;
            first = (first + n) << 1;
            code <<= 1;
        }
        return -1;
    }
};

struct FixedCodes {
    Code literalLength, distance;
    FixedCodes() {
        uint8_t lengths[kFixedLiteralLengthSymbols];
        std::memset(lengths, 8, 144);
        std::memset(lengths + 144, 9, 112);
        std::memset(lengths + 256, 7, 24);
        std::memset(lengths + 280, 8, 8);
        literalLength.build(lengths, kFixedLiteralLengthSymbols);
        std::memset(lengths, 5, kFixedDistanceSymbols);
        distance.build(lengths, kFixedDistanceSymbols);
    }
};

// The symbols of one block up to its end-of-block code.
bool readSymbols(BitReader& in, const Code& literalLength, const Code& distance) {
    for (;;) {
        in.refill();
        const int symbol = literalLength.decode(in);
        if (in.overrun() || symbol < 0 || symbol >= kLiteralLengthSymbols) return false; // 286, 287 reserved
        if (symbol < kEndOfBlock) continue;
        if (symbol == kEndOfBlock) return true;
        in.drop(kLengthExtra[symbol - 257]);
        const int code = distance.decode(in);
        if (code < 0 || code >= kDistanceSymbols) return false; // 30 and 31 are reserved
        in.drop(kDistanceExtra[code]);
        if (in.overrun()) return false;
    }
}

bool readDynamicBlock(BitReader& in, Code& literalLength, Code& distance) {
    uint32_t literals = 0, distances = 0, codeLengths = 0;
    if (!in.read(5, literals) || !in.read(5, distances) || !in.read(4, codeLengths)) return false;
    const int nLiterals = static_cast<int>(literals) + 257, nDistances = static_cast<int>(distances) + 1;
    if (nLiterals > kLiteralLengthSymbols || nDistances > kDistanceSymbols) return false;
    uint8_t lengths[kFixedLiteralLengthSymbols + kFixedDistanceSymbols] = {};
    for (uint32_t i = 0; i < codeLengths + 4; ++i) {
        uint32_t length = 0;
        if (!in.read(3, length)) return false;
        lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(length);
    }
    Code lengthCode;
    if (lengthCode.build(lengths, kCodeLengthSymbols) != Code::Shape::complete) return false;
    std::memset(lengths, 0, sizeof lengths);
    const int total = nLiterals + nDistances;
    for (int i = 0; i < total;) {
        in.refill();
        const int symbol = lengthCode.decode(in);
        if (in.overrun() || symbol < 0) return false;
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint32_t repeat = 0;
        uint8_t value = 0;
        if (symbol == 16) {
            if (i == 0 || !in.read(2, repeat)) return false;
            value = lengths[i - 1];
            repeat += 3;
        } else if (symbol == 17) {
            if (!in.read(3, repeat)) return false;
            repeat += 3;
        } else {
            if (!in.read(7, repeat)) return false;
            repeat += 11;
        }
        if (repeat > static_cast<uint32_t>(total - i)) return false;
        std::memset(lengths + i, value, repeat);
        i += static_cast<int>(repeat);
    }
    if (lengths[kEndOfBlock] == 0) return false;
    const Code::Shape literalShape = literalLength.build(lengths, nLiterals);
    const Code::Shape distanceShape = distance.build(lengths + nLiterals, nDistances);
    return (literalShape == Code::Shape::complete || literalShape == Code::Shape::single) &&
           distanceShape != Code::Shape::invalid;
}

} // namespace

bool conformingDeflate(std::string_view data) {
    static const FixedCodes fixed;
    Code literalLength, distance;
    BitReader in(data);
    for (;;) {
        uint32_t final = 0, type = 0;
        if (!in.read(1, final) || !in.read(2, type)) return false;
        if (type == 0) {
            in.alignToByte();
            uint32_t length = 0, complement = 0;
            if (!in.read(16, length) || !in.read(16, complement)) return false;
            if ((length ^ 0xFFFF) != complement || !in.skipBytes(length)) return false;
        } else if (type == 1) {
            if (!readSymbols(in, fixed.literalLength, fixed.distance)) return false;
        } else if (type == 2) {
            if (!readDynamicBlock(in, literalLength, distance) || !readSymbols(in, literalLength, distance))
                return false;
        } else {
            return false;
        }
        if (final) return true;
    }
}

} // namespace mivora::image
