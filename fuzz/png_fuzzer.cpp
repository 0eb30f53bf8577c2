// PNG decoding: the header checks, the size caps, libpng's reader, and the
// direct reader, which must give libpng's verdict, error text and pixels for
// any bytes, as they come and with their checksums repaired (so that mutations
// reach the image data and its rows); and the whole-file check, which passes
// only what libpng reads and what zlib inflates.
#include "deflate_leniency.h"
#include "platform/image/png.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <zlib.h>

namespace {

struct Reading {
    std::optional<mivora::image::Bitmap> bitmap;
    std::string error;
};

template <typename Read> Reading readWith(Read read) {
    Reading reading;
    try {
        reading.bitmap = read();
    } catch (const mivora::image::ImageError& error) {
        reading.error = error.what();
    }
    return reading;
}

uint32_t bigEndian32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

void putBigEndian32(char* p, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>(value >> (24 - 8 * i));
}

// The input with its checksums made right, so that the readers' later checks
// (the image data, its size, the row filters) are reached: the zlib stream's
// Adler-32 (when zlib reads the stream to its end) and every chunk's CRC.
std::string withChecksumsRepaired(std::string png) {
    std::vector<std::pair<size_t, size_t>> chunks, data; // offset and length of each, of each IDAT's data
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = bigEndian32(png.data() + at);
        if (length > png.size() - at - 12) break;
        chunks.emplace_back(at, length);
        if (png.compare(at + 4, 4, "IDAT") == 0) data.emplace_back(at + 8, length);
        at += 12 + static_cast<size_t>(length);
    }
    std::string joined;
    for (auto [offset, length] : data)
        joined.append(png, offset, length);
    if (joined.size() > 6) {
        z_stream stream{};
        if (inflateInit2(&stream, -15) == Z_OK) {
            std::vector<unsigned char> out(1 << 16);
            stream.next_in = reinterpret_cast<Bytef*>(joined.data() + 2);
            stream.avail_in = static_cast<uInt>(joined.size() - 2);
            uLong adler = adler32(0, nullptr, 0);
            int status = Z_OK;
            while (status == Z_OK && stream.total_out < (64u << 20)) {
                stream.next_out = out.data();
                stream.avail_out = static_cast<uInt>(out.size());
                status = inflate(&stream, Z_NO_FLUSH);
                adler = adler32(adler, out.data(), static_cast<uInt>(out.size() - stream.avail_out));
            }
            const size_t end = joined.size() - stream.avail_in; // just past the deflate data
            inflateEnd(&stream);
            if (status == Z_STREAM_END && end + 4 <= joined.size()) {
                // Put the checksum back where it belongs, across chunk boundaries.
                char sum[4];
                putBigEndian32(sum, static_cast<uint32_t>(adler));
                size_t position = 0;
                for (auto [offset, length] : data) {
                    for (size_t i = 0; i < length; ++i, ++position) {
                        if (position >= end && position < end + 4) png[offset + i] = sum[position - end];
                    }
                }
            }
        }
    }
    for (auto [offset, length] : chunks) {
        const uLong crc =
            crc32(0, reinterpret_cast<const Bytef*>(png.data() + offset + 4), static_cast<uInt>(length + 4));
        putBigEndian32(png.data() + offset + 8 + length, static_cast<uint32_t>(crc));
    }
    return png;
}

void expectReadersAgree(std::string_view bytes) {
    using namespace mivora::image;
    const Reading reference = readWith([&] { return decodePNGThroughLibpng(bytes); });
    const Reading decoded = readWith([&] { return decodePNG(bytes); });
    auto agree = [&](const Reading& reading) {
        if (reading.bitmap.has_value() == reference.bitmap.has_value() && reading.error == reference.error)
            return true;
        return reading.bitmap.has_value() && !reference.bitmap.has_value() &&
               mivora::fuzzing::onlyLibdeflateReads(bytes);
    };
    if (!agree(decoded)) __builtin_trap();
    if (isWholePNG(bytes) && (!reference.bitmap || mivora::fuzzing::onlyLibdeflateReads(bytes)))
        __builtin_trap();
    if (decoded.bitmap && !reference.bitmap) return;
    if (decoded.bitmap) {
        if (!decoded.bitmap->isValid() || decoded.bitmap->width != reference.bitmap->width ||
            decoded.bitmap->height != reference.bitmap->height ||
            decoded.bitmap->pixels != reference.bitmap->pixels) {
            __builtin_trap();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    mivora::image::pngHasAlpha(bytes);
    expectReadersAgree(bytes);
    if (mivora::image::hasPNGSignature(bytes)) expectReadersAgree(withChecksumsRepaired(std::string(bytes)));
    return 0;
}
