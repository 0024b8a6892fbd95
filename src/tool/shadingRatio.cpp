#include "tool/shadingRatio.h"

#include "util/byteOrder.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The ratio pixel of one source and one final pixel, both little-endian 32-bit words (byte i
// of a pixel is bits 8i..8i+7); the fourth byte of the result is 0.
inline std::uint32_t shadePixel(const std::uint8_t* table, std::uint32_t s, std::uint32_t f) {
    const std::uint32_t red = table[((f & 0xFF) << 8) | (s & 0xFF)];
    const std::uint32_t green = table[(f & 0xFF00) | ((s >> 8) & 0xFF)];
    const std::uint32_t blue = table[((f >> 8) & 0xFF00) | ((s >> 16) & 0xFF)];
    return red | (green << 8) | (blue << 16);
}

#if defined(__SSE2__)
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
#endif

// One row of `width` pixels.
void shadeRow(const std::uint8_t* table, const std::uint8_t* source, const std::uint8_t* final,
              std::uint8_t* result, int width) {
    int x = 0;
#if defined(__SSE2__)
    // Eight pixels at a time: all their indices are taken before the result is written (so a
    // result over its own source still works), then the alpha bytes are cleared and the three
    // colour bytes of each pixel looked up.
    alignas(16) std::uint16_t indices[32];
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
#endif
    for (; x < width; ++x) {
        storeLe32(result + 4 * x,
                  shadePixel(table, loadLe32(source + 4 * x), loadLe32(final + 4 * x)));
    }
}

} // namespace

std::uint8_t shadingRatioByte(std::uint8_t finalByte, std::uint8_t sourceByte) {
    double x = 64.0;
    if (sourceByte != 0) {
        x = 64.0 * std::pow(static_cast<double>(finalByte) / static_cast<double>(sourceByte),
                            static_cast<double>(kShadingExponent));
        if (x > 255.0) {
            x = 255.0;
        }
    }
    return static_cast<std::uint8_t>(x + 0.5);
}

const std::array<std::uint8_t, 65536>& shadingRatioTable() {
    static const std::array<std::uint8_t, 65536> table = [] {
        std::array<std::uint8_t, 65536> built{};
        for (int f = 0; f < 256; ++f) {
            for (int s = 0; s < 256; ++s) {
                built[static_cast<std::size_t>((f << 8) | s)] =
                    shadingRatioByte(static_cast<std::uint8_t>(f), static_cast<std::uint8_t>(s));
            }
        }
        return built;
    }();
    return table;
}

bool computeShadingRatio(QimImgT<Rgba8>& source, QimImgT<Rgba8>& finalImage,
                         QimImgT<Rgba8>& result) {
    auto* s = reinterpret_cast<const std::uint8_t*>(source.unshare());
    auto* f = reinterpret_cast<const std::uint8_t*>(finalImage.unshare());
    auto* r = reinterpret_cast<std::uint8_t*>(result.unshare());
    const int width = source.width();
    const int height = source.height();
    const int rowStep = source.widthStep() / 4 * 4;
    if (s == nullptr || f == nullptr || r == nullptr || finalImage.width() != width ||
        result.width() != width || finalImage.height() != height || result.height() != height ||
        finalImage.widthStep() != source.widthStep() || result.widthStep() != source.widthStep() ||
        static_cast<std::int64_t>(width) * 4 > rowStep) {
        return false;
    }
    shadingRatioRows(s, f, r, width, height, rowStep);
    return true;
}

void shadingRatioRows(const std::uint8_t* source, const std::uint8_t* finalRows,
                      std::uint8_t* result, int width, int rows, std::int64_t rowStep) {
    const std::uint8_t* table = shadingRatioTable().data();
    for (int y = 0; y < rows; ++y) {
        shadeRow(table, source, finalRows, result, width);
        source += rowStep;
        finalRows += rowStep;
        result += rowStep;
    }
}
