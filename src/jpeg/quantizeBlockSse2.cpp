#include "jpeg/blockTransform.h"

#if defined(__SSE2__)

#include <emmintrin.h>

#include <cstdint>

// Eight lanes at a time: ((c << 3) * (m >> 1) >> 16 + 1) >> 1.
void quantizeBlockSse2(std::int16_t* block, const std::uint16_t* reciprocals) {
    __m128i* data = reinterpret_cast<__m128i*>(block);
    const __m128i* steps = reinterpret_cast<const __m128i*>(reciprocals);
    const __m128i one = _mm_set1_epi16(1);
    for (int i = 0; i < 8; ++i) {
        const __m128i a = _mm_slli_epi16(_mm_loadu_si128(data + i), 3);
        const __m128i h = _mm_srli_epi16(_mm_loadu_si128(steps + i), 1);
        const __m128i q = _mm_srai_epi16(_mm_add_epi16(_mm_mulhi_epi16(a, h), one), 1);
        _mm_storeu_si128(data + i, q);
    }
}

#endif
