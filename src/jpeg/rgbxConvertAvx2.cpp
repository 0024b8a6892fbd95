#include "jpeg/rgbxConvertAvx2.h"

#if defined(QMJPEG_AVX2_ROUTINES)

#include "jpeg/yccWeights.h"

#include <immintrin.h>

namespace {

// One component (yccWeights.h) of 8 pixels, from their red and blue bytes and their green and
// fourth bytes as 16-bit lanes; the fourth byte gets the weight 0.
[[gnu::target("avx2")]] inline __m256i component(__m256i redBlue, __m256i greenX,
                                                 const YccWeights& w) {
    const __m256i redBlueWeights = _mm256_set1_epi32(static_cast<std::uint16_t>(w.red) |
                                                     static_cast<std::uint32_t>(w.blue) << 16);
    const __m256i greenWeights = _mm256_set1_epi32(static_cast<std::uint16_t>(w.green));
    return _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(redBlue, redBlueWeights),
                                          _mm256_madd_epi16(greenX, greenWeights)),
                         _mm256_set1_epi32(w.bias)),
        8);
}

// One component of two rows, from each row's red-blue and green lanes: each ymm holds the 8
// pixels of one row (pixels 0-3 in the low lane, 4-7 in the high one). The in-lane pack gives
// row r pixels 0-3, row r + 1 pixels 0-3, row r pixels 4-7, row r + 1 pixels 4-7; the
// permutation puts them in block order.
[[gnu::target("avx2")]] inline void storeComponent(std::int16_t* out, const __m256i (&redBlue)[2],
                                                   const __m256i (&greenX)[2],
                                                   const YccWeights& w) {
    const __m256i packed = _mm256_packs_epi32(component(redBlue[0], greenX[0], w),
                                              component(redBlue[1], greenX[1], w));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
}

} // namespace

[[gnu::target("avx2")]] void convertMcuRgbxAvx2(const std::uint8_t* pixels, std::ptrdiff_t stride,
                                                std::int16_t* blocks) {
    const __m256i evenMask = _mm256_set1_epi32(0x00FF00FF);
    for (int r = 0; r < 8; r += 2) {
        __m256i redBlue[2];
        __m256i greenX[2];
        for (int i = 0; i < 2; ++i) {
            const __m256i p =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels + (r + i) * stride));
            redBlue[i] = _mm256_and_si256(p, evenMask); // 16-bit lanes R, B
            greenX[i] = _mm256_srli_epi16(p, 8);        // 16-bit lanes G, fourth byte
        }
        storeComponent(blocks + 8 * r, redBlue, greenX, kLumaWeights);
        storeComponent(blocks + 64 + 8 * r, redBlue, greenX, kBlueDifferenceWeights);
        storeComponent(blocks + 128 + 8 * r, redBlue, greenX, kRedDifferenceWeights);
    }
}

#endif
