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

#if defined(__SSE2__)
int shadeStoredBgr24RowSse2(const std::uint8_t* table, const std::uint8_t* source,
                            const std::uint8_t* final, std::uint8_t* result, int width);
int shadeRowSse2(const std::uint8_t* table, const std::uint8_t* source, const std::uint8_t* final,
                 std::uint8_t* result, int width);
#endif
