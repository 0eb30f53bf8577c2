#include "platform/image/png_direct.h"

#include "platform/image/byte_order.h"
#include "platform/image/deflate_conformance.h"
#include "platform/image/pixel_format.h"

#include <cstdlib>
#include <cstring>
#include <libdeflate.h>
#include <new>
#include <string>
#include <sys/mman.h>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mivora::image {

namespace {

// The size of a transparent huge page.
constexpr size_t kHugePage = size_t{2} << 20;

// Memory of a MiB or more, written once from start to end: in huge pages where
// the kernel grants them (a fresh 4 KiB page costs a fault, which costs more than
// inflating into it). A last stretch of at least half a huge page gets a whole
// one (one fault instead of 256 or more), a shorter one ordinary pages; nothing
// when mapping fails.
uint8_t* mapHugePages(size_t size, size_t& mapped) {
    size_t length = (size + 4095) / 4096 * 4096;
    if (length % kHugePage >= kHugePage / 2) length = (length / kHugePage + 1) * kHugePage;
    void* region =
        ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) return nullptr;
    // Aligned to a huge page, the slop on both sides handed back.
    const auto start = reinterpret_cast<uintptr_t>(region);
    const uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > start) ::munmap(region, aligned - start);
    const size_t after = start + kHugePage - aligned;
    if (after > 0) ::munmap(reinterpret_cast<void*>(aligned + length), after);
    ::madvise(reinterpret_cast<void*>(aligned), length / kHugePage * kHugePage, MADV_HUGEPAGE);
    mapped = length;
    return reinterpret_cast<uint8_t*>(aligned);
}

} // namespace

InflateBuffer::~InflateBuffer() {
    release();
}

void InflateBuffer::release() {
    if (mapped_ > 0) {
        ::munmap(bytes_, mapped_);
    } else {
        delete[] bytes_;
    }
    bytes_ = nullptr;
    capacity_ = mapped_ = 0;
}

uint8_t* InflateBuffer::reserve(size_t size) {
    if (size > capacity_) {
        release();
        // Left uninitialised: inflating writes every byte that is read back.
        if (size >= kHugePage / 2) bytes_ = mapHugePages(size, mapped_);
        if (bytes_ == nullptr) bytes_ = new (std::nothrow) uint8_t[size];
        capacity_ = bytes_ ? size : 0;
    }
    return bytes_;
}

