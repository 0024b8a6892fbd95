// Throughput of iplConvertFromDIB for 4096 x 4096 bitmaps into an Rgba8 image (4 channels,
// alpha channel 4, depth 8, "RGBA", align 8). Bytes per second count the bitmap's pixel data.
#include "image/dibLayout.h"
#include "image/dibRows.h"
#include "image/iplImage.h"
#include "util/byteOrder.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int kSide = 4096;

struct Bitmap {
    std::vector<std::uint8_t> block;
    std::int64_t pixelBytes = 0;
};

Bitmap makeBitmap(int bitCount, std::uint32_t compression = BI_RGB) {
    std::uint8_t header[kInfoHeaderSize] = {};
    storeLe32(header, kInfoHeaderSize);
    storeLe32(header + 4, kSide);
    storeLe32(header + 8, kSide);
    storeLe16(header + 12, 1);
    storeLe16(header + 14, static_cast<std::uint32_t>(bitCount));
    storeLe32(header + 16, compression);
    const std::int64_t tableBytes =
        bitCount == 8 ? 256 * 4 : (compression == BI_BITFIELDS ? 12 : 0);
    const std::int64_t rowBytes = (std::int64_t{kSide} * bitCount + 31) / 32 * 4;
    Bitmap bitmap;
    bitmap.pixelBytes = rowBytes * kSide;
    bitmap.block.resize(sizeof(header) + static_cast<std::size_t>(tableBytes + bitmap.pixelBytes));
    std::memcpy(bitmap.block.data(), header, sizeof(header));
    std::mt19937 random(12345);
    for (std::size_t i = sizeof(header); i < bitmap.block.size(); ++i) {
        bitmap.block[i] = static_cast<std::uint8_t>(random());
    }
    if (compression == BI_BITFIELDS) {
        storeLe32(bitmap.block.data() + sizeof(header), 0xF800);
        storeLe32(bitmap.block.data() + sizeof(header) + 4, 0x07E0);
        storeLe32(bitmap.block.data() + sizeof(header) + 8, 0x001F);
    }
    return bitmap;
}

void convertInto(benchmark::State& state, const Bitmap& bitmap) {
    ImageHeader* image = iplCreateImageHeader(4, 4, IPL_DEPTH_8U, "RGBA", "RGBA", 0, 0, 8, kSide,
                                              kSide, nullptr, nullptr, nullptr, nullptr);
    iplAllocateImage(image, 1, 0);
    const auto* dib = reinterpret_cast<const BITMAPINFOHEADER*>(bitmap.block.data());
    const auto size = static_cast<std::int64_t>(bitmap.block.size());
    for (auto _ : state) {
        iplConvertFromDIB(dib, size, image);
        benchmark::DoNotOptimize(image->imageData);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * bitmap.pixelBytes);
    iplFreeImageParts(image, IPL_IMAGE_ALL);
}

void BM_Convert24(benchmark::State& state) {
    static const Bitmap bitmap = makeBitmap(24);
    convertInto(state, bitmap);
}

void BM_Convert32(benchmark::State& state) {
    static const Bitmap bitmap = makeBitmap(32);
    convertInto(state, bitmap);
}

void BM_Convert8Palette(benchmark::State& state) {
    static const Bitmap bitmap = makeBitmap(8);
    convertInto(state, bitmap);
}

void BM_Convert16(benchmark::State& state) {
    static const Bitmap bitmap = makeBitmap(16);
    convertInto(state, bitmap);
}

void BM_Convert16BitFields(benchmark::State& state) {
    static const Bitmap bitmap = makeBitmap(16, BI_BITFIELDS);
    convertInto(state, bitmap);
}

// One band of 8 rows, converted over and over as the streamed reader does: the rows stay in
// the cache, so this measures the row loops rather than the memory.
void convertBand(benchmark::State& state, const Bitmap& bitmap) {
    constexpr int kBandRows = 8;
    ImageHeader* image = iplCreateImageHeader(4, 4, IPL_DEPTH_8U, "RGBA", "RGBA", 0, 0, 8, kSide,
                                              kBandRows, nullptr, nullptr, nullptr, nullptr);
    iplAllocateImage(image, 1, 0);
    DibBlock block;
    block.data = bitmap.block.data();
    block.size = static_cast<std::int64_t>(bitmap.block.size());
    DibLayout layout;
    if (!describeDib(block, layout).ok() || !checkDibExtent(block, layout).ok()) {
        state.SkipWithError("bitmap refused");
        return;
    }
    const DibRowConverter converter(block, layout, *image);
    const std::uint8_t* rows = block.data + layout.pixelOffset;
    auto* destination = reinterpret_cast<std::uint8_t*>(image->imageData);
    for (auto _ : state) {
        converter.convert(rows, 0, kBandRows, destination, image->widthStep);
        benchmark::DoNotOptimize(image->imageData);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * layout.rowBytes * kBandRows);
    iplFreeImageParts(image, IPL_IMAGE_ALL);
}

void BM_ConvertBand24(benchmark::State& state) {
    static const Bitmap bitmap = makeBitmap(24);
    convertBand(state, bitmap);
}

void BM_ConvertBand32(benchmark::State& state) {
    static const Bitmap bitmap = makeBitmap(32);
    convertBand(state, bitmap);
}

} // namespace

BENCHMARK(BM_ConvertBand24)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConvertBand32)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Convert24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert8Palette)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert16BitFields)->Unit(benchmark::kMillisecond);
