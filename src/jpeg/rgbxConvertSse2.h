// The SSE2 colour conversion of 4-byte RGB pixels shared by the fetch routines: 8 pixels into
// one row of Y, Cb and Cr, with the same results as the plain equations.
#pragma once

#if defined(__SSE2__)

#include <emmintrin.h>

#include <cstdint>

namespace rgbx_sse2 {

// 16-bit lanes a, b, a, b, ... for _mm_madd_epi16.
inline __m128i weightPair(short a, short b) {
    return _mm_setr_epi16(a, b, a, b, a, b, a, b);
}

// Converts 8 pixels of 4 bytes each into one row of the Y, Cb and Cr blocks. The fourth byte
// of each pixel gets the weight 0.
inline void convertRow(const std::uint8_t* pixels, std::int16_t* y, std::int16_t* cb,
                       std::int16_t* cr) {
    const __m128i evenMask = _mm_set1_epi32(0x00FF00FF);
    const __m128i yRedBlue = weightPair(77, 29);
    const __m128i yGreen = weightPair(150, 0);
    const __m128i cbRedBlue = weightPair(-43, 128);
    const __m128i cbGreen = weightPair(-85, 0);
    const __m128i crRedBlue = weightPair(128, -21);
    const __m128i crGreen = weightPair(-107, 0);
    const __m128i yBias = _mm_set1_epi32(-32640);
    const __m128i chromaBias = _mm_set1_epi32(128);

    __m128i yHalf[2];
    __m128i cbHalf[2];
    __m128i crHalf[2];
    for (int half = 0; half < 2; ++half) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 16 * half));
        const __m128i redBlue = _mm_and_si128(p, evenMask); // 16-bit lanes R, B
        const __m128i greenX = _mm_srli_epi16(p, 8);        // 16-bit lanes G, fourth byte
        yHalf[half] = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(redBlue, yRedBlue),
                                                                 _mm_madd_epi16(greenX, yGreen)),
                                                   yBias),
                                     8);
        cbHalf[half] =
            _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(redBlue, cbRedBlue),
                                                       _mm_madd_epi16(greenX, cbGreen)),
                                         chromaBias),
                           8);
        crHalf[half] =
            _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(redBlue, crRedBlue),
                                                       _mm_madd_epi16(greenX, crGreen)),
                                         chromaBias),
                           8);
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(y), _mm_packs_epi32(yHalf[0], yHalf[1]));
    _mm_store_si128(reinterpret_cast<__m128i*>(cb), _mm_packs_epi32(cbHalf[0], cbHalf[1]));
    _mm_store_si128(reinterpret_cast<__m128i*>(cr), _mm_packs_epi32(crHalf[0], crHalf[1]));
}

} // namespace rgbx_sse2

#endif
