// AVX2 version of the vector forward DCT: the SSE2 column pass, then the row pass on two rows
// at once, one row per 128-bit lane. Every step of the SSE2 row pass works within its lane, so
// each lane computes exactly what that pass computes for its row: the results are the SSE2
// routine's.
#include "jpeg/blockTransform.h"

#if defined(QMJPEG_AVX2_ROUTINES)

#include "jpeg/forwardDctSse2Passes.h"

#include <immintrin.h>

namespace {

using namespace sse2_dct;

struct PairRowWeights {
    alignas(32) std::int16_t v[4][4][16]; // [row pair][weight vector][lane * 8 + i]
};

constexpr PairRowWeights makePairRowWeights() {
    PairRowWeights w{};
    for (int pair = 0; pair < 4; ++pair) {
        for (int part = 0; part < 4; ++part) {
            for (int lane = 0; lane < 2; ++lane) {
                const int table = kWeightTableOfRow[2 * pair + lane];
                for (int i = 0; i < 8; ++i) {
                    w.v[pair][part][8 * lane + i] = kRowWeights.v[table][part][i];
                }
            }
        }
    }
    return w;
}

constexpr PairRowWeights kPairRowWeights = makePairRowWeights();

[[gnu::target("avx2")]] inline __m256i twoRows(__m128i a, __m128i b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
}

[[gnu::target("avx2")]] inline __m256i rowPassTwo(__m256i x, const std::int16_t (&w)[4][16]) {
    const __m256i reversed = _mm256_shufflehi_epi16(x, _MM_SHUFFLE(0, 1, 2, 3));
    const __m256i mirrored = _mm256_unpackhi_epi64(reversed, reversed);
    const __m256i s = _mm256_adds_epi16(x, mirrored);
    const __m256i d = _mm256_subs_epi16(x, mirrored);
    const __m256i sd = _mm256_unpacklo_epi32(s, d);
    const __m256i sd01 = _mm256_shuffle_epi32(sd, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256i sd23 = _mm256_shuffle_epi32(sd, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256i w0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(w[0]));
    const __m256i w1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(w[1]));
    const __m256i w2 = _mm256_load_si256(reinterpret_cast<const __m256i*>(w[2]));
    const __m256i w3 = _mm256_load_si256(reinterpret_cast<const __m256i*>(w[3]));
    const __m256i rounding = _mm256_set1_epi32(kRowRounding);
    __m256i low = _mm256_add_epi32(_mm256_madd_epi16(sd01, w0), _mm256_madd_epi16(sd23, w1));
    __m256i high = _mm256_add_epi32(_mm256_madd_epi16(sd01, w2), _mm256_madd_epi16(sd23, w3));
    low = _mm256_srai_epi32(_mm256_add_epi32(low, rounding), kRowShift);
    high = _mm256_srai_epi32(_mm256_add_epi32(high, rounding), kRowShift);
    return _mm256_packs_epi32(low, high);
}

} // namespace

[[gnu::target("avx2")]] void forwardDctAvx2(std::int16_t* block) {
    __m128i y[8];
    columnPass(block, y);
    auto* rows = reinterpret_cast<__m256i*>(block);
    for (int pair = 0; pair < 4; ++pair) {
        _mm256_storeu_si256(rows + pair, rowPassTwo(twoRows(y[2 * pair], y[2 * pair + 1]),
                                                    kPairRowWeights.v[pair]));
    }
}

#endif
