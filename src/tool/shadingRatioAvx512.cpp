// AVX-512 kernels of the shading ratio, 64 or 16 pixels at a time without a table lookup per
// byte: the two factors of the ratio (ratioFactorPlanes) are looked up for 64 bytes at once by
// byte permutes, one per 128 entries and byte plane, multiplied in single precision and
// rounded. A group of pixels with a product near a rounding boundary is taken through the
// table instead, so the bytes are the table's in every case.
#include "tool/shadingRatioKernels.h"

#if defined(QMJPEG_AVX512_ROUTINES)

#include "util/byteOrder.h"

#include <immintrin.h>

#include <array>

namespace {

// Products within this of a rounding boundary take the table (the product's own error is
// below 5e-5, the additions below round by at most 8e-6).
constexpr float kMargin = 1.0f / 8192;

// One byte plane of a factor for the 64 byte indices: entries 0-127 and 128-255 by a permute
// each, chosen by the index's top bit (`upper`).
[[gnu::target("avx512f,avx512bw,avx512vbmi"), gnu::always_inline]] inline __m512i
planeBytes(__m512i index, __mmask64 upper, const std::uint8_t (&plane)[256]) {
    const __m512i low =
        _mm512_permutex2var_epi8(_mm512_load_si512(plane), index, _mm512_load_si512(plane + 64));
    const __m512i high = _mm512_permutex2var_epi8(_mm512_load_si512(plane + 128), index,
                                                  _mm512_load_si512(plane + 192));
    return _mm512_mask_blend_epi8(upper, low, high);
}

// The factor of each of the 64 byte indices, in four vectors of sixteen floats: vector k
// holds, in each 128-bit lane, the factors of that lane's bytes 4k to 4k + 3 (the order that
// the packs of ratioBytes undo).
struct Factors {
    __m512 v[4];
};

[[gnu::target("avx512f,avx512bw,avx512vbmi"), gnu::always_inline]] inline Factors
factorsOf(__m512i index, const std::uint8_t (&planes)[4][256]) {
    const __mmask64 upper = _mm512_movepi8_mask(index);
    const __m512i b0 = planeBytes(index, upper, planes[0]);
    const __m512i b1 = planeBytes(index, upper, planes[1]);
    const __m512i b2 = planeBytes(index, upper, planes[2]);
    const __m512i b3 = planeBytes(index, upper, planes[3]);
    const __m512i low01 = _mm512_unpacklo_epi8(b0, b1);
    const __m512i high01 = _mm512_unpackhi_epi8(b0, b1);
    const __m512i low23 = _mm512_unpacklo_epi8(b2, b3);
    const __m512i high23 = _mm512_unpackhi_epi8(b2, b3);
    return {{_mm512_castsi512_ps(_mm512_unpacklo_epi16(low01, low23)),
             _mm512_castsi512_ps(_mm512_unpackhi_epi16(low01, low23)),
             _mm512_castsi512_ps(_mm512_unpacklo_epi16(high01, high23)),
             _mm512_castsi512_ps(_mm512_unpackhi_epi16(high01, high23))}};
}

// The ratio bytes of 64 source and final bytes, in their order; `nearBoundary` is non-zero
// when a product lay near a rounding boundary (the bytes are then not all the table's).
[[gnu::target("avx512f,avx512bw,avx512vbmi"), gnu::always_inline]] inline __m512i
ratioBytes(__m512i source, __m512i final, const RatioFactorPlanes& planes,
           __mmask16& nearBoundary) {
    const Factors finalFactors = factorsOf(final, planes.finalFactor);
    const Factors sourceFactors = factorsOf(source, planes.sourceFactor);
    const __m512 most = _mm512_set1_ps(255.0f);
    const __m512 below = _mm512_set1_ps(0.5f - kMargin);
    const __m512 above = _mm512_set1_ps(0.5f + kMargin);
    constexpr __mmask16 kAll = 0xFFFF;
    __m512i rounded[4];
    __mmask16 near = 0;
    for (int k = 0; k < 4; ++k) {
        // The zero-masked forms: GCC 12's plain ones read an uninitialised vector.
        const __m512 x =
            _mm512_maskz_min_ps(kAll, _mm512_mul_ps(finalFactors.v[k], sourceFactors.v[k]), most);
        rounded[k] = _mm512_maskz_cvttps_epi32(kAll, _mm512_add_ps(x, below));
        near |= _mm512_cmpneq_epi32_mask(rounded[k],
                                         _mm512_maskz_cvttps_epi32(kAll, _mm512_add_ps(x, above)));
    }
    nearBoundary = near;
    const __m512i bytes = _mm512_packus_epi16(_mm512_packs_epi32(rounded[0], rounded[1]),
                                              _mm512_packs_epi32(rounded[2], rounded[3]));
    // A source byte of 0 gives 64.
    return _mm512_mask_mov_epi8(bytes, _mm512_cmpeq_epi8_mask(source, _mm512_setzero_si512()),
                                _mm512_set1_epi8(64));
}

inline std::uint32_t tableByte(const std::uint8_t* table, std::uint8_t source, std::uint8_t final) {
    return table[(final << 8) | source];
}

// The result of 64 pixels (red, green, blue, 0 each) from their 192 ratio bytes in stored
// order (blue, green, red), in three vectors: result vector q takes its bytes from ratio
// vectors kFirstOf[q] and kFirstOf[q] + 1, byte i from byte kOrder[q][i] of the pair (0-127);
// the fourth bytes are zeroed by mask.
constexpr int kFirstOf[4] = {0, 0, 1, 1};

constexpr std::array<std::array<std::uint8_t, 64>, 4> resultOrder() {
    std::array<std::array<std::uint8_t, 64>, 4> order{};
    for (int q = 0; q < 4; ++q) {
        for (int p = 0; p < 16; ++p) {
            const int first = 3 * (16 * q + p) - 64 * kFirstOf[q]; // blue, within the pair
            order[q][4 * p] = static_cast<std::uint8_t>(first + 2);
            order[q][4 * p + 1] = static_cast<std::uint8_t>(first + 1);
            order[q][4 * p + 2] = static_cast<std::uint8_t>(first);
        }
    }
    return order;
}

alignas(64) constexpr std::array<std::array<std::uint8_t, 64>, 4> kOrder = resultOrder();

constexpr __mmask64 kColourBytes = 0x7777777777777777u;

} // namespace

