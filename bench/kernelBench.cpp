// Per-block costs of the encoder's inner kernels on quality-95 data: forward DCT, quantiser
// and block coder, plain and vector variants.
#include "jpeg/blockTransform.h"
#include "jpeg/huffmanTable.h"
#include "jpeg/outputStream.h"
#include "jpeg/zigzag.h"

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

using Block = std::array<std::int16_t, 64>;
constexpr int kBlocks = 4096;

// T.81 Table K.1 (luminance quantisation), natural order.
constexpr std::uint8_t kLuminanceQuant[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,  //
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,  //
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,  //
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99}; //

// T.81 Tables K.3 and K.5.
constexpr std::uint8_t kDcBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr std::uint8_t kAcBits[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr std::uint8_t kAcValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
    0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
    0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

struct Data {
    std::vector<Block> samples;   // level-shifted samples of a photo-like image
    std::vector<Block> quantized; // the same after the vector DCT and quantiser
    std::vector<Block> sparse;    // chroma-like: only the first zig-zag positions kept
    alignas(16) std::array<std::uint16_t, 64> reciprocals;
    HuffmanCodeTable dc{}, ac{};
    double nonZeroPerBlock = 0;
};

const Data& data() {
    static const Data d = [] {
        Data d;
        // Quality 95: steps scaled by 10 / 100, at least 1, in zig-zag order.
        for (int k = 0; k < 64; ++k) {
            const int step = (kLuminanceQuant[zigzagToNatural[k]] * 10 + 50) / 100;
            d.reciprocals[static_cast<std::size_t>(k)] =
                static_cast<std::uint16_t>(std::clamp(step, 1, 255));
        }
        buildReciprocalTable(d.reciprocals.data());
        buildHuffmanCodeTable(kDcBits, kDcValues, &d.dc);
        buildHuffmanCodeTable(kAcBits, kAcValues, &d.ac);

        // Smooth shading, a few edges and sensor-like noise.
        std::mt19937 rng(1);
        std::normal_distribution<double> noise(0.0, 3.0);
        const int width = 512;
        for (int b = 0; b < kBlocks; ++b) {
            const int bx = (b % (width / 8)) * 8, by = (b / (width / 8)) * 8;
            Block block;
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 8; ++x) {
                    const double px = bx + x, py = by + y;
                    double v = 128 + 60 * std::sin(px / 37.0) * std::cos(py / 23.0) +
                               25 * std::sin((px + 2 * py) / 7.0) + noise(rng);
                    if ((static_cast<int>(px) / 40 + static_cast<int>(py) / 56) % 3 == 0) {
                        v -= 50;
                    }
                    block[static_cast<std::size_t>(8 * y + x)] =
                        static_cast<std::int16_t>(std::clamp(std::lround(v), 0L, 255L) - 128);
                }
            }
            d.samples.push_back(block);
            alignas(16) Block q = block;
            forwardDctVector(q.data());
            quantizeBlockVector(q.data(), d.reciprocals.data());
            d.quantized.push_back(q);
            Block s{};
            for (int k = 0; k < 6; ++k) {
                s[static_cast<std::size_t>(zigzagToNatural[k])] =
                    q[static_cast<std::size_t>(zigzagToNatural[k])];
            }
            d.sparse.push_back(s);
            d.nonZeroPerBlock += static_cast<double>(
                std::count_if(q.begin() + 1, q.end(), [](std::int16_t c) { return c != 0; }));
        }
        d.nonZeroPerBlock /= kBlocks;
        return d;
    }();
    return d;
}

void forwardDct(benchmark::State& state, ForwardDctFn dct) {
    const Data& d = data();
    alignas(16) Block work;
    std::size_t i = 0;
    for (auto _ : state) {
        std::memcpy(work.data(), d.samples[i].data(), sizeof(Block));
        dct(work.data());
        benchmark::DoNotOptimize(work);
        i = (i + 1) % kBlocks;
    }
    state.SetItemsProcessed(state.iterations());
}

void quantize(benchmark::State& state, QuantizeBlockFn quantizer) {
    const Data& d = data();
    std::vector<Block> coefficients = d.samples;
    for (Block& b : coefficients) {
        forwardDctVector(b.data());
    }
    alignas(16) Block work;
    std::size_t i = 0;
    for (auto _ : state) {
        std::memcpy(work.data(), coefficients[i].data(), sizeof(Block));
        quantizer(work.data(), d.reciprocals.data());
        benchmark::DoNotOptimize(work);
        i = (i + 1) % kBlocks;
    }
    state.SetItemsProcessed(state.iterations());
}

