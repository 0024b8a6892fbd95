// SSE2 kernels of the bitmap conversion: 24- and 32-bit pixels into interleaved 4 x 8 bytes.
// A block reads only the stored bytes of its own pixels, so a row that ends right after its
// last pixel is never read past.
#include "image/pixelKernels.h"

#if defined(__SSE2__)

#include <emmintrin.h>

namespace {

// Bytes 0 and 2 of every 32-bit lane exchanged; bytes 1 and 3 stay.
inline __m128i swapRedBlueLanes(__m128i pixels) {
    const __m128i redBlue = _mm_and_si128(pixels, _mm_set1_epi32(0x00FF00FF));
    const __m128i greenAlpha = _mm_andnot_si128(_mm_set1_epi32(0x00FF00FF), pixels);
    const __m128i swapped =
        _mm_shufflehi_epi16(_mm_shufflelo_epi16(redBlue, 0xB1), 0xB1); // exchange 16-bit halves
    return _mm_or_si128(greenAlpha, swapped);
}

// Four 24-bit pixels from the low 12 bytes of `bytes`, each widened to 32 bits with a 0 byte:
// pixels 0-1 and 2-3 go to the two 64-bit halves, then the second of each pair moves up a byte.
inline __m128i widenBgr24x4(__m128i bytes) {
    const __m128i pairs = _mm_unpacklo_epi64(bytes, _mm_srli_si128(bytes, 6));
    const __m128i first = _mm_and_si128(pairs, _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF));
    const __m128i second =
        _mm_and_si128(_mm_slli_epi64(pairs, 8), _mm_set_epi32(0x00FFFFFF, 0, 0x00FFFFFF, 0));
    return _mm_or_si128(first, second);
}

template <bool kSwap> inline __m128i orderPixels(__m128i pixels) {
    return kSwap ? swapRedBlueLanes(pixels) : pixels;
}

// Eight pixels at a time.
template <bool kSwap>
std::int64_t packBgr24(const std::uint8_t* src, std::uint8_t* dst, std::int64_t columns) {
    std::int64_t x = 0;
    for (; x + 8 <= columns; x += 8) {
        const std::uint8_t* p = src + 3 * x;
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); // bytes 0-15
        const __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i rest = _mm_or_si128(_mm_srli_si128(low, 12), _mm_slli_si128(high, 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x),
                         orderPixels<kSwap>(widenBgr24x4(low)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x + 16),
                         orderPixels<kSwap>(widenBgr24x4(rest)));
    }
    return x;
}

} // namespace

std::int64_t packBgr24Sse2(const std::uint8_t* src, std::uint8_t* dst, std::int64_t columns) {
    return packBgr24<false>(src, dst, columns);
}

std::int64_t packBgr24SwappedSse2(const std::uint8_t* src, std::uint8_t* dst,
                                  std::int64_t columns) {
    return packBgr24<true>(src, dst, columns);
}

// Four pixels at a time.
std::int64_t packBgra32SwappedSse2(const std::uint8_t* src, std::uint8_t* dst,
                                   std::int64_t columns) {
    std::int64_t x = 0;
    for (; x + 4 <= columns; x += 4) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x), swapRedBlueLanes(pixels));
    }
    return x;
}

#endif
