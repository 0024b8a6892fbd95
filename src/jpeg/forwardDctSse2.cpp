// SSE2 version of the vector forward DCT: the column pass works on all eight columns at once,
// the row pass forms each row's eight outputs with four multiply-adds.
#include "jpeg/blockTransform.h"

#if defined(__SSE2__)

#include "jpeg/forwardDctSse2Tables.h"

#include <emmintrin.h>

#include <cstdint>

#include "jpeg/processorInfo.h"
#if defined(QMJPEG_AVX512_ROUTINES)
#include <immintrin.h>
#endif

namespace {

using namespace sse2_dct;

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

constexpr RowWeights kRowWeights = makeRowWeights();

inline __m128i rowPass(__m128i x, const std::int16_t (&w)[4][8]) {
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

inline __m128i mulh(__m128i a, std::int16_t c) {
    return _mm_mulhi_epi16(a, _mm_set1_epi16(c));
}

#if defined(QMJPEG_AVX512_ROUTINES)
// The row pass on four rows at once, one row per 128-bit lane: every step of rowPass works
// within its lane, so each lane computes exactly what rowPass computes for its row. Rows 0 to
// 3 take weight tables 0, 1, 2, 3 and rows 4 to 7 tables 0, 3, 2, 1. The zero-masked forms
// are used because GCC 12's plain ones read an uninitialised vector.
struct WideRowWeights {
    alignas(64) std::int16_t v[2][4][32]; // [rows 0-3, rows 4-7][weight vector][lane * 8 + i]
};

constexpr WideRowWeights makeWideRowWeights() {
    constexpr int kTables[2][4] = {{0, 1, 2, 3}, {0, 3, 2, 1}};
    WideRowWeights w{};
    for (int half = 0; half < 2; ++half) {
        for (int part = 0; part < 4; ++part) {
            for (int lane = 0; lane < 4; ++lane) {
                for (int i = 0; i < 8; ++i) {
                    w.v[half][part][8 * lane + i] = kRowWeights.v[kTables[half][lane]][part][i];
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

[[gnu::target("avx512bw")]] void rowPassAvx512(const __m128i (&y)[8], std::int16_t* block) {
    _mm512_storeu_si512(block, rowPassFour(fourRows(y[0], y[1], y[2], y[3]), kWideRowWeights.v[0]));
    _mm512_storeu_si512(block + 32,
                        rowPassFour(fourRows(y[4], y[5], y[6], y[7]), kWideRowWeights.v[1]));
}

const bool kHaveAvx512RowPass = processorHasAvx512();
#endif

template <bool kMayWiden> void forwardDct(std::int16_t* block);

} // namespace

void forwardDctSse2(std::int16_t* block) {
    forwardDct<true>(block);
}

void forwardDctSse2Only(std::int16_t* block) {
    forwardDct<false>(block);
}

namespace {

template <bool kMayWiden> void forwardDct(std::int16_t* block) {
    __m128i* rows = reinterpret_cast<__m128i*>(block);
    const __m128i x0 = _mm_loadu_si128(rows + 0), x1 = _mm_loadu_si128(rows + 1),
                  x2 = _mm_loadu_si128(rows + 2), x3 = _mm_loadu_si128(rows + 3),
                  x4 = _mm_loadu_si128(rows + 4), x5 = _mm_loadu_si128(rows + 5),
                  x6 = _mm_loadu_si128(rows + 6), x7 = _mm_loadu_si128(rows + 7);
    const __m128i one = _mm_set1_epi16(1);

    // Column pass, eight columns per instruction.
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
    const __m128i y0 = _mm_adds_epi16(tp03, tp12);
    const __m128i y4 = _mm_subs_epi16(tp03, tp12);
    const __m128i y2 = _mm_or_si128(_mm_adds_epi16(tm03, mulh(tm12, kTg2)), one);
    const __m128i y6 = _mm_or_si128(_mm_subs_epi16(mulh(tm03, kTg2), tm12), one);

    const __m128i tp65 = _mm_or_si128(mulh(_mm_adds_epi16(t6, t5), kOc4), one);
    const __m128i tm65 = mulh(_mm_subs_epi16(t6, t5), kOc4);
    const __m128i tp465 = _mm_adds_epi16(t4, tm65), tm465 = _mm_subs_epi16(t4, tm65);
    const __m128i tp765 = _mm_adds_epi16(t7, tp65), tm765 = _mm_subs_epi16(t7, tp65);
    const __m128i y1 = _mm_or_si128(_mm_adds_epi16(tp765, mulh(tp465, kTg1)), one);
    const __m128i y7 = _mm_subs_epi16(mulh(tp765, kTg1), tp465);
    const __m128i y3 = _mm_subs_epi16(tm765, _mm_adds_epi16(mulh(tm465, kTg3), tm465));
    const __m128i y5 = _mm_adds_epi16(_mm_adds_epi16(mulh(tm765, kTg3), tm765), tm465);

#if defined(QMJPEG_AVX512_ROUTINES)
    if (kMayWiden && kHaveAvx512RowPass) {
        const __m128i y[8] = {y0, y1, y2, y3, y4, y5, y6, y7};
        rowPassAvx512(y, block);
        return;
    }
#endif
    // Row pass, one row per step with the weight table of that row.
    _mm_storeu_si128(rows + 0, rowPass(y0, kRowWeights.v[0]));
    _mm_storeu_si128(rows + 1, rowPass(y1, kRowWeights.v[1]));
    _mm_storeu_si128(rows + 2, rowPass(y2, kRowWeights.v[2]));
    _mm_storeu_si128(rows + 3, rowPass(y3, kRowWeights.v[3]));
    _mm_storeu_si128(rows + 4, rowPass(y4, kRowWeights.v[0]));
    _mm_storeu_si128(rows + 5, rowPass(y5, kRowWeights.v[3]));
    _mm_storeu_si128(rows + 6, rowPass(y6, kRowWeights.v[2]));
    _mm_storeu_si128(rows + 7, rowPass(y7, kRowWeights.v[1]));
}

} // namespace

#endif
