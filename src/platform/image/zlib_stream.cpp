#include "platform/image/zlib_stream.h"

#include "platform/image/byte_order.h"
#include "platform/image/deflate_format.h"
#include "platform/image/image.h"
#include "platform/parallel_work.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <libdeflate.h>
#include <memory>
#include <new>
#include <vector>

namespace mivora::image {

namespace {

using namespace deflate;

// Pieces of this many input bytes are compressed side by side. Each starts
// with an empty window: at this size that costs well under a percent.
constexpr size_t kPieceBytes = 256 * 1024;
// A thread of its own is worth starting only for this many pieces (4 MiB of
// input). Measured on the 8-core machine of the benchmarks: a 1024 x 1024 icon
// (4 MiB of rows) is filtered and compressed in 2.4 ms on one thread, while a
// thread costs 70-120 us to start and join and its fresh pages about 0.7 ms
// more (a page fault there costs 15 us); with other work on the machine the
// same icon took 4.9 ms on 2 threads, 6.1 ms on 4 and 9.6 ms on 8. So a
// 1024-pixel icon is compressed on one thread, and only larger images are spread.
constexpr size_t kPiecesPerThread = 16;
// Symbols per block: one set of Huffman codes over this many keeps up with
// the changes within a picture without paying for a header too often.
constexpr size_t kBlockSymbols = 32 * 1024;

constexpr size_t kWindow = 32768;
constexpr size_t kMinMatch = 4;
constexpr size_t kMaxMatch = 258;
// Matches up to this long have every position they cover entered in the hash
// table; a longer one (a run) only its last few, which is where the next
// match is found.
constexpr size_t kInsertWholeMatchUpTo = 16;
constexpr int kHashBits = 15;
// Candidates tried per position, and a match long enough to stop looking.
constexpr int kSearchDepth = 8;
constexpr size_t kNiceLength = kMaxMatch;

// A length's code (0 to 28, for symbols 257 to 285).
inline unsigned lengthCode(unsigned length) {
    if (length == kMaxMatch) return 28;
    const unsigned l = length - 3;
    if (l < 8) return l;
    const unsigned n = static_cast<unsigned>(std::bit_width(l)) - 1;
    return 4 * (n - 1) + ((l >> (n - 2)) & 3);
}

// A distance's code (0 to 29).
inline unsigned distanceCode(unsigned distance) {
    const unsigned d = distance - 1;
    if (d < 4) return d;
    const unsigned n = static_cast<unsigned>(std::bit_width(d)) - 1;
    return 2 * n + ((d >> (n - 1)) & 1);
}

// The hash of the four bytes at `p`, the same on a machine of either order.
template <std::endian kOrder> inline uint32_t hash4(const uint8_t* p) {
    return (littleEndianWord<uint32_t, kOrder>(p) * 0x9E3779B1u) >> (32 - kHashBits);
}

// One LZ77 item: a literal byte, or a match (length, distance).
struct Item {
    uint16_t length = 0; // 0: a literal
    uint16_t value = 0;  // the literal byte, or the distance
};

// Greedy LZ77 over one piece, through hash chains of a few candidates;
// nothing before the piece is referred to, so pieces are independent.
template <std::endian kOrder> void findMatches(const uint8_t* data, size_t size, std::vector<Item>& items) {
    std::unique_ptr<uint32_t[]> head(new uint32_t[size_t{1} << kHashBits]());
    // The chain: for each position in the window, how far back the previous
    // one with the same hash lies (0: none within the window).
    std::unique_ptr<uint16_t[]> chain(new uint16_t[kWindow]);
    // Positions are kept one up in the table, so that 0 is no position.
    auto insert = [&](size_t position) {
        uint32_t& slot = head[hash4<kOrder>(data + position)];
        const size_t back = slot == 0 ? 0 : position + 1 - slot;
        chain[position % kWindow] = static_cast<uint16_t>(back < kWindow ? back : 0);
        slot = static_cast<uint32_t>(position + 1);
    };
    const size_t last = size >= kMinMatch ? size - kMinMatch : 0;
    size_t p = 0;
    while (p < size) {
        size_t bestLength = 0, bestDistance = 0;
        if (size - p >= kMinMatch) {
            const size_t limit = std::min(kMaxMatch, size - p);
            uint32_t candidate = head[hash4<kOrder>(data + p)];
            for (int depth = 0; candidate != 0 && depth < kSearchDepth; ++depth) {
                const size_t from = candidate - 1;
                if (p - from > kWindow) break;
                if (machineWord<uint32_t, kOrder>(data + from) == machineWord<uint32_t, kOrder>(data + p)) {
                    const size_t length = commonPrefixLength<kOrder>(data + from, data + p, limit);
                    if (length > bestLength) {
                        bestLength = length;
                        bestDistance = p - from;
                        if (length >= kNiceLength) break;
                    }
                }
                const uint16_t back = chain[from % kWindow];
                candidate = back == 0 ? 0 : static_cast<uint32_t>(candidate - back);
            }
            insert(p);
        }
        if (bestLength >= kMinMatch) {
            items.push_back({static_cast<uint16_t>(bestLength), static_cast<uint16_t>(bestDistance)});
            const size_t end = p + bestLength;
            size_t q = bestLength <= kInsertWholeMatchUpTo ? p + 1 : end - 3;
            for (; q < end && q <= last; ++q)
                insert(q);
            p = end;
            continue;
        }
        items.push_back({0, data[p]});
        ++p;
    }
}

// Huffman code lengths for `count` symbols with these frequencies, none longer
// than `limit`; symbols of frequency 0 get length 0. At least two symbols must
// have a frequency.
void buildLengths(const uint32_t* frequencies, int count, int limit, uint8_t* lengths) {
    std::fill(lengths, lengths + count, uint8_t{0});
    std::vector<int> symbols;
    for (int s = 0; s < count; ++s) {
        if (frequencies[s] > 0) symbols.push_back(s);
    }
    std::stable_sort(symbols.begin(), symbols.end(),
                     [&](int a, int b) { return frequencies[a] < frequencies[b]; });
    const size_t leaves = symbols.size();
    // Two-queue Huffman construction over the sorted leaves: nodes 0 .. leaves-1
    // are the leaves, the rest internal, each with its parent.
    std::vector<uint64_t> weight(2 * leaves);
    std::vector<size_t> parent(2 * leaves, 0);
    for (size_t i = 0; i < leaves; ++i)
        weight[i] = frequencies[symbols[i]];
    size_t nextLeaf = 0, nextInternal = leaves, made = leaves;
    auto takeSmallest = [&]() {
        if (nextLeaf < leaves && (nextInternal >= made || weight[nextLeaf] <= weight[nextInternal]))
            return nextLeaf++;
        return nextInternal++;
    };
    while (made < 2 * leaves - 1) {
        const size_t a = takeSmallest(), b = takeSmallest();
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = made;
        ++made;
    }
    // Depths from the root down (a parent always comes after its children).
    std::vector<int> depth(2 * leaves, 0);
    const size_t root = 2 * leaves - 2;
    std::vector<int> perLength(std::max<size_t>(leaves, static_cast<size_t>(limit)) + 2, 0);
    for (size_t node = root; node-- > 0;)
        depth[node] = depth[parent[node]] + 1;
    int deepest = 0;
    for (size_t i = 0; i < leaves; ++i) {
        ++perLength[depth[i]];
        deepest = std::max(deepest, depth[i]);
    }
    // Too deep: move leaves up, keeping the code complete (the classic
    // adjustment of JPEG's Annex K.3).
    for (int i = deepest; i > limit; --i) {
        while (perLength[i] > 0) {
            int j = i - 2;
            while (perLength[j] == 0)
                --j;
            perLength[i] -= 2;
            perLength[i - 1] += 1;
            perLength[j + 1] += 2;
            perLength[j] -= 1;
        }
    }
    // The least frequent symbols take the longest codes.
    size_t next = 0;
    for (int length = std::min(deepest, limit); length >= 1; --length) {
        for (int k = 0; k < perLength[length]; ++k)
            lengths[symbols[next++]] = static_cast<uint8_t>(length);
    }
}

// Canonical codes for the lengths, bit-reversed for a writer that sends the
// least significant bit first.
void buildCodes(const uint8_t* lengths, int count, uint16_t* codes) {
    uint16_t perLength[16] = {};
    for (int s = 0; s < count; ++s)
        ++perLength[lengths[s]];
    perLength[0] = 0;
    uint16_t next[16] = {};
    uint16_t code = 0;
    for (int length = 1; length < 16; ++length) {
        code = static_cast<uint16_t>((code + perLength[length - 1]) << 1);
        next[length] = code;
    }
    for (int s = 0; s < count; ++s) {
        const int length = lengths[s];
        if (length == 0) {
            codes[s] = 0;
            continue;
        }
        uint16_t value = next[length]++;
        uint16_t reversed = 0;
        for (int b = 0; b < length; ++b) {
            reversed = static_cast<uint16_t>((reversed << 1) | (value & 1));
            value = static_cast<uint16_t>(value >> 1);
        }
        codes[s] = reversed;
    }
}

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void put(uint32_t value, int count) {
        bits_ |= static_cast<uint64_t>(value) << count_;
        count_ += count;
        if (count_ >= 32) {
            const size_t at = out_.size();
            out_.resize(at + 4);
            const uint32_t word = static_cast<uint32_t>(bits_);
            for (int i = 0; i < 4; ++i)
                out_[at + i] = static_cast<uint8_t>(word >> (8 * i));
            bits_ >>= 32;
            count_ -= 32;
        }
    }
    void alignToByte() {
        while (count_ > 0) {
            out_.push_back(static_cast<uint8_t>(bits_));
            bits_ >>= 8;
            count_ -= 8;
        }
        bits_ = 0;
        count_ = 0;
    }
    void putBytes(const uint8_t* bytes, size_t size) { out_.insert(out_.end(), bytes, bytes + size); }

private:
    std::vector<uint8_t>& out_;
    uint64_t bits_ = 0;
    int count_ = 0;
};

// One block with its own Huffman codes ("dynamic" in the format's terms).
void writeDynamicBlock(BitWriter& writer, const Item* items, size_t count, bool final) {
    uint32_t literalFrequency[kLiteralLengthSymbols] = {};
    uint32_t distanceFrequency[kDistanceSymbols] = {};
    for (size_t i = 0; i < count; ++i) {
        if (items[i].length == 0) {
            ++literalFrequency[items[i].value];
        } else {
            ++literalFrequency[257 + lengthCode(items[i].length)];
            ++distanceFrequency[distanceCode(items[i].value)];
        }
    }
    literalFrequency[kEndOfBlock] = 1;
    // Every decoder takes a code of two symbols or more: give each set a second one.
    if (std::count_if(literalFrequency, literalFrequency + kLiteralLengthSymbols,
                      [](uint32_t f) { return f > 0; }) < 2)
        literalFrequency[0] = 1;
    for (int s = 0; std::count_if(distanceFrequency, distanceFrequency + kDistanceSymbols,
                                  [](uint32_t f) { return f > 0; }) < 2;
         ++s) {
        if (distanceFrequency[s] == 0) distanceFrequency[s] = 1;
    }

    uint8_t literalLengths[kLiteralLengthSymbols], distanceLengths[kDistanceSymbols];
    buildLengths(literalFrequency, kLiteralLengthSymbols, 15, literalLengths);
    buildLengths(distanceFrequency, kDistanceSymbols, 15, distanceLengths);
    uint16_t literalCodes[kLiteralLengthSymbols], distanceCodes[kDistanceSymbols];
    buildCodes(literalLengths, kLiteralLengthSymbols, literalCodes);
    buildCodes(distanceLengths, kDistanceSymbols, distanceCodes);

    int literalCount = kLiteralLengthSymbols;
    while (literalCount > 257 && literalLengths[literalCount - 1] == 0)
        --literalCount;
    int distanceCount = kDistanceSymbols;
    while (distanceCount > 1 && distanceLengths[distanceCount - 1] == 0)
        --distanceCount;

    // Both sets of lengths as one sequence, run-length coded with symbols 16
    // (repeat the previous length 3 to 6 times), 17 (3 to 10 zeros) and 18 (11 to 138 zeros).
    std::vector<uint8_t> all(literalLengths, literalLengths + literalCount);
    all.insert(all.end(), distanceLengths, distanceLengths + distanceCount);
    struct LengthSymbol {
        uint8_t symbol, extra;
    };
    std::vector<LengthSymbol> sequence;
    for (size_t i = 0; i < all.size();) {
        const uint8_t value = all[i];
        size_t run = 1;
        while (i + run < all.size() && all[i + run] == value)
            ++run;
        i += run;
        if (value == 0) {
            while (run >= 11) {
                const size_t r = std::min<size_t>(run, 138);
                sequence.push_back({18, static_cast<uint8_t>(r - 11)});
                run -= r;
            }
            if (run >= 3) {
                sequence.push_back({17, static_cast<uint8_t>(run - 3)});
                run = 0;
            }
        } else {
            sequence.push_back({value, 0});
            --run;
            while (run >= 3) {
                const size_t r = std::min<size_t>(run, 6);
                sequence.push_back({16, static_cast<uint8_t>(r - 3)});
                run -= r;
            }
        }
        for (; run > 0; --run)
            sequence.push_back({value, 0});
    }
    uint32_t lengthFrequency[kCodeLengthSymbols] = {};
    for (const auto& item : sequence)
        ++lengthFrequency[item.symbol];
    for (int s = 0; std::count_if(lengthFrequency, lengthFrequency + kCodeLengthSymbols,
                                  [](uint32_t f) { return f > 0; }) < 2;
         ++s) {
        if (lengthFrequency[s] == 0) lengthFrequency[s] = 1;
    }
    uint8_t lengthLengths[kCodeLengthSymbols];
    buildLengths(lengthFrequency, kCodeLengthSymbols, 7, lengthLengths);
    uint16_t lengthCodes[kCodeLengthSymbols];
    buildCodes(lengthLengths, kCodeLengthSymbols, lengthCodes);
    int lengthCount = kCodeLengthSymbols;
    while (lengthCount > 4 && lengthLengths[kCodeLengthOrder[lengthCount - 1]] == 0)
        --lengthCount;

    writer.put(final ? 1 : 0, 1);
    writer.put(2, 2); // Huffman codes of its own
    writer.put(static_cast<uint32_t>(literalCount - 257), 5);
    writer.put(static_cast<uint32_t>(distanceCount - 1), 5);
    writer.put(static_cast<uint32_t>(lengthCount - 4), 4);
    for (int i = 0; i < lengthCount; ++i)
        writer.put(lengthLengths[kCodeLengthOrder[i]], 3);
    static constexpr int kExtraBits[3] = {2, 3, 7};
    for (const auto& item : sequence) {
        writer.put(lengthCodes[item.symbol], lengthLengths[item.symbol]);
        if (item.symbol >= 16) writer.put(item.extra, kExtraBits[item.symbol - 16]);
    }
    for (size_t i = 0; i < count; ++i) {
        const Item& item = items[i];
        if (item.length == 0) {
            writer.put(literalCodes[item.value], literalLengths[item.value]);
            continue;
        }
        const unsigned lc = lengthCode(item.length), dc = distanceCode(item.value);
        writer.put(literalCodes[257 + lc], literalLengths[257 + lc]);
        writer.put(item.length - kLengthBase[lc], kLengthExtra[lc]);
        writer.put(distanceCodes[dc], distanceLengths[dc]);
        writer.put(item.value - kDistanceBase[dc], kDistanceExtra[dc]);
    }
    writer.put(literalCodes[kEndOfBlock], literalLengths[kEndOfBlock]);
}

// Stored blocks: the bytes as they are, at most 65535 to a block.
void writeStored(BitWriter& writer, const uint8_t* data, size_t size, bool final) {
    size_t offset = 0;
    do {
        const size_t length = std::min<size_t>(size - offset, 65535);
        const bool last = offset + length == size;
        writer.put(final && last ? 1 : 0, 1);
        writer.put(0, 2);
        writer.alignToByte();
        const uint8_t header[4] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                                   static_cast<uint8_t>(~length), static_cast<uint8_t>(~length >> 8)};
        writer.putBytes(header, 4);
        writer.putBytes(data + offset, length);
        offset += length;
    } while (offset < size);
}