[[gnu::target("avx512f,avx512bw,avx512vbmi")]] int
shadeStoredBgr24RowAvx512(const std::uint8_t* table, const std::uint8_t* source,
                          const std::uint8_t* final, std::uint8_t* result, int width) {
    const RatioFactorPlanes& planes = ratioFactorPlanes();
    int x = 0;
    for (; x + 64 <= width; x += 64) {
        const std::uint8_t* s = source + 3 * x;
        const std::uint8_t* f = final + 3 * x;
        std::uint8_t* r = result + 4 * x;
        __m512i ratio[3];
        __mmask16 nearBoundary = 0;
        for (int v = 0; v < 3; ++v) {
            __mmask16 near;
            ratio[v] = ratioBytes(_mm512_loadu_si512(s + 64 * v), _mm512_loadu_si512(f + 64 * v),
                                  planes, near);
            nearBoundary |= near;
        }
        if (nearBoundary == 0) [[likely]] {
            for (int q = 0; q < 4; ++q) {
                const __m512i order = _mm512_load_si512(kOrder[q].data());
                _mm512_storeu_si512(r + 64 * q,
                                    _mm512_maskz_permutex2var_epi8(kColourBytes, ratio[kFirstOf[q]],
                                                                   order, ratio[kFirstOf[q] + 1]));
            }
            continue;
        }
        for (int p = 0; p < 64; ++p) {
            storeLe32(r + 4 * p, tableByte(table, s[3 * p + 2], f[3 * p + 2]) |
                                     tableByte(table, s[3 * p + 1], f[3 * p + 1]) << 8 |
                                     tableByte(table, s[3 * p], f[3 * p]) << 16);
        }
    }
    return x;
}

[[gnu::target("avx512f,avx512bw,avx512vbmi")]] int shadeRowAvx512(const std::uint8_t* table,
                                                                  const std::uint8_t* source,
                                                                  const std::uint8_t* final,
                                                                  std::uint8_t* result, int width) {
    const RatioFactorPlanes& planes = ratioFactorPlanes();
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const std::uint8_t* s = source + 4 * x;
        const std::uint8_t* f = final + 4 * x;
        std::uint8_t* r = result + 4 * x;
        __mmask16 nearBoundary;
        const __m512i ratio =
            ratioBytes(_mm512_loadu_si512(s), _mm512_loadu_si512(f), planes, nearBoundary);
        if (nearBoundary == 0) [[likely]] {
            _mm512_storeu_si512(r, _mm512_maskz_mov_epi8(kColourBytes, ratio));
            continue;
        }
        // Pixel by pixel, each read before it is written (the result may be the source).
        for (int p = 0; p < 16; ++p) {
            const std::uint32_t pixel = tableByte(table, s[4 * p], f[4 * p]) |
                                        tableByte(table, s[4 * p + 1], f[4 * p + 1]) << 8 |
                                        tableByte(table, s[4 * p + 2], f[4 * p + 2]) << 16;
            storeLe32(r + 4 * p, pixel);
        }
    }
    return x;
}

#endif
