// AVX2 kernel of the vector quantiser, inline so that the quantiser and the fused quantise-and-
// prepare step of the block coder share it.
#pragma once

#include "util/simdTargets.h"

#if defined(QMJPEG_AVX2_ROUTINES)

#include <immintrin.h>

namespace quantize_avx2 {

// Sixteen coefficients quantised as quantizeBlockSse2 does eight:
// ((c << 3) * (m >> 1) >> 16 + 1) >> 1, for reciprocals m.
[[gnu::target("avx2")]] inline __m256i quantizeSixteen(__m256i coefficients, __m256i reciprocals) {
    const __m256i a = _mm256_slli_epi16(coefficients, 3);
    const __m256i h = _mm256_srli_epi16(reciprocals, 1);
    return _mm256_srai_epi16(_mm256_add_epi16(_mm256_mulhi_epi16(a, h), _mm256_set1_epi16(1)), 1);
}

} // namespace quantize_avx2

#endif