// One piece as deflate blocks ending on a byte boundary: with the final block
// for the last piece, else with an empty stored block (a sync flush).
template <std::endian kOrder>
std::vector<uint8_t> compressPiece(const uint8_t* data, size_t size, bool last) {
    std::vector<uint8_t> out;
    std::vector<Item> items;
    items.reserve(size / 8 + 16);
    findMatches<kOrder>(data, size, items);
    out.reserve(size / 4 + 1024);
    BitWriter writer(out);
    for (size_t from = 0; from < items.size() || from == 0; from += kBlockSymbols) {
        const size_t count = std::min(kBlockSymbols, items.size() - from);
        writeDynamicBlock(writer, items.data() + from, count, last && from + count == items.size());
        if (items.empty()) break;
    }
    if (!last) writer.put(0, 3); // the empty stored block of a sync flush
    writer.alignToByte();
    if (!last) {
        const uint8_t empty[4] = {0x00, 0x00, 0xff, 0xff};
        writer.putBytes(empty, 4);
    }
    // Data that does not shrink (noise) is cheaper stored than coded.
    if (out.size() > size + 5 * (size / 65535 + 1) + 5) {
        out.clear();
        BitWriter stored(out);
        writeStored(stored, data, size, last);
        if (!last) {
            stored.put(0, 3);
            stored.alignToByte();
            const uint8_t empty[4] = {0x00, 0x00, 0xff, 0xff};
            stored.putBytes(empty, 4);
        }
    }
    return out;
}

