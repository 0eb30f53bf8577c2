// What the fuzz targets of the image readers allow to differ from libpng, and
// nothing more: a deflate stream that libdeflate reads and zlib refuses.
#pragma once

#include <cstdint>
#include <libdeflate.h>
#include <string>
#include <string_view>
#include <vector>
#include <zlib.h>

namespace mivora::fuzzing {

inline uint32_t readBigEndian32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

// Whether the image data is a deflate stream that libdeflate reads and zlib
// refuses: libdeflate reads the few codes the format reserves (and a code-length
// code of one symbol), which only a stream made to use them, checksum and all,
// holds. Only for such a stream may the direct reader accept what libpng refuses.
inline bool onlyLibdeflateReads(std::string_view png) {
    std::string data;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = readBigEndian32(png.data() + at);
        if (length > png.size() - at - 12) break;
        if (png.compare(at + 4, 4, "IDAT") == 0) {
            data.append(png, at + 8, length);
        } else if (!data.empty()) {
            break;
        }
        at += 12 + static_cast<size_t>(length);
    }
    if (data.size() < 2) return false;
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) return false;
    std::vector<unsigned char> out(1 << 16);
    stream.next_in = reinterpret_cast<Bytef*>(data.data() + 2);
    stream.avail_in = static_cast<uInt>(data.size() - 2);
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        status = inflate(&stream, Z_NO_FLUSH);
    }
    inflateEnd(&stream);
    if (status != Z_DATA_ERROR) return false;
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    std::vector<unsigned char> whole(64u << 20);
    size_t produced = 0;
    const libdeflate_result result = libdeflate_deflate_decompress(
        decompressor, data.data() + 2, data.size() - 2, whole.data(), whole.size(), &produced);
    libdeflate_free_decompressor(decompressor);
    return result != LIBDEFLATE_BAD_DATA;
}

} // namespace mivora::fuzzing
