// AVX-512 version of the vector forward DCT: the SSE2 column pass, then the row pass on four
// rows at once, one row per 128-bit lane. Every step of the SSE2 row pass works within its
// lane, so each lane computes exactly what that pass computes for its row: the results are
// the SSE2 routine's. The zero-masked forms are used because GCC 12's plain ones read an
// uninitialised vector.
#include "jpeg/blockTransform.h"

#if defined(QMJPEG_AVX512_ROUTINES)

#include "jpeg/forwardDctSse2Passes.h"

#include <immintrin.h>

namespace {

using namespace sse2_dct;

struct WideRowWeights {
    alignas(64) std::int16_t v[2][4][32]; // [rows 0-3, rows 4-7][weight vector][lane * 8 + i]
};

constexpr WideRowWeights makeWideRowWeights() {
    WideRowWeights w{};
    for (int half = 0; half < 2; ++half) {
        for (int part = 0; part < 4; ++part) {
            for (int lane = 0; lane < 4; ++lane) {
                const int table = kWeightTableOfRow[4 * half + lane];
                for (int i = 0; i < 8; ++i) {
                    w.v[half][part][8 * lane + i] = kRowWeights.v[table][part][i];
                }
            }
        }
    }
    return w;
}

constexpr WideRowWeights kWideRowWeights = makeWideRowWeights();

[[gnu::target("avx512bw")]] inline __m512i fourRows(__m128i a, __m128i b, __m128i c, __m128i d) {
    __m512i x = _mm512_castsi128_si512(a);
    x = _mm512_mask_inserti32x4(x, 0xFFFF, x, b, 1);
    x = _mm512_mask_inserti32x4(x, 0xFFFF, x, c, 2);
    return _mm512_mask_inserti32x4(x, 0xFFFF, x, d, 3);
}

[[gnu::target("avx512bw")]] inline __m512i rowPassFour(__m512i x, const std::int16_t (&w)[4][32]) {
    constexpr __mmask32 kWords = 0xFFFFFFFF;
    constexpr __mmask16 kDwords = 0xFFFF;
    constexpr __mmask8 kQwords = 0xFF;
    const __m512i reversed = _mm512_maskz_shufflehi_epi16(kWords, x, _MM_SHUFFLE(0, 1, 2, 3));
    const __m512i mirrored = _mm512_maskz_unpackhi_epi64(kQwords, reversed, reversed);
    const __m512i s = _mm512_maskz_adds_epi16(kWords, x, mirrored);
    const __m512i d = _mm512_maskz_subs_epi16(kWords, x, mirrored);
    const __m512i sd = _mm512_maskz_unpacklo_epi32(kDwords, s, d);
    const __m512i sd01 = _mm512_maskz_shuffle_epi32(kDwords, sd, _MM_PERM_BABA);
    const __m512i sd23 = _mm512_maskz_shuffle_epi32(kDwords, sd, _MM_PERM_DCDC);
    const __m512i w0 = _mm512_load_si512(w[0]);
    const __m512i w1 = _mm512_load_si512(w[1]);
    const __m512i w2 = _mm512_load_si512(w[2]);
    const __m512i w3 = _mm512_load_si512(w[3]);
    const __m512i rounding = _mm512_set1_epi32(kRowRounding);
    __m512i low = _mm512_add_epi32(_mm512_maskz_madd_epi16(kDwords, sd01, w0),
                                   _mm512_maskz_madd_epi16(kDwords, sd23, w1));
    __m512i high = _mm512_add_epi32(_mm512_maskz_madd_epi16(kDwords, sd01, w2),
                                    _mm512_maskz_madd_epi16(kDwords, sd23, w3));
    low = _mm512_maskz_srai_epi32(kDwords, _mm512_add_epi32(low, rounding), kRowShift);
    high = _mm512_maskz_srai_epi32(kDwords, _mm512_add_epi32(high, rounding), kRowShift);
    return _mm512_maskz_packs_epi32(kWords, low, high);
}

} // namespace

[[gnu::target("avx512bw")]] void forwardDctAvx512(std::int16_t* block) {
    __m128i y[8];
    columnPass(block, y);
    _mm512_storeu_si512(block, rowPassFour(fourRows(y[0], y[1], y[2], y[3]), kWideRowWeights.v[0]));
    _mm512_storeu_si512(block + 32,
                        rowPassFour(fourRows(y[4], y[5], y[6], y[7]), kWideRowWeights.v[1]));
}

#endif