namespace {

constexpr std::string_view kSignature("\x89PNG\r\n\x1a\n", 8);
constexpr uint32_t kMaxChunkLength = 0x7fffffff;

bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Ancillary chunks that libpng applies to the pixels it hands out (or may, in
// a later version): a file with one of them before its data is decoded by libpng.
bool changesPixels(std::string_view type) {
    for (std::string_view known : {"gAMA", "cHRM", "sRGB", "iCCP", "sBIT", "tRNS", "bKGD", "hIST", "cICP",
                                   "mDCv", "cLLi", "mDCV", "cLLI"}) {
        if (type == known) return true;
    }
    return false;
}

int channelCount(uint8_t colourType) {
    switch (colourType) {
    case 0:
        return 1; // grey
    case 2:
        return 3; // RGB
    case 3:
        return 1; // palette
    case 4:
        return 2; // grey and alpha
    case 6:
        return 4; // RGBA
    default:
        return 0;
    }
}

bool validBitDepth(uint8_t colourType, uint8_t depth) {
    switch (colourType) {
    case 0:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
        return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
        return depth == 8 || depth == 16;
    default:
        return false;
    }
}

struct Layout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t bitDepth = 0;
    uint8_t colourType = 0;
    uint8_t interlace = 0;
    std::vector<std::string_view> data; // the IDAT chunks' data, in order
    bool changesPixels = false;         // a chunk before the data that libpng applies to the pixels

    int bitsPerPixel() const { return channelCount(colourType) * bitDepth; }
};

// The chunk walk: nothing when the file is not one this reader judges whole.
std::optional<Layout> readLayout(std::string_view bytes) {
    if (bytes.substr(0, kSignature.size()) != kSignature) return std::nullopt;
    Layout layout;
    size_t position = kSignature.size();
    bool header = false, dataEnded = false;
    for (;;) {
        if (bytes.size() - position < 12) return std::nullopt;
        const uint32_t length = bigEndian32(bytes.data() + position);
        if (length > kMaxChunkLength || length > bytes.size() - position - 12) return std::nullopt;
        const std::string_view type = bytes.substr(position + 4, 4);
        for (char c : type) {
            if (!isLetter(c)) return std::nullopt;
        }
        const std::string_view data = bytes.substr(position + 8, length);
        const uint32_t crc = bigEndian32(bytes.data() + position + 8 + length);
        if (libdeflate_crc32(0, bytes.data() + position + 4, length + 4) != crc) return std::nullopt;
        position += 12 + static_cast<size_t>(length);

        if (!header) {
            if (type != "IHDR" || length != 13) return std::nullopt;
            layout.width = bigEndian32(data.data());
            layout.height = bigEndian32(data.data() + 4);
            layout.bitDepth = static_cast<uint8_t>(data[8]);
            layout.colourType = static_cast<uint8_t>(data[9]);
            layout.interlace = static_cast<uint8_t>(data[12]);
            if (layout.width < 1 || layout.height < 1 || !validBitDepth(layout.colourType, layout.bitDepth) ||
                data[10] != 0 || data[11] != 0 || layout.interlace > 1) {
                return std::nullopt;
            }
            // The caps, and a file far too small for its pixels, are libpng's side to report.
            if (imageSizeProblem(layout.width, layout.height) ||
                bytes.size() < static_cast<unsigned long long>(layout.width) * layout.height / 16384) {
                return std::nullopt;
            }
            header = true;
            continue;
        }
        if (type == "IDAT") {
            if (dataEnded) return std::nullopt;
            layout.data.push_back(data);
            continue;
        }
        if (!layout.data.empty()) dataEnded = true;
        if (type == "IEND") {
            if (!dataEnded || length != 0 || position != bytes.size()) return std::nullopt;
            return layout;
        }
        // A critical chunk (a second IHDR, a palette, one no reader knows) is libpng's to judge.
        if (type[0] >= 'A' && type[0] <= 'Z') return std::nullopt;
        if (!dataEnded && changesPixels(type)) layout.changesPixels = true;
    }
}

// Calls visit(rows, rowBytes) for each pass of the image data: one pass, or
// the seven of Adam7 interlacing (empty passes hold no rows at all).
template <typename Visit> void forEachPass(const Layout& layout, Visit visit) {
    struct Pass {
        uint32_t x0, y0, dx, dy;
    };
    static constexpr Pass kWhole[] = {{0, 0, 1, 1}};
    static constexpr Pass kAdam7[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                      {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    const int bits = layout.bitsPerPixel();
    auto run = [&](const Pass& pass) {
        if (layout.width <= pass.x0 || layout.height <= pass.y0) return;
        const uint64_t columns = (layout.width - pass.x0 + pass.dx - 1) / pass.dx;
        const uint64_t rows = (layout.height - pass.y0 + pass.dy - 1) / pass.dy;
        visit(rows, static_cast<size_t>((columns * bits + 7) / 8));
    };
    if (layout.interlace) {
        for (const Pass& pass : kAdam7)
            run(pass);
    } else {
        run(kWhole[0]);
    }
}

size_t filteredSize(const Layout& layout) {
    size_t size = 0;
    forEachPass(layout, [&](uint64_t rows, size_t rowBytes) { size += rows * (rowBytes + 1); });
    return size;
}

struct DecompressorOwner {
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    ~DecompressorOwner() { libdeflate_free_decompressor(decompressor); }
};

// The image data as one zlib stream: the data of the only IDAT chunk, or of
// all of them joined in `joined`.
std::string_view imageData(const Layout& layout, std::string& joined) {
    if (layout.data.size() == 1) return layout.data.front();
    for (std::string_view piece : layout.data)
        joined.append(piece);
    return joined;
}

// A stream whose header declares a window smaller than 32 KiB is left to
// libpng: zlib holds its distances to that window, libdeflate does not.
bool declaresWholeWindow(std::string_view stream) {
    return !stream.empty() && (static_cast<unsigned char>(stream[0]) >> 4) == 7;
}

// Inflates the zlib stream into exactly `size` bytes at `out`: it must end with
// its checksum at the end of the image data and give neither more nor less.
// (libdeflate also reads a few codes that the format reserves and zlib refuses;
// only a stream made to use them, checksums and all, reads differently.)
bool inflateExactly(std::string_view stream, uint8_t* out, size_t size) {
    DecompressorOwner owner;
    if (owner.decompressor == nullptr) return false;
    size_t consumed = 0, produced = 0;
    const libdeflate_result result = libdeflate_zlib_decompress_ex(
        owner.decompressor, stream.data(), stream.size(), out, size, &consumed, &produced);
    return result == LIBDEFLATE_SUCCESS && consumed == stream.size() && produced == size;
}

#if defined(__SSE2__)
// The filters whose prediction uses the pixel to the left run one pixel at a
// time, its bytes side by side in 16-bit lanes: four bytes of work for the
// latency of one.
template <size_t kBytesPerPixel> struct PixelLanes {
    // The pixel's first byte in the lowest lane: assembled byte by byte, so
    // that it holds on a machine of either order.
    static __m128i load(const uint8_t* bytes) {
        uint32_t value = 0;
        for (size_t i = 0; i < kBytesPerPixel; ++i)
            value |= uint32_t{bytes[i]} << (8 * i);
        return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(value)), _mm_setzero_si128());
    }
    // Keeps the low byte of each lane (the sums wrap, as the filters define).
    static void store(uint8_t* bytes, __m128i lanes) {
        const __m128i low = _mm_and_si128(lanes, _mm_set1_epi16(0xFF));
        const auto value = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(low, low)));
        for (size_t i = 0; i < kBytesPerPixel; ++i)
            bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
};

