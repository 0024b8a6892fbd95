// SSE2 kernel of the shading ratio: eight pixels at a time. All their indices are taken before
// the result is written (so a result over its own source still works), then the alpha bytes
// are cleared and the three colour bytes of each pixel looked up.
#include "tool/shadingRatioKernels.h"

#if defined(__SSE2__)

#include <emmintrin.h>

namespace {

// Interleaves the source and final bytes of 8 pixels into their table indices (final << 8 |
// source), one 16-bit field per channel, 4 fields per pixel.
inline void tableIndices(const std::uint8_t* source, const std::uint8_t* final,
                         std::uint16_t (&indices)[32]) {
    auto* out = reinterpret_cast<__m128i*>(indices);
    for (int half = 0; half < 2; ++half) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 16 * half));
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(final + 16 * half));
        _mm_store_si128(out + 2 * half, _mm_unpacklo_epi8(s, f));
        _mm_store_si128(out + 2 * half + 1, _mm_unpackhi_epi8(s, f));
    }
}

} // namespace

int shadeRowSse2(const std::uint8_t* table, const std::uint8_t* source, const std::uint8_t* final,
                 std::uint8_t* result, int width) {
    alignas(16) std::uint16_t indices[32];
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        tableIndices(source + 4 * x, final + 4 * x, indices);
        std::uint8_t* r = result + 4 * x;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(r), _mm_setzero_si128());
        _mm_storeu_si128(reinterpret_cast<__m128i*>(r + 16), _mm_setzero_si128());
        for (int c = 0; c < 32; c += 4) {
            r[c] = table[indices[c]];
            r[c + 1] = table[indices[c + 1]];
            r[c + 2] = table[indices[c + 2]];
        }
    }
    return x;
}

#endif
