// The pixel kernels of the bitmap conversion and of the shading ratio. A kernel converts the
// leading pixels of a row in blocks of its width and returns how many it converted; the plain
// row loop converts the rest (the whole row with the plain set, whose kernels convert none).
// Every set gives the same bytes, so the widest set the build has is used: SSE2 is part of
// every processor that an SSE2 build runs on.
#pragma once

#include <cstdint>
#include <optional>

enum class PixelKernelSet { Plain, Sse2 };

#if defined(__SSE2__)
inline constexpr PixelKernelSet kWidestPixelKernelSet = PixelKernelSet::Sse2;
#else
inline constexpr PixelKernelSet kWidestPixelKernelSet = PixelKernelSet::Plain;
#endif

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

// The kernels of kWidestPixelKernelSet, as the conversion uses them.
const DibKernels& dibKernels();

#if defined(__SSE2__)
std::int64_t packBgr24Sse2(const std::uint8_t* src, std::uint8_t* dst, std::int64_t columns);
std::int64_t packBgr24SwappedSse2(const std::uint8_t* src, std::uint8_t* dst, std::int64_t columns);
std::int64_t packBgra32SwappedSse2(const std::uint8_t* src, std::uint8_t* dst,
                                   std::int64_t columns);
#endif
