// Per-block costs of the encoder's inner kernels on quality-95 data: forward DCT, quantiser
// and block coder of every kernel set, each taken from the set's routine table, and the block
// preparation of the vector block coder in each instruction set.
#include "jpeg/bitOutputSse2.h"
#include "jpeg/blockTransform.h"
#include "jpeg/defaultHuffmanTables.h"
#include "jpeg/huffmanTable.h"
#include "jpeg/outputStream.h"
#include "jpeg/preparedBlock.h"
#include "jpeg/quantTables.h"
#include "jpeg/routineTable.h"
#include "jpeg/zigzag.h"

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace {

using Block = std::array<std::int16_t, 64>;
constexpr int kBlocks = 4096;

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
        // The encoder's own luminance tables at quality 95.
        std::int16_t steps[64];
        scaleQuantTable(95, kLuminanceQuantBase, steps);
        for (int k = 0; k < 64; ++k) {
            d.reciprocals[static_cast<std::size_t>(k)] = static_cast<std::uint16_t>(steps[k]);
        }
        buildReciprocalTable(d.reciprocals.data());
        buildHuffmanCodeTable(kDcLuminanceBits, kDcLuminanceValues, &d.dc);
        buildHuffmanCodeTable(kAcLuminanceBits, kAcLuminanceValues, &d.ac);

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
            forwardDctSse2Portable(q.data());
            quantizeBlockSse2Portable(q.data(), d.reciprocals.data());
            d.quantized.push_back(q);
            Block s{};
            for (int k = 0; k < 6; ++k) {
                s[static_cast<std::size_t>(kZigzagNatural[k])] =
                    q[static_cast<std::size_t>(kZigzagNatural[k])];
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

// The routine table of a kernel set; nothing (and the benchmark skipped) where the processor
// lacks the set.
std::optional<RoutineTable> routinesOrSkip(benchmark::State& state, KernelSet set) {
    std::optional<RoutineTable> table = routinesForSet(set);
    if (!table) {
        state.SkipWithError("kernel set not available on this processor");
    }
    return table;
}

void forwardDct(benchmark::State& state, KernelSet set) {
    const std::optional<RoutineTable> table = routinesOrSkip(state, set);
    if (!table) {
        return;
    }
    const ForwardDctFn dct = table->forwardDct;
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

// The quantiser alone, on blocks copied in 16-byte pieces: the AVX2 quantiser's 32-byte loads
// wait for such stores, which the scan never makes (see transform).
void quantize(benchmark::State& state, KernelSet set) {
    const std::optional<RoutineTable> table = routinesOrSkip(state, set);
    if (!table) {
        return;
    }
    const QuantizeBlockFn quantizer = table->quantizeBlock;
    const Data& d = data();
    std::vector<Block> coefficients = d.samples;
    for (Block& b : coefficients) {
        forwardDctSse2Portable(b.data());
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

// The DCT and then the quantiser of a set: the quantiser reads what the DCT has just stored,
// as in the scan (a wider load than those stores would wait for them).
void transform(benchmark::State& state, KernelSet set) {
    const std::optional<RoutineTable> table = routinesOrSkip(state, set);
    if (!table) {
        return;
    }
    const Data& d = data();
    alignas(16) Block work;
    std::size_t i = 0;
    for (auto _ : state) {
        std::memcpy(work.data(), d.samples[i].data(), sizeof(Block));
        table->forwardDct(work.data());
        table->quantizeBlock(work.data(), d.reciprocals.data());
        benchmark::DoNotOptimize(work);
        i = (i + 1) % kBlocks;
    }
    state.SetItemsProcessed(state.iterations());
}

#if defined(__SSE2__)
// The SSE2 preparation, as the vector block coder inlines it.
bool prepareBlockSse2(const std::int16_t* block, PreparedBlock& out) {
    bit_output_sse2::gatherZigzag(block, out);
    if (!denseAfterDc(out)) {
        return false;
    }
    bit_output_sse2::categorize(out);
    return true;
}

using PrepareFn = bool (*)(const std::int16_t*, PreparedBlock&);

// Block preparation alone (zig-zag reading, non-zero mask, categories of dense blocks).
void prepareBlock(benchmark::State& state, KernelSet set, PrepareFn prepare, bool sparse) {
    if (!routinesOrSkip(state, set)) {
        return;
    }
    const Data& d = data();
    const std::vector<Block>& blocks = sparse ? d.sparse : d.quantized;
    alignas(16) Block work;
    PreparedBlock prepared;
    std::size_t i = 0;
    for (auto _ : state) {
        std::memcpy(work.data(), blocks[i].data(), sizeof(Block));
        benchmark::DoNotOptimize(prepare(work.data(), prepared));
        benchmark::DoNotOptimize(prepared);
        i = (i + 1) % kBlocks;
    }
    state.SetItemsProcessed(state.iterations());
}
#endif

void encodeBlock(benchmark::State& state, KernelSet set, bool sparse) {
    const std::optional<RoutineTable> table = routinesOrSkip(state, set);
    if (!table) {
        return;
    }
    const StartOutputFn start = table->startOutput;
    const EncodeBlockFn encode = table->encodeBlock;
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

// DCT, quantiser and block coder of a set in a row, as the scan runs them (the last two fused
// where the set has a fused form).
void wholeBlock(benchmark::State& state, KernelSet set) {
    const std::optional<RoutineTable> table = routinesOrSkip(state, set);
    if (!table) {
        return;
    }
    const Data& d = data();
    auto stream = std::make_unique<OutputStream>();
    std::vector<std::uint8_t> memory(8 << 20);
    table->startOutput(stream.get(), memory.data(), static_cast<std::int32_t>(memory.size()));
    std::int16_t predictor = 0;
    alignas(16) Block work;
    std::size_t i = 0;
    for (auto _ : state) {
        std::memcpy(work.data(), d.samples[i].data(), sizeof(Block));
        table->forwardDct(work.data());
        int result;
        if (table->quantizeEncodeBlock != nullptr) {
            result = table->quantizeEncodeBlock(stream.get(), &d.dc, &d.ac, &predictor,
                                                work.data(), d.reciprocals.data());
        } else {
            table->quantizeBlock(work.data(), d.reciprocals.data());
            result = table->encodeBlock(stream.get(), &d.dc, &d.ac, &predictor, work.data());
        }
        if (result != 0) {
            state.SkipWithError("encodeBlock failed");
            break;
        }
        if (++i == kBlocks) {
            i = 0;
            table->startOutput(stream.get(), memory.data(),
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

BENCHMARK_CAPTURE(forwardDct, plain, KernelSet::Plain);
BENCHMARK_CAPTURE(forwardDct, vectorPortable, KernelSet::VectorPortable);
BENCHMARK_CAPTURE(forwardDct, sse2, KernelSet::Sse2);
BENCHMARK_CAPTURE(forwardDct, avx2, KernelSet::Avx2);
BENCHMARK_CAPTURE(forwardDct, avx512, KernelSet::Avx512);
BENCHMARK_CAPTURE(quantize, plain, KernelSet::Plain);
BENCHMARK_CAPTURE(quantize, vectorPortable, KernelSet::VectorPortable);
BENCHMARK_CAPTURE(quantize, sse2, KernelSet::Sse2);
BENCHMARK_CAPTURE(quantize, avx2, KernelSet::Avx2);
BENCHMARK_CAPTURE(transform, sse2, KernelSet::Sse2);
BENCHMARK_CAPTURE(transform, avx2, KernelSet::Avx2);
BENCHMARK_CAPTURE(transform, avx512, KernelSet::Avx512);
#if defined(__SSE2__)
BENCHMARK_CAPTURE(prepareBlock, sse2, KernelSet::Sse2, prepareBlockSse2, false);
BENCHMARK_CAPTURE(prepareBlock, sse2Sparse, KernelSet::Sse2, prepareBlockSse2, true);
#endif
#if defined(QMJPEG_AVX2_ROUTINES)
BENCHMARK_CAPTURE(prepareBlock, avx2, KernelSet::Avx2, prepareBlockAvx2, false);
BENCHMARK_CAPTURE(prepareBlock, avx2Sparse, KernelSet::Avx2, prepareBlockAvx2, true);
#endif
#if defined(QMJPEG_AVX512_ROUTINES)
BENCHMARK_CAPTURE(prepareBlock, avx512, KernelSet::Avx512, prepareBlockAvx512, false);
BENCHMARK_CAPTURE(prepareBlock, avx512Sparse, KernelSet::Avx512, prepareBlockAvx512, true);
#endif
BENCHMARK_CAPTURE(encodeBlock, plain, KernelSet::Plain, false);
BENCHMARK_CAPTURE(encodeBlock, sse2, KernelSet::Sse2, false);
BENCHMARK_CAPTURE(encodeBlock, avx2, KernelSet::Avx2, false);
BENCHMARK_CAPTURE(encodeBlock, avx512, KernelSet::Avx512, false);
BENCHMARK_CAPTURE(encodeBlock, plainSparse, KernelSet::Plain, true);
BENCHMARK_CAPTURE(encodeBlock, sse2Sparse, KernelSet::Sse2, true);
BENCHMARK_CAPTURE(encodeBlock, avx2Sparse, KernelSet::Avx2, true);
BENCHMARK_CAPTURE(encodeBlock, avx512Sparse, KernelSet::Avx512, true);
BENCHMARK_CAPTURE(wholeBlock, sse2, KernelSet::Sse2);
BENCHMARK_CAPTURE(wholeBlock, avx2, KernelSet::Avx2);
BENCHMARK_CAPTURE(wholeBlock, avx512, KernelSet::Avx512);
BENCHMARK_CAPTURE(turboJpegPerBlock, accurateDct, 0);
BENCHMARK_CAPTURE(turboJpegPerBlock, fastDct, TJFLAG_FASTDCT);
