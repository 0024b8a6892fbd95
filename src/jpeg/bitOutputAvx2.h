// AVX2 kernel of the vector block coder, inline so that the AVX2 and AVX-512 block
// preparations fold it in: the categories and value bits of a dense block, sixteen at a time.
#pragma once

#include "jpeg/preparedBlock.h"
#include "util/simdTargets.h"

#if defined(QMJPEG_AVX2_ROUTINES)

#include <immintrin.h>

#include <cstdint>

namespace bit_output_avx2 {

// Categories and value bits of sixteen coefficients, as bit_output_sse2::categorizeGroup
// computes them for eight: the unpacks and packs stay within each lane, so every lane does
// exactly that computation.
[[gnu::target("avx2")]] inline void categorizeSixteen(__m256i v, std::uint16_t* category,
                                                      std::uint16_t* bits) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i sign = _mm256_srai_epi16(v, 15);
    const __m256i magnitude = _mm256_sub_epi16(_mm256_xor_si256(v, sign), sign);
    const __m256i floatLow =
        _mm256_castps_si256(_mm256_cvtepi32_ps(_mm256_unpacklo_epi16(magnitude, zero)));
    const __m256i floatHigh =
        _mm256_castps_si256(_mm256_cvtepi32_ps(_mm256_unpackhi_epi16(magnitude, zero)));
    const __m256i exponent =
        _mm256_packs_epi32(_mm256_srli_epi32(floatLow, 23), _mm256_srli_epi32(floatHigh, 23));
    const __m256i exponentMask = _mm256_set1_epi32(0x7F800000);
    const __m256i power = _mm256_packs_epi32(
        _mm256_cvttps_epi32(_mm256_castsi256_ps(_mm256_and_si256(floatLow, exponentMask))),
        _mm256_cvttps_epi32(_mm256_castsi256_ps(_mm256_and_si256(floatHigh, exponentMask))));
    const __m256i ones = _mm256_sub_epi16(_mm256_add_epi16(power, power), _mm256_set1_epi16(1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(category),
                        _mm256_subs_epu16(exponent, _mm256_set1_epi16(126)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(bits),
                        _mm256_xor_si256(magnitude, _mm256_and_si256(ones, sign)));
}

// Fills `category` and `bits` at all 64 positions from `zigzag`.
[[gnu::target("avx2")]] inline void categorize(PreparedBlock& out) {
    for (int k = 0; k < 64; k += 16) {
        categorizeSixteen(_mm256_load_si256(reinterpret_cast<const __m256i*>(out.zigzag + k)),
                          out.category + k, out.bits + k);
    }
}

} // namespace bit_output_avx2

#endif
