// A quantised block read into zig-zag order for the vector block coder, and the reading
// kernels of the instruction sets that have their own.
#pragma once

#include "jpeg/simdTargets.h"

#include <cstdint>

// The block in zig-zag order with the mask of its non-zero positions and, for blocks with many
// of them, the category and value bits (already cut to the category) of every position,
// computed eight at a time. Sparse blocks compute these only where needed.
struct PreparedBlock {
    alignas(64) std::int16_t zigzag[64];
    alignas(16) std::uint16_t category[64];
    alignas(16) std::uint16_t bits[64];
    std::uint64_t nonZero;
};

#if defined(QMJPEG_AVX512_ROUTINES)
// Fills `zigzag` and `nonZero` from a block in natural order (needs AVX-512BW).
void gatherZigzagAvx512(const std::int16_t* block, PreparedBlock& out);
#endif
