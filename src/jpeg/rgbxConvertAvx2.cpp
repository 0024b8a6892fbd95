#include "jpeg/rgbxConvertAvx2.h"

#if defined(QMJPEG_AVX2_ROUTINES)

#include <immintrin.h>

namespace {

// 16-bit lanes a, b, a, b, ... for _mm256_madd_epi16.
[[gnu::target("avx2")]] inline __m256i weightPair(short a, short b) {
    return _mm256_setr_epi16(a, b, a, b, a, b, a, b, a, b, a, b, a, b, a, b);
}

// One component of two rows: each ymm holds the 8 pixels of one row (pixels 0-3 in the low
// lane, 4-7 in the high one). The in-lane pack gives row r pixels 0-3, row r + 1 pixels 0-3,
// row r pixels 4-7, row r + 1 pixels 4-7; the permutation puts them in block order.
[[gnu::target("avx2")]] inline void storeComponent(std::int16_t* out, __m256i rowA, __m256i rowB) {
    const __m256i packed = _mm256_packs_epi32(rowA, rowB);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
}

} // namespace

[[gnu::target("avx2")]] void convertMcuRgbxAvx2(const std::uint8_t* pixels, std::ptrdiff_t stride,
                                                std::int16_t* blocks) {
    const __m256i evenMask = _mm256_set1_epi32(0x00FF00FF);
    const __m256i yRedBlue = weightPair(77, 29);
    const __m256i yGreen = weightPair(150, 0);
    const __m256i cbRedBlue = weightPair(-43, 128);
    const __m256i cbGreen = weightPair(-85, 0);
    const __m256i crRedBlue = weightPair(128, -21);
    const __m256i crGreen = weightPair(-107, 0);
    const __m256i yBias = _mm256_set1_epi32(-32640);
    const __m256i chromaBias = _mm256_set1_epi32(128);
    for (int r = 0; r < 8; r += 2) {
        __m256i y[2];
        __m256i cb[2];
        __m256i cr[2];
        for (int i = 0; i < 2; ++i) {
            const __m256i p =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels + (r + i) * stride));
            const __m256i redBlue = _mm256_and_si256(p, evenMask); // 16-bit lanes R, B
            const __m256i greenX = _mm256_srli_epi16(p, 8);        // 16-bit lanes G, fourth byte
            y[i] = _mm256_srai_epi32(
                _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(redBlue, yRedBlue),
                                                  _mm256_madd_epi16(greenX, yGreen)),
                                 yBias),
                8);
            cb[i] = _mm256_srai_epi32(
                _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(redBlue, cbRedBlue),
                                                  _mm256_madd_epi16(greenX, cbGreen)),
                                 chromaBias),
                8);
            cr[i] = _mm256_srai_epi32(
                _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(redBlue, crRedBlue),
                                                  _mm256_madd_epi16(greenX, crGreen)),
                                 chromaBias),
                8);
        }
        storeComponent(blocks + 8 * r, y[0], y[1]);
        storeComponent(blocks + 64 + 8 * r, cb[0], cb[1]);
        storeComponent(blocks + 128 + 8 * r, cr[0], cr[1]);
    }
}

#endif
