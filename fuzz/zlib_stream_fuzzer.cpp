// The zlib streams we write: whatever the bytes and however they are cut into
// pieces, a standard inflater (with its Adler-32 check) must give them back
// exactly. The input is repeated to reach long matches and windows beyond
// 32 KiB, which short fuzz inputs alone never do.
#include "platform/image/zlib_stream.h"

#include <algorithm>
#include <cstdint>
#include <libdeflate.h>
#include <span>
#include <vector>

namespace {

struct DecompressorOwner {
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    ~DecompressorOwner() { libdeflate_free_decompressor(decompressor); }
};

void expectInflatesTo(const std::string& stream, const std::vector<uint8_t>& original) {
    static DecompressorOwner owner;
    std::vector<uint8_t> inflated(original.size() + 1);
    size_t length = 0;
    const auto result = libdeflate_zlib_decompress(owner.decompressor, stream.data(), stream.size(),
                                                   inflated.data(), inflated.size(), &length);
    if (result != LIBDEFLATE_SUCCESS || length != original.size() ||
        !std::equal(original.begin(), original.end(), inflated.begin())) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace mivora::image;
    if (size < 2) return 0;
    const size_t pieces = 1 + data[0] % 8;
    const size_t repeats = 1 + data[1] % 64;
    data += 2;
    size -= 2;
    std::vector<uint8_t> whole;
    whole.reserve(size * repeats);
    for (size_t i = 0; i < repeats; ++i)
        whole.insert(whole.end(), data, data + size);

    expectInflatesTo(zlibCompress(whole.data(), whole.size()), whole);
    // Uneven cuts, empty pieces among them, made in the scratch buffer like a
    // caller that builds each piece as it is asked for.
    const std::string joined = zlibCompressPieces(pieces, [&](size_t piece, std::vector<uint8_t>& scratch) {
        const size_t from = whole.size() * piece * piece / (pieces * pieces);
        const size_t to = whole.size() * (piece + 1) * (piece + 1) / (pieces * pieces);
        scratch.assign(whole.begin() + static_cast<std::ptrdiff_t>(from),
                       whole.begin() + static_cast<std::ptrdiff_t>(to));
        return std::span<const uint8_t>(scratch);
    });
    expectInflatesTo(joined, whole);

    // Code lengths for frequencies taken from the bytes: within the limit, and
    // a complete code (the Kraft sum is exactly one).
    std::vector<uint32_t> frequencies(std::min<size_t>(size, 286));
    size_t used = 0;
    for (size_t i = 0; i < frequencies.size(); ++i) {
        frequencies[i] = data[i] < 128 ? 0 : (1u << (data[i] % 24)) + data[i];
        used += frequencies[i] > 0;
    }
    if (used >= 2) {
        for (const int limit : {7, 15}) {
            if ((1u << limit) < used) continue;
            const std::vector<uint8_t> lengths = huffmanCodeLengths(frequencies, limit);
            uint64_t kraft = 0;
            for (size_t i = 0; i < lengths.size(); ++i) {
                if ((frequencies[i] > 0) != (lengths[i] > 0) || lengths[i] > limit) __builtin_trap();
                if (lengths[i] > 0) kraft += uint64_t{1} << (limit - lengths[i]);
            }
            if (kraft != (uint64_t{1} << limit)) __builtin_trap();
        }
    }
    return 0;
}
