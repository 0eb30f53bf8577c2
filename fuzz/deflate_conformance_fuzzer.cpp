// The check that deflate data keeps to the format: for any data that
// libdeflate reads, it must say what zlib says.
#include "platform/image/deflate_conformance.h"

#include <cstdint>
#include <libdeflate.h>
#include <string_view>
#include <vector>
#include <zlib.h>

namespace {

bool zlibReads(const uint8_t* data, size_t size, size_t outputSize) {
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) return false;
    std::vector<unsigned char> out(outputSize + 1);
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    return status == Z_STREAM_END;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    static std::vector<unsigned char> out(4u << 20);
    size_t produced = 0;
    if (libdeflate_deflate_decompress(decompressor, data, size, out.data(), out.size(), &produced) !=
        LIBDEFLATE_SUCCESS)
        return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (mivora::image::conformingDeflate(bytes) != zlibReads(data, size, produced)) __builtin_trap();
    return 0;
}
