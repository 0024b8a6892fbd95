// A quantised block read into zig-zag order for the vector block coder, and the reading
// kernels of the instruction sets that have their own.
#pragma once

#include "util/simdTargets.h"

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

// From this many non-zero AC coefficients on, computing all 64 categories at once is cheaper.
inline constexpr int kDenseBlock = 16;

// Bits set in `mask`, inline: without a population-count instruction in the target, the
// library call std::popcount makes costs more than this.
inline int bitsSet(std::uint64_t mask) {
    mask -= (mask >> 1) & 0x5555555555555555u;
    mask = (mask & 0x3333333333333333u) + ((mask >> 2) & 0x3333333333333333u);
    mask = (mask + (mask >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<int>((mask * 0x0101010101010101u) >> 56);
}

// Takes the DC out of the non-zero mask (it is coded on its own); true when the block is dense
// enough for its categories to be computed whole.
inline bool denseAfterDc(PreparedBlock& out) {
    out.nonZero &= ~std::uint64_t{1};
    return bitsSet(out.nonZero) >= kDenseBlock;
}

#if defined(QMJPEG_AVX2_ROUTINES)
// Fills `zigzag` and `nonZero` from a block in natural order and, for a dense block, its
// categories and value bits (needs AVX2). True when dense.
bool prepareBlockAvx2(const std::int16_t* block, PreparedBlock& out);
// The same for the block as quantizeBlockAvx2 would leave it (the block is not written).
bool quantizePrepareBlockAvx2(const std::int16_t* block, const std::uint16_t* reciprocals,
                              PreparedBlock& out);
#endif
#if defined(QMJPEG_AVX512_ROUTINES)
// Fills `zigzag` and `nonZero` from a block in natural order and, for a dense block, its
// categories and value bits (needs AVX-512BW). True when dense.
bool prepareBlockAvx512(const std::int16_t* block, PreparedBlock& out);
// The same for the block as quantizeBlockAvx2 would leave it (the block is not written).
bool quantizePrepareBlockAvx512(const std::int16_t* block, const std::uint16_t* reciprocals,
                                PreparedBlock& out);
#endif
