#include "platform/image/png.h"

#include "platform/image/byte_order.h"
#include "platform/image/pixel_format.h"
#include "platform/image/zlib_stream.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <libdeflate.h>
#include <memory>
#include <new>
#include <png.h>

namespace mivora::image {

bool hasPNGSignature(std::string_view bytes) {
    return bytes.size() >= 8 && png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.data()), 0, 8) == 0;
}

namespace {

// Chunks whose data libpng may allocate (a colour profile, decompressed) get
// at most this much beyond twice the file's size: enough for any real profile,
// and no file of a few dozen bytes costs more than that.
constexpr size_t kChunkMemoryAllowance = size_t{4} << 20;

// The chunks that bear on the pixels; libpng skips every other one unread
// (text, suggested palettes, calibration, scale, ...), so that none of them can
// make it allocate what its length field announces.
constexpr png_byte kPixelChunks[] = {'b', 'K', 'G', 'D', '\0', 'c', 'H', 'R', 'M', '\0',
                                     'g', 'A', 'M', 'A', '\0', 'i', 'C', 'C', 'P', '\0',
                                     's', 'B', 'I', 'T', '\0', 's', 'R', 'G', 'B', '\0'};

// A size out of range, or one that the file is far too small to hold, is
// refused before its buffer is allocated. Deflate packs at most about 1032
// bytes into one, and a PNG row holds at least one bit per pixel.
void checkHeaderSize(uint32_t width, uint32_t height, size_t fileSize) {
    if (width < 1 || height < 1) throw ImageError("PNG of zero size");
    checkImageSize(width, height);
    if (fileSize < static_cast<unsigned long long>(width) * height / 16384) {
        throw ImageError("damaged PNG: " + std::to_string(fileSize) + " bytes cannot hold " +
                         std::to_string(width) + " x " + std::to_string(height) + " pixels");
    }
}

// The header at its place, checked before libpng sees anything.
void checkHeaderAtItsPlace(std::string_view bytes) {
    if (bytes.size() >= 8 + 8 + 13 && bigEndian32(bytes.data() + 8) == 13 && bytes.substr(12, 4) == "IHDR")
        checkHeaderSize(bigEndian32(bytes.data() + 16), bigEndian32(bytes.data() + 20), bytes.size());
}

enum class Reading {
    lenient, // as the platform reads: damage after the rows, and in chunks that only
             // describe the picture, is passed over
    strict,  // every checksum, every chunk up to an IEND that ends the file, and
             // libpng's "benign" errors as errors
};

// libpng's row interface over bytes in memory, with its limits set before the
// first chunk is read. Its errors end in a longjmp back into `run`, and
// `guarded` turns them into ImageError; nothing between the two owns a C++ object.
class LibpngReader {
public:
    LibpngReader(std::string_view bytes, Reading reading) : bytes_(bytes) {
        checkHeaderAtItsPlace(bytes);
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, onError, onWarning);
        if (png_ != nullptr) info_ = png_create_info_struct(png_);
        if (info_ == nullptr) {
            png_destroy_read_struct(&png_, nullptr, nullptr);
            throw ImageError("cannot read PNG: out of memory");
        }
        // A constructor that throws runs no destructor: the structures are freed here then.
        try {
            png_set_read_fn(png_, this, onRead);
            png_set_user_limits(png_, kMaxImageSide, kMaxImageSide);
            png_set_chunk_cache_max(png_, 16);
            png_set_chunk_malloc_max(png_, kChunkMemoryAllowance + 2 * bytes.size());
            png_set_keep_unknown_chunks(png_, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
            png_set_keep_unknown_chunks(png_, PNG_HANDLE_CHUNK_AS_DEFAULT, kPixelChunks,
                                        static_cast<int>(sizeof kPixelChunks / 5));
            if (reading == Reading::strict) {
                png_set_benign_errors(png_, 0);
                png_set_crc_action(png_, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
            } else {
                png_set_benign_errors(png_, 1);
            }
            guarded([&] { png_read_info(png_, info_); });
            width_ = png_get_image_width(png_, info_);
            height_ = png_get_image_height(png_, info_);
            checkHeaderSize(width_, height_, bytes.size());
        } catch (...) {
            png_destroy_read_struct(&png_, &info_, nullptr);
            throw;
        }
    }
    ~LibpngReader() { png_destroy_read_struct(&png_, &info_, nullptr); }
    LibpngReader(const LibpngReader&) = delete;
    LibpngReader& operator=(const LibpngReader&) = delete;

    PixelSize size() const { return {static_cast<int>(width_), static_cast<int>(height_)}; }
    // An alpha colour type, or a transparency chunk.
    bool hasAlpha() const {
        return (png_get_color_type(png_, info_) & PNG_COLOR_MASK_ALPHA) != 0 ||
               png_get_valid(png_, info_, PNG_INFO_tRNS) != 0;
    }

    // The pixels as 8-bit RGBA, premultiplied, with the colour chunks applied
    // as libpng's simplified reader applies them, but for two of its faults:
    // untagged 16-bit samples are taken as they are (it takes them as linear
    // light), and interlaced rows are put in place here, pass by pass, after
    // every per-pixel step (it misplaces them at 16 bits), so that they come
    // out exactly as the same samples written without interlacing.
    Bitmap decode() {
        const bool interlaced = png_get_interlace_type(png_, info_) != PNG_INTERLACE_NONE;
        guarded([&] {
            png_set_expand(png_);
            if ((png_get_color_type(png_, info_) & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png_);
            // The first call sets the gamma of a file that names none, the second the output's.
            png_set_alpha_mode_fixed(png_, PNG_ALPHA_PNG, PNG_DEFAULT_sRGB);
            png_set_alpha_mode_fixed(png_, PNG_ALPHA_PNG, PNG_DEFAULT_sRGB);
            if (png_get_bit_depth(png_, info_) == 16) png_set_scale_16(png_);
            if (!hasAlpha()) png_set_add_alpha(png_, 0xFF, PNG_FILLER_AFTER);
            png_read_update_info(png_, info_);
        });
        const size_t rowBytes = static_cast<size_t>(width_) * 4;
        if (png_get_rowbytes(png_, info_) != rowBytes) throw ImageError("damaged PNG: unexpected row layout");
        Bitmap bitmap;
        bitmap.width = static_cast<int>(width_);
        bitmap.height = static_cast<int>(height_);
        if (interlaced) {
            bitmap.pixels.resize(rowBytes * height_);
            std::vector<uint8_t> row(rowBytes);
            uint8_t* const pixels = bitmap.pixels.data();
            uint8_t* const passRow = row.data();
            for (int pass = 0; pass < 7; ++pass) {
                const uint32_t columns = PNG_PASS_COLS(width_, pass), rows = PNG_PASS_ROWS(height_, pass);
                if (columns == 0 || rows == 0) continue; // libpng skips an empty pass too
                guarded([&] {
                    for (uint32_t r = 0; r < rows; ++r) {
                        png_read_row(png_, passRow, nullptr);
                        uint8_t* out = pixels + size_t{PNG_ROW_FROM_PASS_ROW(r, pass)} * rowBytes;
                        for (uint32_t c = 0; c < columns; ++c)
                            std::memcpy(out + size_t{PNG_COL_FROM_PASS_COL(c, pass)} * 4, passRow + c * 4, 4);
                    }
                });
            }
        } else {
            // Rows are added as they are read, so that the pages of rows that a
            // damaged file never reaches are never touched.
            bitmap.pixels.reserve(rowBytes * height_);
            for (uint32_t y = 0; y < height_; ++y) {
                bitmap.pixels.resize(bitmap.pixels.size() + rowBytes);
                uint8_t* const out = bitmap.pixels.data() + y * rowBytes;
                guarded([&] { png_read_row(png_, out, nullptr); });
            }
        }
        premultiplyRGBA(bitmap.pixels.data(), static_cast<size_t>(width_) * height_);
        return bitmap;
    }

    // Every row as the file holds it, then every chunk up to IEND, which must end the file.
    void readWhole() {
        const bool interlaced = png_get_interlace_type(png_, info_) != PNG_INTERLACE_NONE;
        guarded([&] { png_read_update_info(png_, info_); });
        std::vector<uint8_t> row(png_get_rowbytes(png_, info_));
        uint8_t* const out = row.data();
        for (int pass = 0; pass < (interlaced ? 7 : 1); ++pass) {
            const uint32_t columns = interlaced ? PNG_PASS_COLS(width_, pass) : width_;
            const uint32_t rows = interlaced ? PNG_PASS_ROWS(height_, pass) : height_;
            if (columns == 0 || rows == 0) continue;
            guarded([&] {
                for (uint32_t r = 0; r < rows; ++r)
                    png_read_row(png_, out, nullptr);
            });
        }
        guarded([&] { png_read_end(png_, nullptr); });
        if (position_ != bytes_.size()) throw ImageError("damaged PNG: bytes after IEND");
        // libpng passes over a critical chunk it does not know after the image
        // data; a reader that keeps to the format refuses the file.
        for (size_t at = 8; at + 12 <= bytes_.size(); at += 12 + size_t{bigEndian32(bytes_.data() + at)}) {
            const std::string_view type = bytes_.substr(at + 4, 4);
            if ((type[0] & 0x20) == 0 && type != "IHDR" && type != "PLTE" && type != "IDAT" && type != "IEND")
                throw ImageError("damaged PNG: unknown critical chunk");
        }
    }

private:
    template <typename Step> void guarded(Step&& step) {
        if (!run(step)) throw ImageError(std::string("damaged PNG: ") + message_);
    }
    template <typename Step> bool run(Step& step) {
        if (setjmp(png_jmpbuf(png_))) return false;
        step();
        return true;
    }

    static void onError(png_structp png, png_const_charp message) {
        auto* self = static_cast<LibpngReader*>(png_get_error_ptr(png));
        std::snprintf(self->message_, sizeof self->message_, "%s", message);
        png_longjmp(png, 1);
    }
    static void onWarning(png_structp, png_const_charp) {}
    static void onRead(png_structp png, png_bytep out, size_t length) {
        auto* self = static_cast<LibpngReader*>(png_get_io_ptr(png));
        if (length > self->bytes_.size() - self->position_) png_error(png, "read beyond end of data");
        std::memcpy(out, self->bytes_.data() + self->position_, length);
        self->position_ += length;
    }

    std::string_view bytes_;
    size_t position_ = 0;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    uint32_t width_ = 0, height_ = 0;
    char message_[200] = {};
};

} // namespace

PixelSize pngPixelSize(std::string_view bytes) {
    return LibpngReader(bytes, Reading::lenient).size();
}

Bitmap decodePNG(std::string_view bytes) {
    // The usual icon (8-bit RGB or RGBA, nothing that alters its colours) is
    // read directly; libpng reads the rest, and whatever the direct reader
    // does not vouch for, so that it also gives the verdict and its words.
    if (std::optional<Bitmap> bitmap = directlyDecodedPNG(bytes)) return std::move(*bitmap);
    return decodePNGThroughLibpng(bytes);
}

bool isWholePNG(std::string_view bytes, InflateBuffer& buffer) {
    switch (directlyCheckedWhole(bytes, buffer)) {
    case DirectVerdict::whole:
        return true;
    case DirectVerdict::notWhole:
        return false;
    case DirectVerdict::notMine:
        break;
    }
    try {
        LibpngReader(bytes, Reading::strict).readWhole();
        return true;
    } catch (const ImageError&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool isWholePNG(std::string_view bytes) {
    InflateBuffer buffer;
    return isWholePNG(bytes, buffer);
}

Bitmap decodePNGThroughLibpng(std::string_view bytes) {
    try {
        return LibpngReader(bytes, Reading::lenient).decode();
    } catch (const std::bad_alloc&) {
        throw ImageError("cannot read PNG: out of memory");
    }
}

bool pngHasAlpha(std::string_view bytes) {
    try {
        return LibpngReader(bytes, Reading::lenient).hasAlpha();
    } catch (const ImageError&) {
        return false;
    }
}

namespace {

// Rows are filtered and compressed in bands of about this many bytes, side by side.
constexpr size_t kBytesPerBand = 256 * 1024;

void appendBigEndian32(std::string& out, uint32_t value) {
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    out.append(bytes, 4);
}

void appendChunk(std::string& out, const char type[4], const uint8_t* data, size_t length) {
    appendBigEndian32(out, static_cast<uint32_t>(length));
    const size_t start = out.size();
    out.append(type, 4);
    if (length > 0) out.append(reinterpret_cast<const char*>(data), length);
    appendBigEndian32(out, libdeflate_crc32(0, out.data() + start, length + 4));
}

// Eight bytes at a time, in 16-bit lanes: on the encoding side every input of
// the predictor is a known byte of the raw rows, so there is no dependency
// from one byte to the next and it all stays in vector registers.
using Bytes8 = uint8_t __attribute__((vector_size(8)));
using Lanes8 = int16_t __attribute__((vector_size(16)));

inline Bytes8 load8(const uint8_t* bytes) {
    Bytes8 v;
    std::memcpy(&v, bytes, sizeof v);
    return v;
}

inline Lanes8 widen8(const uint8_t* bytes) {
    return __builtin_convertvector(load8(bytes), Lanes8);
}

inline Lanes8 absolute(Lanes8 v) {
    const Lanes8 sign = v >> 15;
    return (v ^ sign) - sign;
}

// The Paeth differences of the eight bytes at `current`.
inline void paethEight(const uint8_t* current, const uint8_t* previous, uint8_t* out) {
    const Lanes8 a = widen8(current - 4), b = widen8(previous), c = widen8(previous - 4);
    const Lanes8 pa = absolute(b - c), pb = absolute(a - c), pc = absolute(a + b - c - c);
    // Masks of all ones where true: a where pa is the least, else b where pb <= pc, else c.
    const Lanes8 takeA = (pa <= pb) & (pa <= pc);
    const Lanes8 takeB = ~takeA & (pb <= pc);
    const Lanes8 predictor = (a & takeA) | (b & takeB) | (c & ~(takeA | takeB));
    const Bytes8 result = load8(current) - __builtin_convertvector(predictor, Bytes8);
    std::memcpy(out, &result, sizeof result);
}

inline uint8_t paethPredictor(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// One row's Paeth differences against the row above (both straight RGBA).
void paethRow(const uint8_t* current, const uint8_t* previous, uint8_t* out, size_t rowBytes) {
    // The first pixel has nothing to its left: its predictor is the byte above.
    for (size_t i = 0; i < 4 && i < rowBytes; ++i)
        out[i] = static_cast<uint8_t>(current[i] - previous[i]);
    size_t i = 4;
    for (; i + 8 <= rowBytes; i += 8) {
        // Where these eight bytes and the four before them match the row above
        // (flat colour, a clear margin), every predictor is the byte above: 0.
        uint64_t left[2], above[2];
        std::memcpy(left, current + i - 4, 8);
        std::memcpy(left + 1, current + i, 8);
        std::memcpy(above, previous + i - 4, 8);
        std::memcpy(above + 1, previous + i, 8);
        if (left[0] == above[0] && left[1] == above[1]) {
            std::memset(out + i, 0, 8);
            continue;
        }
        paethEight(current + i, previous + i, out + i);
    }
    for (; i < rowBytes; ++i)
        out[i] =
            static_cast<uint8_t>(current[i] - paethPredictor(current[i - 4], previous[i], previous[i - 4]));
}

} // namespace

std::string encodePNG(const Bitmap& bitmap) {
    if (bitmap.width < 1 || bitmap.height < 1) throw ImageError("cannot encode an image of zero size");
    if (!bitmap.isValid()) throw ImageError("cannot encode a bitmap whose bytes do not match its size");
    checkImageSize(bitmap.width, bitmap.height);
    const size_t rowBytes = static_cast<size_t>(bitmap.width) * 4;
    const size_t height = static_cast<size_t>(bitmap.height);

    // Every row un-premultiplied and Paeth-filtered behind its filter byte.
    // Paeth alone: trying all five filters per row costs about twice the time
    // for a few percent in size. The rows are filtered and compressed in bands
    // on several threads, each band into a buffer of its own that lives only
    // while it is compressed; a band un-premultiplies the row above its first
    // row itself.
    const size_t bands = std::clamp<size_t>((rowBytes + 1) * height / kBytesPerBand, 1, height);
    std::string compressed;
    try {
        compressed = zlibCompressPieces(bands, [&](size_t band, std::vector<uint8_t>& filtered) {
            const size_t first = height * band / bands, end = height * (band + 1) / bands;
            filtered.resize((end - first) * (rowBytes + 1));
            std::vector<uint8_t> rows(rowBytes * 2);
            uint8_t* previous = rows.data();
            uint8_t* current = rows.data() + rowBytes;
            if (first > 0) {
                unpremultiplyRGBA(bitmap.pixels.data() + (first - 1) * rowBytes, previous,
                                  static_cast<size_t>(bitmap.width));
            }
            for (size_t y = first; y < end; ++y) {
                const uint8_t* source = bitmap.pixels.data() + y * rowBytes;
                uint8_t* out = filtered.data() + (y - first) * (rowBytes + 1);
                *out++ = 4; // Paeth
                // A row that repeats the one above filters to zeros, and the
                // straight copy of the row above serves for the next one as well.
                if (y > 0 && std::memcmp(source, source - rowBytes, rowBytes) == 0) {
                    std::memset(out, 0, rowBytes);
                    continue;
                }
                unpremultiplyRGBA(source, current, static_cast<size_t>(bitmap.width));
                paethRow(current, previous, out, rowBytes);
                std::swap(previous, current);
            }
            return std::span<const uint8_t>(filtered);
        });
    } catch (const std::bad_alloc&) {
        throw ImageError("cannot encode PNG: out of memory");
    }
    if (compressed.size() > 0x7fffffff) throw ImageError("cannot encode PNG: the image does not compress");

    std::string png;
    png.reserve(8 + 25 + 12 + compressed.size() + 12);
    png.append("\x89PNG\r\n\x1a\n", 8);
    uint8_t header[13] = {};
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<uint8_t>(static_cast<uint32_t>(bitmap.width) >> (24 - 8 * i));
        header[4 + i] = static_cast<uint8_t>(static_cast<uint32_t>(bitmap.height) >> (24 - 8 * i));
    }
    header[8] = 8; // bits per sample
    header[9] = 6; // RGBA; compression, filter method and interlacing stay 0
    appendChunk(png, "IHDR", header, sizeof header);
    appendChunk(png, "IDAT", reinterpret_cast<const uint8_t*>(compressed.data()), compressed.size());
    appendChunk(png, "IEND", nullptr, 0);
    return png;
}

} // namespace mivora::image
