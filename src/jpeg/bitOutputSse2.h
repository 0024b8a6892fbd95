// SSE2 kernels of the vector block coder, inline so that they fold into its block loop: the
// reading of a block into zig-zag order with its non-zero mask, the categories and value bits
// of a dense block, and the search for the first 0xFF among the bytes of a coded block.
#pragma once

#if defined(__SSE2__)

#include "jpeg/byteStuffing.h"
#include "jpeg/preparedBlock.h"
#include "jpeg/zigzag.h"

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

namespace bit_output_sse2 {

// Eight coefficients from zig-zag positions k .. k + 7.
template <int k> inline __m128i zigzagGroup(const std::int16_t* block) {
    __m128i v = _mm_cvtsi32_si128(static_cast<std::uint16_t>(block[kZigzagNatural[k]]));
    v = _mm_insert_epi16(v, block[kZigzagNatural[k + 1]], 1);
    v = _mm_insert_epi16(v, block[kZigzagNatural[k + 2]], 2);
    v = _mm_insert_epi16(v, block[kZigzagNatural[k + 3]], 3);
    v = _mm_insert_epi16(v, block[kZigzagNatural[k + 4]], 4);
    v = _mm_insert_epi16(v, block[kZigzagNatural[k + 5]], 5);
    v = _mm_insert_epi16(v, block[kZigzagNatural[k + 6]], 6);
    v = _mm_insert_epi16(v, block[kZigzagNatural[k + 7]], 7);
    return v;
}

// Category and value bits of eight coefficients. The magnitude is converted to float: its
// exponent gives the category, and the float with the mantissa cleared gives the highest
// power of two p below it, from which 2p - 1 masks the value bits of negative values
// (|v| with those bits inverted).
inline void categorizeGroup(const __m128i v, std::uint16_t* category, std::uint16_t* bits) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i sign = _mm_srai_epi16(v, 15);
    const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(v, sign), sign); // -32768: 0x8000
    const __m128i floatLow = _mm_castps_si128(_mm_cvtepi32_ps(_mm_unpacklo_epi16(magnitude, zero)));
    const __m128i floatHigh =
        _mm_castps_si128(_mm_cvtepi32_ps(_mm_unpackhi_epi16(magnitude, zero)));
    const __m128i exponent =
        _mm_packs_epi32(_mm_srli_epi32(floatLow, 23), _mm_srli_epi32(floatHigh, 23));
    const __m128i exponentMask = _mm_set1_epi32(0x7F800000);
    const __m128i power =
        _mm_packs_epi32(_mm_cvttps_epi32(_mm_castsi128_ps(_mm_and_si128(floatLow, exponentMask))),
                        _mm_cvttps_epi32(_mm_castsi128_ps(_mm_and_si128(floatHigh, exponentMask))));
    const __m128i ones = _mm_sub_epi16(_mm_add_epi16(power, power), _mm_set1_epi16(1));
    _mm_store_si128(reinterpret_cast<__m128i*>(category),
                    _mm_subs_epu16(exponent, _mm_set1_epi16(126))); // 0 for 0
    _mm_store_si128(reinterpret_cast<__m128i*>(bits),
                    _mm_xor_si128(magnitude, _mm_and_si128(ones, sign)));
}

// Sixteen coefficients from zig-zag position k on into out.zigzag; returns their zero mask.
template <int k> inline std::uint64_t gatherPair(const std::int16_t* block, PreparedBlock& out) {
    const __m128i a = zigzagGroup<k>(block);
    const __m128i b = zigzagGroup<k + 8>(block);
    _mm_store_si128(reinterpret_cast<__m128i*>(out.zigzag + k), a);
    _mm_store_si128(reinterpret_cast<__m128i*>(out.zigzag + k + 8), b);
    const __m128i zero = _mm_setzero_si128();
    const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
    return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(zeros))} << k;
}

// Fills `zigzag` and `nonZero` from a block in natural order.
inline void gatherZigzag(const std::int16_t* block, PreparedBlock& out) {
    out.nonZero = ~(gatherPair<0>(block, out) | gatherPair<16>(block, out) |
                    gatherPair<32>(block, out) | gatherPair<48>(block, out));
}

// Fills `category` and `bits` at all 64 positions from `zigzag`.
inline void categorize(PreparedBlock& out) {
    for (int k = 0; k < 64; k += 8) {
        categorizeGroup(_mm_load_si128(reinterpret_cast<const __m128i*>(out.zigzag + k)),
                        out.category + k, out.bits + k);
    }
}

// `p` moved on by whole groups of 16 bytes that hold no 0xFF, while 16 bytes remain before `to`.
inline std::uint8_t* skipUnstuffedGroups(std::uint8_t* p, const std::uint8_t* to) {
    const __m128i ones = _mm_set1_epi8(static_cast<char>(kStuffedAfter));
    for (; to - p >= 16; p += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, ones)) != 0) {
            break;
        }
    }
    return p;
}

} // namespace bit_output_sse2

#endif
