// PNG reading at the Dock size: the direct reader against libpng's, and the
// whole-file check, on the reference inputs' flat-background icon and on noise
// (which every row filter serves).
#include "platform/file_reading.h"
#include "platform/image/byte_order.h"
#include "platform/image/deflate_conformance.h"
#include "platform/image/png.h"
#include "support/icns_writer.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <random>

namespace {

using namespace mivora;

std::string noisyIcon() {
    std::mt19937 random(1);
    image::Bitmap bitmap = image::Bitmap::transparent(1024, 1024);
    for (int y = 0; y < 1024; ++y) {
        for (int x = 0; x < 1024; ++x) {
            const auto alpha = static_cast<uint8_t>(x < 512 ? 255 : random() % 256);
            testing::setPixel(bitmap, x, y,
                              {static_cast<uint8_t>(x + y), static_cast<uint8_t>(random() % 4 + y),
                               static_cast<uint8_t>(x / 3), alpha});
        }
    }
    return image::encodePNG(bitmap);
}

// MIVORA_BENCH_PNG names a PNG file to read instead (the flat icon of the reference inputs).
const std::string& icon() {
    static const std::string bytes = [] {
        const char* path = std::getenv("MIVORA_BENCH_PNG");
        if (path == nullptr) return noisyIcon();
        return platform::readFile(path, platform::read_limits::image).value_or(noisyIcon());
    }();
    return bytes;
}

void BM_DecodePNGDirect(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(image::decodePNG(icon()));
}
BENCHMARK(BM_DecodePNGDirect)->Unit(benchmark::kMillisecond);

void BM_DecodePNGThroughLibpng(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(image::decodePNGThroughLibpng(icon()));
}
BENCHMARK(BM_DecodePNGThroughLibpng)->Unit(benchmark::kMillisecond);

void BM_IsWholePNG(benchmark::State& state) {
    image::InflateBuffer buffer;
    for (auto _ : state)
        benchmark::DoNotOptimize(image::isWholePNG(icon(), buffer));
}
BENCHMARK(BM_IsWholePNG)->Unit(benchmark::kMillisecond);

// The image data's deflate blocks, after the zlib header: what the conformance walk reads.
std::string deflateBlocks(std::string_view png) {
    std::string stream;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = image::bigEndian32(png.data() + at);
        if (png.substr(at + 4, 4) == "IDAT") stream.append(png.substr(at + 8, length));
        at += 12 + size_t{length};
    }
    return stream.size() > 2 ? stream.substr(2) : stream;
}

void BM_ConformingDeflate(benchmark::State& state) {
    const std::string blocks = deflateBlocks(icon());
    for (auto _ : state)
        benchmark::DoNotOptimize(image::conformingDeflate(blocks));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * blocks.size()));
}
BENCHMARK(BM_ConformingDeflate)->Unit(benchmark::kMicrosecond);

} // namespace