void encodeBlock(benchmark::State& state, StartOutputFn start, EncodeBlockFn encode, bool sparse) {
    const Data& d = data();
    const std::vector<Block>& blocks = sparse ? d.sparse : d.quantized;
    auto stream = std::make_unique<OutputStream>();
    std::vector<std::uint8_t> memory(8 << 20);
    start(stream.get(), memory.data(), static_cast<std::int32_t>(memory.size()));
    std::int16_t predictor = 0;
    std::size_t i = 0;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        if (encode(stream.get(), &d.dc, &d.ac, &predictor, blocks[i].data()) != 0) {
            state.SkipWithError("encodeBlock failed");
            break;
        }
        if (++i == kBlocks) {
            i = 0;
            bytes += stream->cursor - stream->start;
            start(stream.get(), memory.data(), static_cast<std::int32_t>(memory.size()));
        }
    }
    bytes += stream->cursor - stream->start;
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(bytes);
    if (!sparse) {
        state.counters["nonZeroAc"] = d.nonZeroPerBlock;
    }
}

// DCT, quantiser and block coder of the vector set in a row, as the scan runs them.
void wholeBlockVector(benchmark::State& state) {
    const Data& d = data();
    auto stream = std::make_unique<OutputStream>();
    std::vector<std::uint8_t> memory(8 << 20);
    startOutputVector(stream.get(), memory.data(), static_cast<std::int32_t>(memory.size()));
    std::int16_t predictor = 0;
    alignas(16) Block work;
    std::size_t i = 0;
    for (auto _ : state) {
        std::memcpy(work.data(), d.samples[i].data(), sizeof(Block));
        forwardDctSse2(work.data());
        quantizeBlockSse2(work.data(), d.reciprocals.data());
        if (encodeBlockVector(stream.get(), &d.dc, &d.ac, &predictor, work.data()) != 0) {
            state.SkipWithError("encodeBlock failed");
            break;
        }
        if (++i == kBlocks) {
            i = 0;
            startOutputVector(stream.get(), memory.data(),
                              static_cast<std::int32_t>(memory.size()));
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// Yardstick: TurboJPEG at quality 95 without subsampling on an RGB image of the same kind,
// per 8 x 8 block of one component (three blocks per 8 x 8 pixels).
void turboJpegPerBlock(benchmark::State& state, int flags) {
    constexpr int kSize = 512;
    std::vector<unsigned char> rgb(kSize * kSize * 3);
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 3.0);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            for (int c = 0; c < 3; ++c) {
                double v = 128 + 60 * std::sin((x + 9 * c) / 37.0) * std::cos(y / 23.0) +
                           25 * std::sin((x + 2 * y) / (7.0 + c)) + noise(rng);
                if ((x / 40 + y / 56) % 3 == 0) {
                    v -= 50;
                }
                rgb[static_cast<std::size_t>((y * kSize + x) * 3 + c)] =
                    static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
            }
        }
    }
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    for (auto _ : state) {
        if (tjCompress2(handle, rgb.data(), kSize, 0, kSize, TJPF_RGB, &jpeg, &size, TJSAMP_444, 95,
                        flags) != 0) {
            state.SkipWithError("tjCompress2 failed");
            break;
        }
    }
    tjFree(jpeg);
    tjDestroy(handle);
    state.SetItemsProcessed(state.iterations() * (kSize / 8) * (kSize / 8) * 3);
}

} // namespace

BENCHMARK_CAPTURE(forwardDct, plain, forwardDctPlain);
BENCHMARK_CAPTURE(forwardDct, vectorPortable, forwardDctVector);
BENCHMARK_CAPTURE(forwardDct, sse2, forwardDctSse2);
BENCHMARK_CAPTURE(quantize, plain, quantizeBlockPlain);
BENCHMARK_CAPTURE(quantize, vectorPortable, quantizeBlockVector);
BENCHMARK_CAPTURE(quantize, sse2, quantizeBlockSse2);
BENCHMARK_CAPTURE(encodeBlock, plain, startOutputPlain, encodeBlockPlain, false);
BENCHMARK_CAPTURE(encodeBlock, vector, startOutputVector, encodeBlockVector, false);
BENCHMARK_CAPTURE(encodeBlock, plainSparse, startOutputPlain, encodeBlockPlain, true);
BENCHMARK_CAPTURE(encodeBlock, vectorSparse, startOutputVector, encodeBlockVector, true);
BENCHMARK(wholeBlockVector);
BENCHMARK_CAPTURE(turboJpegPerBlock, accurateDct, 0);
BENCHMARK_CAPTURE(turboJpegPerBlock, fastDct, TJFLAG_FASTDCT);