inline __m128i absolute16(__m128i value) {
    return _mm_max_epi16(value, _mm_sub_epi16(_mm_setzero_si128(), value));
}

template <size_t kBytesPerPixel>
void unfilterWithLeft(uint8_t type, const uint8_t* in, const uint8_t* previous, uint8_t* out, size_t length) {
    using Lanes = PixelLanes<kBytesPerPixel>;
    const __m128i byteMask = _mm_set1_epi16(0xFF);
    __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
    for (size_t i = 0; i < length; i += kBytesPerPixel) {
        const __m128i x = Lanes::load(in + i);
        if (type == 1) {
            a = _mm_and_si128(_mm_add_epi16(x, a), byteMask);
        } else if (type == 3) {
            const __m128i b = Lanes::load(previous + i);
            a = _mm_and_si128(_mm_add_epi16(x, _mm_srli_epi16(_mm_add_epi16(a, b), 1)), byteMask);
        } else {
            const __m128i b = Lanes::load(previous + i);
            const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
            const __m128i pa = absolute16(bc), pb = absolute16(ac), pc = absolute16(_mm_add_epi16(bc, ac));
            // a when pa <= pb and pa <= pc; else b when pb <= pc; else c.
            const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
            const __m128i notB = _mm_cmpgt_epi16(pb, pc);
            const __m128i bOrC = _mm_or_si128(_mm_and_si128(notB, c), _mm_andnot_si128(notB, b));
            const __m128i predicted = _mm_or_si128(_mm_and_si128(notA, bOrC), _mm_andnot_si128(notA, a));
            a = _mm_and_si128(_mm_add_epi16(x, predicted), byteMask);
            c = b;
        }
        Lanes::store(out + i, a);
    }
}
#endif

inline uint8_t paeth(uint8_t a, uint8_t b, uint8_t c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Reverses one row's filter into `out` byte by byte, as any machine can;
// `previous` is the row above, already reversed (zeros above the first row).
// False for an unknown filter type.
template <size_t kBytesPerPixel>
bool unfilterRowPortably(uint8_t type, const uint8_t* in, const uint8_t* previous, uint8_t* out,
                         size_t length) {
    constexpr size_t bpp = kBytesPerPixel;
    switch (type) {
    case 0:
        std::memcpy(out, in, length);
        return true;
    case 1:
        for (size_t i = 0; i < bpp; ++i)
            out[i] = in[i];
        for (size_t i = bpp; i < length; ++i)
            out[i] = static_cast<uint8_t>(in[i] + out[i - bpp]);
        return true;
    case 2:
        for (size_t i = 0; i < length; ++i)
            out[i] = static_cast<uint8_t>(in[i] + previous[i]);
        return true;
    case 3:
        for (size_t i = 0; i < bpp; ++i)
            out[i] = static_cast<uint8_t>(in[i] + (previous[i] >> 1));
        for (size_t i = bpp; i < length; ++i)
            out[i] = static_cast<uint8_t>(in[i] + ((out[i - bpp] + previous[i]) >> 1));
        return true;
    case 4:
        for (size_t i = 0; i < bpp; ++i)
            out[i] = static_cast<uint8_t>(in[i] + previous[i]);
        for (size_t i = bpp; i < length; ++i)
            out[i] = static_cast<uint8_t>(in[i] + paeth(out[i - bpp], previous[i], previous[i - bpp]));
        return true;
    default:
        return false;
    }
}

// The same in SSE2 lanes where the machine has them, unless told otherwise.
template <size_t kBytesPerPixel>
bool unfilterRow(uint8_t type, const uint8_t* in, const uint8_t* previous, uint8_t* out, size_t length,
                 Unfiltering unfiltering) {
#if defined(__SSE2__)
    if (unfiltering == Unfiltering::fastest) {
        switch (type) {
        case 2: {
            size_t i = 0;
            for (; i + 16 <= length; i += 16) {
                const __m128i sum =
                    _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(previous + i)));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), sum);
            }
            for (; i < length; ++i)
                out[i] = static_cast<uint8_t>(in[i] + previous[i]);
            return true;
        }
        case 1:
        case 3:
        case 4:
            unfilterWithLeft<kBytesPerPixel>(type, in, previous, out, length);
            return true;
        default:
            break;
        }
    }
