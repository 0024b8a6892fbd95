// The pixel kernels of the shading ratio (see image/pixelKernels.h): each takes the leading
// pixels of a row through the ratio table (entry (final << 8) | source) and returns how many it
// took; the plain loop takes the rest. A result row may be its own source row.
#pragma once

#include "image/pixelKernels.h"

#include <cstdint>
#include <optional>

using ShadeRowKernel = int (*)(const std::uint8_t* table, const std::uint8_t* source,
                               const std::uint8_t* final, std::uint8_t* result, int width);

// The kernel of the set; nothing for a set the build lacks.
std::optional<ShadeRowKernel> shadeRowKernelFor(PixelKernelSet set);

// The stored-row kernel of the set for 3-byte blue-green-red pixels on both sides (see
// shadingRatioStoredRow), with the same contract.
std::optional<ShadeRowKernel> shadeStoredBgr24KernelFor(PixelKernelSet set);

// The ratio before rounding as the product of two single-precision factors, f^e and 64 / s^e
// (0 for s = 0), each 256-entry table split into its four byte planes (byte k of every entry's
// IEEE bits in plane k) for byte-permute lookups. The product lies within 5e-5 of the value the
// ratio table rounds, so it gives the table's byte wherever it is not that close to a rounding
// boundary; kernels that use it take the table near one.
struct RatioFactorPlanes {
    alignas(64) std::uint8_t finalFactor[4][256];
    alignas(64) std::uint8_t sourceFactor[4][256];
};

const RatioFactorPlanes& ratioFactorPlanes();

#if defined(__SSE2__)
int shadeStoredBgr24RowSse2(const std::uint8_t* table, const std::uint8_t* source,
                            const std::uint8_t* final, std::uint8_t* result, int width);
int shadeRowSse2(const std::uint8_t* table, const std::uint8_t* source, const std::uint8_t* final,
                 std::uint8_t* result, int width);
#endif
#if defined(QMJPEG_AVX512_ROUTINES)
// 64 stored or 16 RGBA pixels at a time from the factor planes (needs AVX-512 F, BW and
// VBMI).
int shadeStoredBgr24RowAvx512(const std::uint8_t* table, const std::uint8_t* source,
                              const std::uint8_t* final, std::uint8_t* result, int width);
int shadeRowAvx512(const std::uint8_t* table, const std::uint8_t* source, const std::uint8_t* final,
                   std::uint8_t* result, int width);
#endif
