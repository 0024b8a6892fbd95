// Speed of the shading-ratio image (goal: at least 300 Mpixel/s per core).
#include "tool/shadingRatio.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <random>

namespace {

QimImgT<Rgba8> noiseImage(int width, int height, unsigned seed) {
    QimImgT<Rgba8> image;
    image.create(width, height, true, false, 0.0);
    std::mt19937 random(seed);
    auto* data = reinterpret_cast<std::uint8_t*>(image.unshare());
    for (std::int64_t i = 0; i < std::int64_t{image.widthStep()} * height; ++i) {
        data[i] = static_cast<std::uint8_t>(random());
    }
    return image;
}

void BM_ShadingRatio(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    auto source = noiseImage(side, side, 1);
    auto finalImage = noiseImage(side, side, 2);
    QimImgT<Rgba8> result;
    result.create(side, side, true, false, 0.0);
    shadingRatioTable(); // built once, outside the timing
    for (auto _ : state) {
        benchmark::DoNotOptimize(computeShadingRatio(source, finalImage, result));
        benchmark::ClobberMemory();
    }
    const double pixels = static_cast<double>(side) * side;
    state.counters["Mpixel/s"] =
        benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ShadingRatio)->Arg(512)->Arg(2048)->Unit(benchmark::kMillisecond);

void BM_ShadingRatioTableBuild(benchmark::State& state) {
    for (auto _ : state) {
        int sum = 0;
        for (int f = 0; f < 256; ++f) {
            for (int s = 0; s < 256; ++s) {
                sum += shadingRatioByte(static_cast<std::uint8_t>(f), static_cast<std::uint8_t>(s));
            }
        }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_ShadingRatioTableBuild)->Unit(benchmark::kMillisecond);

} // namespace