#else
    (void)unfiltering;
#endif
    return unfilterRowPortably<kBytesPerPixel>(type, in, previous, out, length);
}

// Unfilters the rows straight into the bitmap's own memory: the filtered data
// is inflated into the tail of the pixel buffer, and each row is reversed into
// a small row buffer before its bitmap row (which never reaches the filtered
// rows still to come) is written.
template <size_t kBytesPerPixel>
std::optional<Bitmap> decodeRows(const Layout& layout, Unfiltering unfiltering) {
    const size_t width = layout.width, height = layout.height;
    const size_t rowBytes = width * kBytesPerPixel;
    const size_t filtered = height * (rowBytes + 1);
    const size_t pixelBytes = width * height * 4;
    Bitmap bitmap;
    bitmap.width = static_cast<int>(width);
    bitmap.height = static_cast<int>(height);
    try {
        bitmap.pixels.resize(std::max(filtered, pixelBytes));
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    uint8_t* const base = bitmap.pixels.data();
    uint8_t* const source = base + (bitmap.pixels.size() - filtered);
    std::string joined;
    const std::string_view stream = imageData(layout, joined);
    if (!declaresWholeWindow(stream) || !inflateExactly(stream, source, filtered)) return std::nullopt;
    std::vector<uint8_t> rows(rowBytes * 2, 0);
    uint8_t* previous = rows.data();
    uint8_t* current = rows.data() + rowBytes;
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* in = source + y * (rowBytes + 1);
        if (!unfilterRow<kBytesPerPixel>(in[0], in + 1, previous, current, rowBytes, unfiltering))
            return std::nullopt;
        uint8_t* out = base + y * width * 4;
        if constexpr (kBytesPerPixel == 4) {
            std::memcpy(out, current, rowBytes);
            premultiplyRGBA(out, width);
        } else {
            for (size_t x = 0; x < width; ++x) {
                out[x * 4] = current[x * 3];
                out[x * 4 + 1] = current[x * 3 + 1];
                out[x * 4 + 2] = current[x * 3 + 2];
                out[x * 4 + 3] = 255;
            }
        }
        std::swap(previous, current);
    }
    bitmap.pixels.resize(pixelBytes);
    return bitmap;
}

} // namespace

DirectVerdict directlyCheckedWhole(std::string_view bytes, InflateBuffer& buffer) {
    const std::optional<Layout> layout = readLayout(bytes);
    if (!layout || layout->colourType == 3) return DirectVerdict::notMine;
    std::string joined;
    const std::string_view stream = imageData(*layout, joined);
    if (!declaresWholeWindow(stream)) return DirectVerdict::notMine;
    const size_t size = filteredSize(*layout);
    uint8_t* const out = buffer.reserve(size);
    if (out == nullptr) return DirectVerdict::notMine;
    // What libdeflate refuses, zlib refuses too; what it reads, zlib may still refuse.
    if (!inflateExactly(stream, out, size)) return DirectVerdict::notWhole;
    bool filtersValid = true;
    size_t offset = 0;
    forEachPass(*layout, [&](uint64_t rows, size_t rowBytes) {
        for (uint64_t row = 0; row < rows; ++row, offset += rowBytes + 1)
            filtersValid = filtersValid && out[offset] <= 4;
    });
    return filtersValid && conformingDeflate(stream.substr(2)) ? DirectVerdict::whole
                                                               : DirectVerdict::notWhole;
}

std::optional<Bitmap> directlyDecodedPNG(std::string_view bytes, Unfiltering unfiltering) {
    const std::optional<Layout> layout = readLayout(bytes);
    if (!layout || layout->interlace != 0 || layout->bitDepth != 8 || layout->changesPixels)
        return std::nullopt;
    if (layout->colourType == 6) return decodeRows<4>(*layout, unfiltering);
    if (layout->colourType == 2) return decodeRows<3>(*layout, unfiltering);
    return std::nullopt;
}

} // namespace mivora::image
