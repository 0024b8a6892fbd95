// Encoding speed of a 4096 x 4096 photo-like image at quality 95, into memory: the tool's
// layout (RGBX to YCbCr 4:4:4) with the plain routine set, the vector routine set and TurboJPEG;
// and 3-byte RGB to YCbCr 4:4:4 and 4:2:0 (the fetch routine for the other layouts) with the
// vector set and TurboJPEG.
#include "jpeg/jpegEncoder.h"
#include "jpeg/processorInfo.h"

#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int kSize = 4096;
constexpr int kQuality = 95;

// Smooth gradients, a soft texture and a little noise; the fourth byte is noise too.
const std::vector<std::uint8_t>& photoLikeImage() {
    static const std::vector<std::uint8_t> pixels = [] {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kSize) * kSize * 4);
        std::uint32_t seed = 12345;
        const auto noise = [&seed](int amplitude) {
            seed = seed * 1664525u + 1013904223u;
            return static_cast<int>((seed >> 24) % (2 * amplitude + 1)) - amplitude;
        };
        const auto clamp = [](double v) {
            return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v));
        };
        for (int y = 0; y < kSize; ++y) {
            for (int x = 0; x < kSize; ++x) {
                const double fx = static_cast<double>(x) / kSize;
                const double fy = static_cast<double>(y) / kSize;
                const double texture =
                    30.0 * std::sin(x * 0.05 + 3.0 * std::sin(y * 0.013)) * std::cos(y * 0.031);
                const double shape = 50.0 * std::sin(fx * 7.0 + fy * 3.0);
                std::uint8_t* p = bytes.data() + (static_cast<std::size_t>(y) * kSize + x) * 4;
                p[0] = clamp(60 + 140 * fx + shape + texture + noise(4));
                p[1] = clamp(40 + 160 * fy - shape / 2 + texture + noise(4));
                p[2] = clamp(190 - 110 * fx * fy + texture / 2 + noise(4));
                p[3] = static_cast<std::uint8_t>(seed >> 16);
            }
        }
        return bytes;
    }();
    return pixels;
}

void reportRate(benchmark::State& state, std::size_t lastSize) {
    const double pixels = static_cast<double>(kSize) * kSize;
    state.counters["Mpixel/s"] =
        benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["bytes"] = static_cast<double>(lastSize);
}

// The same picture with 3 bytes per pixel.
const std::vector<std::uint8_t>& photoLikeRgb() {
    static const std::vector<std::uint8_t> pixels = [] {
        const std::vector<std::uint8_t>& rgbx = photoLikeImage();
        std::vector<std::uint8_t> bytes(rgbx.size() / 4 * 3);
        for (std::size_t i = 0; i < rgbx.size() / 4; ++i) {
            for (std::size_t k = 0; k < 3; ++k) {
                bytes[3 * i + k] = rgbx[4 * i + k];
            }
        }
        return bytes;
    }();
    return pixels;
}

void encodeWithClass(benchmark::State& state, const char* processorClass, int bytesPerPixel = 4,
                     int sampling = JPEG_SAMPLING_NONE) {
    const std::vector<std::uint8_t>& pixels =
        bytesPerPixel == 4 ? photoLikeImage() : photoLikeRgb();
    std::vector<std::uint8_t> output(pixels.size());
    setenv(kProcessorClassVariable, processorClass, 1);
    std::size_t size = 0;
    for (auto _ : state) {
        auto p = std::make_unique<JPEG_PROPERTIES>();
        jpegInitialize(p.get());
        p->inputPixels = pixels.data();
        p->inputWidth = p->outputWidth = kSize;
        p->inputHeight = p->outputHeight = kSize;
        p->inputChannels = bytesPerPixel;
        p->inputColor = JPEG_COLOR_RGB;
        p->outputChannels = 3;
        p->outputColor = JPEG_COLOR_YCBCR;
        p->outputSampling = sampling;
        p->quality = kQuality;
        p->outputBuffer = output.data();
        p->outputBufferSize = static_cast<std::int32_t>(output.size());
        if (jpegWrite(p.get(), JPEG_WRITE_BUFFER_IMAGE) != 0) {
            state.SkipWithError("encoder failed");
        }
        size = static_cast<std::size_t>(p->outputBufferSize);
        jpegRelease(p.get());
        benchmark::DoNotOptimize(output.data());
    }
    unsetenv(kProcessorClassVariable);
    reportRate(state, size);
}

void BM_EncodePlainSet(benchmark::State& state) {
    encodeWithClass(state, "0");
}
void BM_EncodeVectorSet(benchmark::State& state) {
    encodeWithClass(state, "6");
}
void BM_EncodeVectorSetRgb444(benchmark::State& state) {
    encodeWithClass(state, "6", 3, JPEG_SAMPLING_NONE);
}
void BM_EncodeVectorSetRgb420(benchmark::State& state) {
    encodeWithClass(state, "6", 3, JPEG_SAMPLING_H2V2);
}

void encodeWithTurboJpeg(benchmark::State& state, int pixelFormat, int sampling) {
    const std::vector<std::uint8_t>& pixels =
        pixelFormat == TJPF_RGBX ? photoLikeImage() : photoLikeRgb();
    tjhandle handle = tjInitCompress();
    unsigned long capacity = tjBufSize(kSize, kSize, sampling);
    unsigned char* output = tjAlloc(static_cast<int>(capacity));
    unsigned long size = 0;
    for (auto _ : state) {
        size = capacity;
        if (tjCompress2(handle, pixels.data(), kSize, kSize * tjPixelSize[pixelFormat], kSize,
                        pixelFormat, &output, &size, sampling, kQuality, TJFLAG_NOREALLOC) != 0) {
            state.SkipWithError("tjCompress2 failed");
        }
        benchmark::DoNotOptimize(output);
    }
    tjFree(output);
    tjDestroy(handle);
    reportRate(state, size);
}

void BM_EncodeTurboJpeg(benchmark::State& state) {
    encodeWithTurboJpeg(state, TJPF_RGBX, TJSAMP_444);
}
void BM_EncodeTurboJpegRgb444(benchmark::State& state) {
    encodeWithTurboJpeg(state, TJPF_RGB, TJSAMP_444);
}
void BM_EncodeTurboJpegRgb420(benchmark::State& state) {
    encodeWithTurboJpeg(state, TJPF_RGB, TJSAMP_420);
}

BENCHMARK(BM_EncodePlainSet)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeVectorSet)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeTurboJpeg)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeVectorSetRgb444)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeTurboJpegRgb444)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeVectorSetRgb420)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeTurboJpegRgb420)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
