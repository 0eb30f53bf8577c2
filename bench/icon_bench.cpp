// Icon normalisation and PNG rendering at the Dock size, on a synthetic icon:
// a rounded, shaded artwork square on a flat background (the common input of
// generated icons), with and without a reference icon of the same footprint.
#include "icons/icon_normalization.h"
#include "icons/icon_rendering.h"
#include "platform/image/canvas.h"
#include "support/icns_writer.h"

#include <benchmark/benchmark.h>

namespace {

using namespace mivora;

image::Image artwork(bool transparentSurroundings) {
    image::Canvas canvas(1024, 1024);
    if (!transparentSurroundings) canvas.fill({1, 1, 1, 1});
    canvas.fillRoundedRect({112, 112, 800, 800}, 180, 180, {0.15, 0.35, 0.8, 1});
    // Some shading so that the PNG encoder has real work.
    image::Bitmap bitmap = canvas.bitmap();
    for (int y = 112; y < 912; ++y) {
        for (int x = 112; x < 912; ++x) {
            uint8_t* p = bitmap.pixels.data() + (static_cast<size_t>(y) * 1024 + x) * 4;
            if (p[3] == 255) p[1] = static_cast<uint8_t>((x + y) / 8);
        }
    }
    testing::fillRect(bitmap, 400, 400, 224, 224, {255, 255, 255, 255});
    return image::Image(std::move(bitmap));
}

void BM_NormalizeFlatBackground(benchmark::State& state) {
    image::Image picture = artwork(false);
    for (auto _ : state)
        benchmark::DoNotOptimize(icons::normalizeIconImage(picture, std::nullopt));
}
BENCHMARK(BM_NormalizeFlatBackground)->Unit(benchmark::kMillisecond);

void BM_NormalizeWithReference(benchmark::State& state) {
    image::Image picture = artwork(false);
    image::Image reference = artwork(true);
    for (auto _ : state)
        benchmark::DoNotOptimize(icons::normalizeIconImage(picture, reference));
}
BENCHMARK(BM_NormalizeWithReference)->Unit(benchmark::kMillisecond);

void BM_RenderPNG1024(benchmark::State& state) {
    image::Image picture = icons::normalizeIconImage(artwork(false), std::nullopt);
    size_t bytes = 0;
    for (auto _ : state) {
        auto png = icons::LocalCollectionIconStager::renderPNG(picture, 1024);
        bytes = png ? png->size() : 0;
        benchmark::DoNotOptimize(png);
    }
    state.counters["pngBytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_RenderPNG1024)->Unit(benchmark::kMillisecond);

// The steps, to see where the time goes.
void BM_RenderImageBitmap(benchmark::State& state) {
    image::Image picture = artwork(false);
    for (auto _ : state)
        benchmark::DoNotOptimize(icons::renderImageBitmap(picture, 1024));
}
BENCHMARK(BM_RenderImageBitmap)->Unit(benchmark::kMillisecond);

void BM_RemoveBorderBackground(benchmark::State& state) {
    auto bitmap = *icons::renderImageBitmap(artwork(false), 1024);
    for (auto _ : state) {
        state.PauseTiming();
        auto copy = bitmap;
        state.ResumeTiming();
        icons::removeBorderBackground(copy, {255, 255, 255});
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_RemoveBorderBackground)->Unit(benchmark::kMillisecond);

void BM_RoundedRectMask(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(icons::roundedRectMask());
}
BENCHMARK(BM_RoundedRectMask)->Unit(benchmark::kMillisecond);

void BM_AspectFit(benchmark::State& state) {
    auto bitmap = *icons::renderImageBitmap(artwork(false), 1024);
    auto cropped = *icons::cropBitmap({100, 100, 820, 820}, bitmap);
    for (auto _ : state)
        benchmark::DoNotOptimize(icons::aspectFitBitmap(824, 824, cropped));
}
BENCHMARK(BM_AspectFit)->Unit(benchmark::kMillisecond);

} // namespace

// The program's main() is apps_bench.cpp's: it also sets up the sandbox its benchmarks need.
