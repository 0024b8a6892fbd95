// AVX-512 reading of a block into zig-zag order for the vector block coder: each half of the
// order is one two-table word permutation of the block, and the non-zero mask comes from one
// test per half. The fused form quantises the block in registers first.
#include "jpeg/bitOutputAvx2.h"
#include "jpeg/preparedBlock.h"

#if defined(QMJPEG_AVX512_ROUTINES)

#include "jpeg/zigzag.h"

#include <immintrin.h>

namespace {

// The zig-zag map as word indices into the two halves of a block (32 words each).
struct ZigzagIndices {
    alignas(64) std::int16_t half[2][32];
};

constexpr ZigzagIndices makeZigzagIndices() {
    ZigzagIndices indices{};
    for (int k = 0; k < 64; ++k) {
        indices.half[k / 32][k % 32] = static_cast<std::int16_t>(kZigzagNatural[k]);
    }
    return indices;
}

constexpr ZigzagIndices kZigzagIndices = makeZigzagIndices();

[[gnu::target("avx512bw")]] inline __m512i loadFourPieces(const std::int16_t* words) {
    const auto* pieces = reinterpret_cast<const __m128i*>(words);
    const __m256i first = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(pieces)),
                                                  _mm_loadu_si128(pieces + 1), 1);
    const __m256i second = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(pieces + 2)), _mm_loadu_si128(pieces + 3), 1);
    // The masked form: GCC 12's plain insert reads an uninitialised vector.
    const __m512i base = _mm512_castsi256_si512(first);
    return _mm512_mask_inserti64x4(base, 0xFF, base, second, 1);
}

// The zig-zag halves of a block held as its two natural-order halves, with the non-zero mask
// and, for a dense block, the categories and value bits. True when dense.
[[gnu::target("avx512bw"), gnu::always_inline]] inline bool prepareHalves(__m512i low, __m512i high,
                                                                          PreparedBlock& out) {
    const __m512i first =
        _mm512_permutex2var_epi16(low, _mm512_load_si512(kZigzagIndices.half[0]), high);
    const __m512i second =
        _mm512_permutex2var_epi16(low, _mm512_load_si512(kZigzagIndices.half[1]), high);
    _mm512_store_si512(out.zigzag, first);
    _mm512_store_si512(out.zigzag + 32, second);
    out.nonZero = std::uint64_t{_mm512_test_epi16_mask(first, first)} |
                  (std::uint64_t{_mm512_test_epi16_mask(second, second)} << 32);
    // Categorized here, so that the categories are computed with this target's instructions,
    // sixteen at a time.
    if (!denseAfterDc(out)) {
        return false;
    }
    bit_output_avx2::categorize(out);
    return true;
}

// Half of a block quantised as quantizeBlockAvx2 does: ((c << 3) * (m >> 1) >> 16 + 1) >> 1.
// The zero-masked shifts: GCC 12's plain ones read an uninitialised vector.
[[gnu::target("avx512bw"), gnu::always_inline]] inline __m512i
quantizeHalf(const std::int16_t* coefficients, const std::uint16_t* reciprocals) {
    constexpr __mmask32 kWords = 0xFFFFFFFF;
    const __m512i a = _mm512_maskz_slli_epi16(kWords, _mm512_loadu_si512(coefficients), 3);
    const __m512i h = _mm512_maskz_srli_epi16(kWords, _mm512_loadu_si512(reciprocals), 1);
    return _mm512_maskz_srai_epi16(
        kWords, _mm512_add_epi16(_mm512_mulhi_epi16(a, h), _mm512_set1_epi16(1)), 1);
}

} // namespace

[[gnu::target("avx512bw")]] bool prepareBlockAvx512(const std::int16_t* block, PreparedBlock& out) {
    // Loaded in 16-byte pieces, as the quantiser has just stored them: a wider load would
    // wait for those stores to complete instead of taking their data on the way.
    return prepareHalves(loadFourPieces(block), loadFourPieces(block + 32), out);
}

[[gnu::target("avx512bw")]] bool quantizePrepareBlockAvx512(const std::int16_t* block,
                                                            const std::uint16_t* reciprocals,
                                                            PreparedBlock& out) {
    return prepareHalves(quantizeHalf(block, reciprocals),
                         quantizeHalf(block + 32, reciprocals + 32), out);
}

#endif