// The Adler-32 of two pieces joined, from the checksum of each and the second's
// length (the sums of the second piece shift by the first's).
uint32_t adler32Combine(uint32_t first, uint32_t second, size_t secondLength) {
    constexpr uint32_t kBase = 65521;
    const uint32_t remainder = static_cast<uint32_t>(secondLength % kBase);
    uint32_t sum1 = first & 0xffff;
    uint32_t sum2 = static_cast<uint32_t>(uint64_t{remainder} * sum1 % kBase);
    sum1 += (second & 0xffff) + kBase - 1;
    sum2 += (first >> 16) + (second >> 16) + kBase - remainder;
    if (sum1 >= kBase) sum1 -= kBase;
    if (sum1 >= kBase) sum1 -= kBase;
    if (sum2 >= 2 * kBase) sum2 -= 2 * kBase;
    if (sum2 >= kBase) sum2 -= kBase;
    return sum1 | (sum2 << 16);
}

template <std::endian kOrder> std::string compressPieces(size_t pieces, const ZlibPieceSource& source) {
    pieces = std::max<size_t>(pieces, 1);
    std::vector<std::vector<uint8_t>> compressed(pieces);
    std::vector<uint32_t> checksums(pieces);
    std::vector<size_t> sizes(pieces);
    platform::forEachInParallel(
        pieces,
        [&](size_t piece) {
            std::vector<uint8_t> scratch;
            const std::span<const uint8_t> bytes = source(piece, scratch);
            compressed[piece] = compressPiece<kOrder>(bytes.data(), bytes.size(), piece + 1 == pieces);
            checksums[piece] = libdeflate_adler32(1, bytes.data(), bytes.size());
            sizes[piece] = bytes.size();
        },
        platform::threadsWorthStarting(pieces, kPiecesPerThread));
    uint32_t adler = checksums[0];
    for (size_t piece = 1; piece < pieces; ++piece)
        adler = adler32Combine(adler, checksums[piece], sizes[piece]);
    size_t total = 2 + 4;
    for (const auto& piece : compressed)
        total += piece.size();
    std::string stream;
    stream.reserve(total);
    stream.append("\x78\x01", 2); // deflate, 32 KiB window, no dictionary
    for (const auto& piece : compressed)
        stream.append(reinterpret_cast<const char*>(piece.data()), piece.size());
    const char check[4] = {static_cast<char>(adler >> 24), static_cast<char>(adler >> 16),
                           static_cast<char>(adler >> 8), static_cast<char>(adler)};
    stream.append(check, 4);
    return stream;
}

} // namespace

