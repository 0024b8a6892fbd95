// The pixel kernels of the bitmap conversion and of the shading ratio. A kernel converts the
// leading pixels of a row in blocks of its width and returns how many it converted; the plain
// row loop converts the rest (the whole row with the plain set, whose kernels convert none).
// Every set gives the same bytes, so the widest set is used: the build's baseline set (SSE2 is
// part of every processor that an SSE2 build runs on), or AVX2 or AVX-512 (with VBMI) where the
// processor has it, no wider than the environment's limit (util/vectorLimit.h). A set without
// its own form of a kernel takes the form of the narrower set.
#pragma once

#include "util/simdTargets.h"

#include <cstdint>
#include <optional>

enum class PixelKernelSet { Plain, Sse2, Avx2, Avx512 };

// The widest set of the build's baseline, which every processor the build runs on has.
#if defined(__SSE2__)
inline constexpr PixelKernelSet kWidestPixelKernelSet = PixelKernelSet::Sse2;
#else
inline constexpr PixelKernelSet kWidestPixelKernelSet = PixelKernelSet::Plain;
#endif

// The widest set this processor runs within the environment's limit: AVX-512 or AVX2 where the
// build has its kernels and the processor runs them, kWidestPixelKernelSet otherwise (the plain
// set under the limit "portable").
PixelKernelSet widestPixelKernelSet();

// 3- or 4-byte bitmap pixels into 4-byte image pixels.
using PackRowKernel = std::int64_t (*)(const std::uint8_t* src, std::uint8_t* dst,
                                       std::int64_t columns);

struct DibKernels {
    PackRowKernel bgr24;         // 3-byte pixels, the fourth byte 0
    PackRowKernel bgr24Swapped;  // the same with bytes 0 and 2 exchanged
    PackRowKernel bgra32Swapped; // 4-byte pixels with bytes 0 and 2 exchanged
};

// The kernels of the set; nothing for a set the build lacks.
std::optional<DibKernels> dibKernelsFor(PixelKernelSet set);

// The kernels of widestPixelKernelSet(), as the conversion uses them.
const DibKernels& dibKernels();

#if defined(__SSE2__)
std::int64_t packBgr24Sse2(const std::uint8_t* src, std::uint8_t* dst, std::int64_t columns);
std::int64_t packBgr24SwappedSse2(const std::uint8_t* src, std::uint8_t* dst, std::int64_t columns);
std::int64_t packBgra32SwappedSse2(const std::uint8_t* src, std::uint8_t* dst,
                                   std::int64_t columns);
#endif
#if defined(QMJPEG_AVX2_ROUTINES)
std::int64_t packBgr24Avx2(const std::uint8_t* src, std::uint8_t* dst, std::int64_t columns);
std::int64_t packBgr24SwappedAvx2(const std::uint8_t* src, std::uint8_t* dst, std::int64_t columns);
std::int64_t packBgra32SwappedAvx2(const std::uint8_t* src, std::uint8_t* dst,
                                   std::int64_t columns);
#endif
