// Several bytes read as one word, for code that compares or hashes bytes a
// word at a time and must do so alike on little- and big-endian machines. Each
// takes the machine's order as a parameter (the real one by default), so that
// tests can run the other order's arithmetic on this machine.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mivora::image {

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big,
              "the image code knows little- and big-endian machines only");

template <typename Word> constexpr Word reversedBytes(Word word) {
    if constexpr (sizeof(Word) == 8) {
        return __builtin_bswap64(word);
    } else {
        static_assert(sizeof(Word) == 4);
        return __builtin_bswap32(word);
    }
}

// The four bytes at `bytes` as the big-endian number file formats store (PNG
// chunk lengths, ICNS member lengths), on a machine of either order.
inline uint32_t bigEndian32(const char* bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

// The word a machine of order `kOrder` loads from `bytes` (on this machine,
// the other order's load is a load and a byte swap).
template <typename Word, std::endian kOrder = std::endian::native>
inline Word machineWord(const uint8_t* bytes) {
    Word word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (kOrder != std::endian::native) word = reversedBytes(word);
    return word;
}

// The word whose least significant byte is bytes[0], on a machine of either order.
template <typename Word, std::endian kOrder = std::endian::native>
inline Word littleEndianWord(const uint8_t* bytes) {
    const Word word = machineWord<Word, kOrder>(bytes);
    if constexpr (kOrder == std::endian::big) return reversedBytes(word);
    return word;
}

// The index of the first byte in which two machine words (loaded by
// machineWord of the same order) differ; `difference` is their XOR, not 0.
template <std::endian kOrder = std::endian::native> inline size_t firstDifferingByte(uint64_t difference) {
    if constexpr (kOrder == std::endian::little) {
        return static_cast<size_t>(std::countr_zero(difference)) / 8;
    } else {
        return static_cast<size_t>(std::countl_zero(difference)) / 8;
    }
}

// How far the bytes at `a` and `b` agree, up to `limit`, eight bytes at a time.
template <std::endian kOrder = std::endian::native>
inline size_t commonPrefixLength(const uint8_t* a, const uint8_t* b, size_t limit) {
    size_t n = 0;
    while (n + 8 <= limit) {
        const uint64_t difference =
            machineWord<uint64_t, kOrder>(a + n) ^ machineWord<uint64_t, kOrder>(b + n);
        if (difference != 0) return n + firstDifferingByte<kOrder>(difference);
        n += 8;
    }
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

} // namespace mivora::image