std::vector<uint8_t> huffmanCodeLengths(const std::vector<uint32_t>& frequencies, int limit) {
    std::vector<uint8_t> lengths(frequencies.size());
    buildLengths(frequencies.data(), static_cast<int>(frequencies.size()), limit, lengths.data());
    return lengths;
}

std::string zlibCompressPieces(size_t pieces, const ZlibPieceSource& source) {
    return compressPieces<std::endian::native>(pieces, source);
}

namespace {

template <std::endian kOrder> std::string compressWhole(const uint8_t* data, size_t size) {
    const size_t pieces = std::max<size_t>(1, (size + kPieceBytes - 1) / kPieceBytes);
    return compressPieces<kOrder>(pieces, [&](size_t piece, std::vector<uint8_t>&) {
        const size_t from = size * piece / pieces, to = size * (piece + 1) / pieces;
        return std::span<const uint8_t>(data + from, to - from);
    });
}

} // namespace

std::string zlibCompress(const uint8_t* data, size_t size) {
    return compressWhole<std::endian::native>(data, size);
}

std::string zlibCompressInByteOrder(std::endian order, const uint8_t* data, size_t size) {
    return order == std::endian::big ? compressWhole<std::endian::big>(data, size)
                                     : compressWhole<std::endian::little>(data, size);
}

} // namespace mivora::image
