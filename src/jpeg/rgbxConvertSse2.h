// The SSE2 colour conversion of 4-byte RGB pixels shared by the fetch routines: 8 pixels into
// one row of Y, Cb and Cr, with the same results as the plain equations.
#pragma once

#if defined(__SSE2__)

#include "jpeg/yccWeights.h"

#include <emmintrin.h>

#include <cstdint>

namespace rgbx_sse2 {

// One component (yccWeights.h) of 4 pixels, from their red and blue bytes and their green and
// fourth bytes as 16-bit lanes; the fourth byte gets the weight 0.
inline __m128i component(__m128i redBlue, __m128i greenX, const YccWeights& w) {
    const __m128i redBlueWeights = _mm_set1_epi32(static_cast<std::uint16_t>(w.red) |
                                                  static_cast<std::uint32_t>(w.blue) << 16);
    const __m128i greenWeights = _mm_set1_epi32(static_cast<std::uint16_t>(w.green));
    return _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(redBlue, redBlueWeights),
                                                      _mm_madd_epi16(greenX, greenWeights)),
                                        _mm_set1_epi32(w.bias)),
                          8);
}

// Converts 8 pixels of 4 bytes each into one row of the Y, Cb and Cr blocks.
inline void convertRow(const std::uint8_t* pixels, std::int16_t* y, std::int16_t* cb,
                       std::int16_t* cr) {
    const __m128i evenMask = _mm_set1_epi32(0x00FF00FF);
    __m128i redBlue[2];
    __m128i greenX[2];
    for (int half = 0; half < 2; ++half) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 16 * half));
        redBlue[half] = _mm_and_si128(p, evenMask); // 16-bit lanes R, B
        greenX[half] = _mm_srli_epi16(p, 8);        // 16-bit lanes G, fourth byte
    }
    const auto store = [&](std::int16_t* out, const YccWeights& w) {
        _mm_store_si128(reinterpret_cast<__m128i*>(out),
                        _mm_packs_epi32(component(redBlue[0], greenX[0], w),
                                        component(redBlue[1], greenX[1], w)));
    };
    store(y, kLumaWeights);
    store(cb, kBlueDifferenceWeights);
    store(cr, kRedDifferenceWeights);
}

} // namespace rgbx_sse2

#endif
