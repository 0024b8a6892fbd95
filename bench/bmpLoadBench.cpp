// Speed of loading a 4096 x 4096 24-bit bitmap from disk (goal: at least 1 GB/s of file data
// per core). The file is written once to the temporary folder and stays in the page cache.
#include "tool/bmpLoader.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void put32(std::vector<char>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    }
}

std::string writeBitmap(int side, int bitCount) {
    const std::size_t rowBytes = (static_cast<std::size_t>(side) * bitCount + 31) / 32 * 4;
    const std::size_t size = 54 + rowBytes * static_cast<std::size_t>(side);
    std::vector<char> file(size, 0);
    file[0] = 'B';
    file[1] = 'M';
    put32(file, 2, static_cast<std::uint32_t>(size));
    put32(file, 10, 54);
    put32(file, 14, 40);
    put32(file, 18, static_cast<std::uint32_t>(side));
    put32(file, 22, static_cast<std::uint32_t>(side));
    file[26] = 1;
    file[28] = static_cast<char>(bitCount);
    std::mt19937 random(7);
    for (std::size_t i = 54; i < size; ++i) {
        file[i] = static_cast<char>(random());
    }
    const std::string path =
        (std::filesystem::temp_directory_path() / ("qmjpeg-bmpbench-" + std::to_string(::getpid()) +
                                                   "-" + std::to_string(bitCount) + ".bmp"))
            .string();
    std::ofstream(path, std::ios::binary).write(file.data(), static_cast<std::streamsize>(size));
    return path;
}

void BM_LoadBmp(benchmark::State& state) {
    const int bitCount = static_cast<int>(state.range(0));
    const std::string path = writeBitmap(4096, bitCount);
    const auto bytes = static_cast<std::int64_t>(std::filesystem::file_size(path));
    for (auto _ : state) {
        QimImgT<Rgba8> image;
        image.create(0, 0, false, false, 0.0);
        if (!loadBmpFile(path.c_str(), image)) {
            state.SkipWithError("load failed");
            break;
        }
        benchmark::DoNotOptimize(image.imageData());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadBmp)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
