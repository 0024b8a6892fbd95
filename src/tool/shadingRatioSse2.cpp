// SSE2 kernels of the shading ratio, eight pixels at a time, over RGBA rows and over stored
// 3-byte blue-green-red rows. All the table indices of the eight pixels are taken before their
// result is written (so an RGBA result over its own source still works), then the three colour
// bytes of each pixel are looked up and written with an alpha byte of 0.
#include "tool/shadingRatioKernels.h"

#if defined(__SSE2__)

#include "util/byteOrder.h"

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

int shadeStoredBgr24RowSse2(const std::uint8_t* table, const std::uint8_t* source,
                            const std::uint8_t* final, std::uint8_t* result, int width) {
    alignas(16) std::uint16_t indices[24];
    auto* out = reinterpret_cast<__m128i*>(indices);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        // The 24 bytes of 8 pixels, no further.
        const std::uint8_t* s = source + 3 * x;
        const std::uint8_t* f = final + 3 * x;
        const __m128i sLow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i fLow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(f));
        const __m128i sHigh = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + 16));
        const __m128i fHigh = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(f + 16));
        _mm_store_si128(out, _mm_unpacklo_epi8(sLow, fLow));
        _mm_store_si128(out + 1, _mm_unpackhi_epi8(sLow, fLow));
        _mm_store_si128(out + 2, _mm_unpacklo_epi8(sHigh, fHigh));
        std::uint8_t* r = result + 4 * x;
        for (int p = 0; p < 8; ++p) {
            storeLe32(r + 4 * p, std::uint32_t{table[indices[3 * p + 2]]} |
                                     std::uint32_t{table[indices[3 * p + 1]]} << 8 |
                                     std::uint32_t{table[indices[3 * p]]} << 16);
        }
    }
    return x;
}

#endif
