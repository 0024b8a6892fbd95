// AVX2 version of the vector quantiser: the SSE2 arithmetic on sixteen lanes at a time.
#include "jpeg/blockTransform.h"

#if defined(QMJPEG_AVX2_ROUTINES)

#include <immintrin.h>

#include <cstdint>

// ((c << 3) * (m >> 1) >> 16 + 1) >> 1, as quantizeBlockSse2.
[[gnu::target("avx2")]] void quantizeBlockAvx2(std::int16_t* block,
                                               const std::uint16_t* reciprocals) {
    auto* data = reinterpret_cast<__m256i*>(block);
    const auto* steps = reinterpret_cast<const __m256i*>(reciprocals);
    const __m256i one = _mm256_set1_epi16(1);
    for (int i = 0; i < 4; ++i) {
        const __m256i a = _mm256_slli_epi16(_mm256_loadu_si256(data + i), 3);
        const __m256i h = _mm256_srli_epi16(_mm256_loadu_si256(steps + i), 1);
        const __m256i q = _mm256_srai_epi16(_mm256_add_epi16(_mm256_mulhi_epi16(a, h), one), 1);
        _mm256_storeu_si256(data + i, q);
    }
}

#endif
