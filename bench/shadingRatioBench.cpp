// Speed of the shading-ratio image (goal: at least 300 Mpixel/s per core).
#include "tool/shadingRatio.h"
#include "tool/shadingRatioKernels.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

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

// Slowly varying channels, as in photographs and plasma images: neighbouring pixels hit
// neighbouring table entries.
QimImgT<Rgba8> smoothImage(int width, int height, int phase) {
    QimImgT<Rgba8> image;
    image.create(width, height, true, false, 0.0);
    auto* data = reinterpret_cast<std::uint8_t*>(image.unshare());
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = data + std::int64_t{image.widthStep()} * y;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 4; ++c) {
                row[4 * x + c] =
                    static_cast<std::uint8_t>(128 + 100 * std::sin((x + 2 * y) / 97.0 + c + phase));
            }
        }
    }
    return image;
}

void runShadingRatio(benchmark::State& state, QimImgT<Rgba8>& source, QimImgT<Rgba8>& finalImage) {
    const int side = source.width();
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

void BM_ShadingRatio(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    auto source = noiseImage(side, side, 1);
    auto finalImage = noiseImage(side, side, 2);
    runShadingRatio(state, source, finalImage);
}
BENCHMARK(BM_ShadingRatio)->Arg(512)->Arg(2048)->Unit(benchmark::kMillisecond);

void BM_ShadingRatioSmooth(benchmark::State& state) {
    const int side = static_cast<int>(state.range(0));
    auto source = smoothImage(side, side, 0);
    auto finalImage = smoothImage(side, side, 1);
    runShadingRatio(state, source, finalImage);
}
BENCHMARK(BM_ShadingRatioSmooth)->Arg(512)->Arg(2048)->Unit(benchmark::kMillisecond);

// The stored-row kernel of each set (0 plain, 1 SSE2, 3 AVX-512 with VBMI) on 4096-pixel rows
// of 3-byte pixels, noise (argument 0) or smooth (1), side by side.
void BM_StoredRowRatio(benchmark::State& state) {
    const auto set = static_cast<PixelKernelSet>(state.range(0));
    const std::optional<ShadeRowKernel> kernel = shadeStoredBgr24KernelFor(set);
    if (!kernel) {
        state.SkipWithError("this build or processor lacks the set");
        return;
    }
    constexpr int kWidth = 4096;
    auto source = state.range(1) == 0 ? noiseImage(kWidth, 1, 1) : smoothImage(kWidth, 1, 0);
    auto finalImage = state.range(1) == 0 ? noiseImage(kWidth, 1, 2) : smoothImage(kWidth, 1, 1);
    std::vector<std::uint8_t> sourceRow(3 * kWidth);
    std::vector<std::uint8_t> finalRow(3 * kWidth);
    for (int x = 0; x < kWidth; ++x) {
        for (int c = 0; c < 3; ++c) {
            sourceRow[3 * x + c] = reinterpret_cast<const std::uint8_t*>(source.unshare())[4 * x + c];
            finalRow[3 * x + c] =
                reinterpret_cast<const std::uint8_t*>(finalImage.unshare())[4 * x + c];
        }
    }
    std::vector<std::uint8_t> result(4 * kWidth);
    const std::uint8_t* table = shadingRatioTable().data();
    for (auto _ : state) {
        const int done =
            (*kernel)(table, sourceRow.data(), finalRow.data(), result.data(), kWidth);
        benchmark::DoNotOptimize(done);
        benchmark::ClobberMemory();
    }
    state.counters["Mpixel/s"] =
        benchmark::Counter(kWidth / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_StoredRowRatio)->ArgsProduct({{1, 3}, {0, 1}});

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
