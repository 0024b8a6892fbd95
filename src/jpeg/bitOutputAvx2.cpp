// AVX2 reading of a block into zig-zag order for the vector block coder. AVX2 moves words
// only within a 128-bit lane, so the block is loaded as four pairs of rows, each pair once as
// it is (rows 2p, 2p + 1 in lanes 0, 1) and once with its rows exchanged; every 16 zig-zag
// positions are then the OR of byte shuffles of the pairs that hold them (five to seven of the
// eight). The non-zero mask and, for a dense block, the categories and value bits follow from
// the same registers.
#include "jpeg/preparedBlock.h"

#if defined(QMJPEG_AVX2_ROUTINES)

#include "jpeg/bitOutputAvx2.h"
#include "jpeg/quantizeAvx2.h"
#include "jpeg/zigzag.h"

#include <immintrin.h>

#include <cstdint>

namespace {

// Byte selectors of the shuffles: for the output vector of zig-zag positions 16j .. 16j + 15
// and the source s (row pair s / 2, its rows exchanged when s is odd), the bytes each output
// lane takes from that source; 0x80 (a zero byte) elsewhere.
struct ZigzagShuffles {
    alignas(32) std::uint8_t select[4][8][32];
    bool used[4][8];
};

constexpr ZigzagShuffles makeZigzagShuffles() {
    ZigzagShuffles t{};
    for (auto& vector : t.select) {
        for (auto& source : vector) {
            for (auto& byte : source) {
                byte = 0x80;
            }
        }
    }
    for (int k = 0; k < 64; ++k) {
        const int vector = k / 16;
        const int lane = (k / 8) % 2;
        const int word = k % 8;
        const int row = kZigzagNatural[k] / 8;
        const int column = kZigzagNatural[k] % 8;
        const int source = 2 * (row / 2) + (row % 2 != lane ? 1 : 0);
        t.select[vector][source][16 * lane + 2 * word] = static_cast<std::uint8_t>(2 * column);
        t.select[vector][source][16 * lane + 2 * word + 1] =
            static_cast<std::uint8_t>(2 * column + 1);
        t.used[vector][source] = true;
    }
    return t;
}

constexpr ZigzagShuffles kShuffles = makeZigzagShuffles();

// Two rows, the first in lane 0, from 16-byte loads: the quantiser has just stored the block
// in such pieces, and a wider load would wait for those stores to complete.
[[gnu::target("avx2")]] inline __m256i loadRows(const std::int16_t* first,
                                                const std::int16_t* second) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// `v` with the words that source s gives output vector j.
template <int j, int s>
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i take(__m256i v,
                                                                const __m256i (&sources)[8]) {
    if constexpr (kShuffles.used[j][s]) {
        const __m256i select =
            _mm256_load_si256(reinterpret_cast<const __m256i*>(kShuffles.select[j][s]));
        return _mm256_or_si256(v, _mm256_shuffle_epi8(sources[s], select));
    } else {
        return v;
    }
}

// Zig-zag positions 16j .. 16j + 15.
template <int j>
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i
zigzagVector(const __m256i (&sources)[8]) {
    __m256i v = _mm256_setzero_si256();
    v = take<j, 0>(v, sources);
    v = take<j, 1>(v, sources);
    v = take<j, 2>(v, sources);
    v = take<j, 3>(v, sources);
    v = take<j, 4>(v, sources);
    v = take<j, 5>(v, sources);
    v = take<j, 6>(v, sources);
    return take<j, 7>(v, sources);
}

// Bit i set where word i of the 32 in `a` (positions 0-15) and `b` (16-31) is zero.
[[gnu::target("avx2")]] inline std::uint32_t zeroMask(__m256i a, __m256i b) {
    const __m256i zero = _mm256_setzero_si256();
    // The pack interleaves the lanes: a.low, b.low, a.high, b.high; the permutation restores
    // the order.
    const __m256i packed =
        _mm256_packs_epi16(_mm256_cmpeq_epi16(a, zero), _mm256_cmpeq_epi16(b, zero));
    return static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0))));
}

// The zig-zag vectors of a block held as row pairs (`sources`, see kShuffles), with the
// non-zero mask and, for a dense block, the categories and value bits. True when dense.
[[gnu::target("avx2"), gnu::always_inline]] inline bool prepareSources(const __m256i (&sources)[8],
                                                                       PreparedBlock& out) {
    const __m256i zigzag[4] = {zigzagVector<0>(sources), zigzagVector<1>(sources),
                               zigzagVector<2>(sources), zigzagVector<3>(sources)};
    for (int j = 0; j < 4; ++j) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(out.zigzag + 16 * j), zigzag[j]);
    }
    out.nonZero = ~(std::uint64_t{zeroMask(zigzag[0], zigzag[1])} |
                    (std::uint64_t{zeroMask(zigzag[2], zigzag[3])} << 32));
    // Categorized here, so that the categories are computed with this target's instructions.
    if (!denseAfterDc(out)) {
        return false;
    }
    for (int j = 0; j < 4; ++j) {
        bit_output_avx2::categorizeSixteen(zigzag[j], out.category + 16 * j, out.bits + 16 * j);
    }
    return true;
}

} // namespace

[[gnu::target("avx2")]] bool prepareBlockAvx2(const std::int16_t* block, PreparedBlock& out) {
    __m256i sources[8];
    for (int pair = 0; pair < 4; ++pair) {
        const std::int16_t* first = block + 16 * pair;
        sources[2 * pair] = loadRows(first, first + 8);
        sources[2 * pair + 1] = loadRows(first + 8, first);
    }
    return prepareSources(sources, out);
}

// Each row pair quantised as quantizeBlockAvx2 does, then taken as it is and with its rows
// exchanged.
[[gnu::target("avx2")]] bool quantizePrepareBlockAvx2(const std::int16_t* block,
                                                      const std::uint16_t* reciprocals,
                                                      PreparedBlock& out) {
    __m256i sources[8];
    for (int pair = 0; pair < 4; ++pair) {
        const __m256i q = quantize_avx2::quantizeSixteen(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 16 * pair)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(reciprocals + 16 * pair)));
        sources[2 * pair] = q;
        sources[2 * pair + 1] = _mm256_permute4x64_epi64(q, _MM_SHUFFLE(1, 0, 3, 2));
    }
    return prepareSources(sources, out);
}

#endif
