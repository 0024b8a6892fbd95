// The two passes of the SSE2 forward DCT, shared by the SSE2 routine and the AVX-512 one,
// which takes the same column pass and does the row pass four rows at a time.
#pragma once

#if defined(__SSE2__)

#include "jpeg/forwardDctSse2Tables.h"

#include <emmintrin.h>

#include <cstdint>

namespace sse2_dct {

// Per weight table, four vectors of weight pairs laid out for the multiply-adds of rowPass:
// [0] and [1] give outputs 0..3 from (s0,s1,d0,d1) and (s2,s3,d2,d3), [2] and [3] outputs 4..7.
struct RowWeights {
    alignas(16) std::int16_t v[4][4][8];
};

constexpr RowWeights makeRowWeights() {
    RowWeights w{};
    for (int t = 0; t < 4; ++t) {
        for (int part = 0; part < 4; ++part) {
            const int firstOutput = (part >> 1) * 4;
            const int firstInput = (part & 1) * 2;
            for (int j = 0; j < 4; ++j) {
                w.v[t][part][2 * j] = kWeights[t][firstOutput + j][firstInput];
                w.v[t][part][2 * j + 1] = kWeights[t][firstOutput + j][firstInput + 1];
            }
        }
    }
    return w;
}

inline constexpr RowWeights kRowWeights = makeRowWeights();

[[gnu::always_inline]] inline __m128i rowPass(__m128i x, const std::int16_t (&w)[4][8]) {
    // Lanes 0..3 of `mirrored` hold x7, x6, x5, x4.
    const __m128i reversed = _mm_shufflehi_epi16(x, _MM_SHUFFLE(0, 1, 2, 3));
    const __m128i mirrored = _mm_unpackhi_epi64(reversed, reversed);
    const __m128i s = _mm_adds_epi16(x, mirrored);
    const __m128i d = _mm_subs_epi16(x, mirrored);
    const __m128i sd = _mm_unpacklo_epi32(s, d); // s0 s1 d0 d1 s2 s3 d2 d3
    const __m128i sd01 = _mm_shuffle_epi32(sd, _MM_SHUFFLE(1, 0, 1, 0));
    const __m128i sd23 = _mm_shuffle_epi32(sd, _MM_SHUFFLE(3, 2, 3, 2));
    const __m128i w0 = _mm_load_si128(reinterpret_cast<const __m128i*>(w[0]));
    const __m128i w1 = _mm_load_si128(reinterpret_cast<const __m128i*>(w[1]));
    const __m128i w2 = _mm_load_si128(reinterpret_cast<const __m128i*>(w[2]));
    const __m128i w3 = _mm_load_si128(reinterpret_cast<const __m128i*>(w[3]));
    const __m128i rounding = _mm_set1_epi32(kRowRounding);
    __m128i low = _mm_add_epi32(_mm_madd_epi16(sd01, w0), _mm_madd_epi16(sd23, w1));
    __m128i high = _mm_add_epi32(_mm_madd_epi16(sd01, w2), _mm_madd_epi16(sd23, w3));
    low = _mm_srai_epi32(_mm_add_epi32(low, rounding), kRowShift);
    high = _mm_srai_epi32(_mm_add_epi32(high, rounding), kRowShift);
    return _mm_packs_epi32(low, high);
}

[[gnu::always_inline]] inline __m128i mulh(__m128i a, std::int16_t c) {
    return _mm_mulhi_epi16(a, _mm_set1_epi16(c));
}

// Column pass, eight columns per instruction: the rows y[0..7] that the row pass takes.
[[gnu::always_inline]] inline void columnPass(const std::int16_t* block, __m128i (&y)[8]) {
    const __m128i* rows = reinterpret_cast<const __m128i*>(block);
    const __m128i x0 = _mm_loadu_si128(rows + 0), x1 = _mm_loadu_si128(rows + 1),
                  x2 = _mm_loadu_si128(rows + 2), x3 = _mm_loadu_si128(rows + 3),
                  x4 = _mm_loadu_si128(rows + 4), x5 = _mm_loadu_si128(rows + 5),
                  x6 = _mm_loadu_si128(rows + 6), x7 = _mm_loadu_si128(rows + 7);
    const __m128i one = _mm_set1_epi16(1);

    const __m128i t0 = _mm_slli_epi16(_mm_adds_epi16(x0, x7), 3);
    const __m128i t1 = _mm_slli_epi16(_mm_adds_epi16(x1, x6), 3);
    const __m128i t2 = _mm_slli_epi16(_mm_adds_epi16(x2, x5), 3);
    const __m128i t3 = _mm_slli_epi16(_mm_adds_epi16(x3, x4), 3);
    const __m128i t7 = _mm_slli_epi16(_mm_subs_epi16(x0, x7), 3);
    const __m128i t6 = _mm_slli_epi16(_mm_subs_epi16(x1, x6), 4);
    const __m128i t5 = _mm_slli_epi16(_mm_subs_epi16(x2, x5), 4);
    const __m128i t4 = _mm_slli_epi16(_mm_subs_epi16(x3, x4), 3);

    const __m128i tp03 = _mm_adds_epi16(t0, t3), tm03 = _mm_subs_epi16(t0, t3);
    const __m128i tp12 = _mm_adds_epi16(t1, t2), tm12 = _mm_subs_epi16(t1, t2);
    y[0] = _mm_adds_epi16(tp03, tp12);
    y[4] = _mm_subs_epi16(tp03, tp12);
    y[2] = _mm_or_si128(_mm_adds_epi16(tm03, mulh(tm12, kTg2)), one);
    y[6] = _mm_or_si128(_mm_subs_epi16(mulh(tm03, kTg2), tm12), one);

    const __m128i tp65 = _mm_or_si128(mulh(_mm_adds_epi16(t6, t5), kOc4), one);
    const __m128i tm65 = mulh(_mm_subs_epi16(t6, t5), kOc4);
    const __m128i tp465 = _mm_adds_epi16(t4, tm65), tm465 = _mm_subs_epi16(t4, tm65);
    const __m128i tp765 = _mm_adds_epi16(t7, tp65), tm765 = _mm_subs_epi16(t7, tp65);
    y[1] = _mm_or_si128(_mm_adds_epi16(tp765, mulh(tp465, kTg1)), one);
    y[7] = _mm_subs_epi16(mulh(tp765, kTg1), tp465);
    y[3] = _mm_subs_epi16(tm765, _mm_adds_epi16(mulh(tm465, kTg3), tm465));
    y[5] = _mm_adds_epi16(_mm_adds_epi16(mulh(tm765, kTg3), tm765), tm465);
}

} // namespace sse2_dct

#endif
