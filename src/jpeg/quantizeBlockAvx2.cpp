// AVX2 version of the vector quantiser: the SSE2 arithmetic on sixteen lanes at a time.
#include "jpeg/blockTransform.h"

#if defined(QMJPEG_AVX2_ROUTINES)

#include "jpeg/quantizeAvx2.h"

#include <cstdint>

[[gnu::target("avx2")]] void quantizeBlockAvx2(std::int16_t* block,
                                               const std::uint16_t* reciprocals) {
    auto* data = reinterpret_cast<__m256i*>(block);
    const auto* steps = reinterpret_cast<const __m256i*>(reciprocals);
    for (int i = 0; i < 4; ++i) {
        _mm256_storeu_si256(data + i,
                            quantize_avx2::quantizeSixteen(_mm256_loadu_si256(data + i),
                                                           _mm256_loadu_si256(steps + i)));
    }
}

#endif
