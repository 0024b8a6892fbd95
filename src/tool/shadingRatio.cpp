#include "tool/shadingRatio.h"

#include "tool/shadingRatioKernels.h"
#include "util/byteOrder.h"

#include <cmath>

namespace {

// The ratio pixel of one source and one final pixel, both little-endian 32-bit words (byte i
// of a pixel is bits 8i..8i+7); the fourth byte of the result is 0.
inline std::uint32_t shadePixel(const std::uint8_t* table, std::uint32_t s, std::uint32_t f) {
    const std::uint32_t red = table[((f & 0xFF) << 8) | (s & 0xFF)];
    const std::uint32_t green = table[(f & 0xFF00) | ((s >> 8) & 0xFF)];
    const std::uint32_t blue = table[((f >> 8) & 0xFF00) | ((s >> 16) & 0xFF)];
    return red | (green << 8) | (blue << 16);
}

// One row of `width` pixels.
void shadeRow(ShadeRowKernel kernel, const std::uint8_t* table, const std::uint8_t* source,
              const std::uint8_t* final, std::uint8_t* result, int width) {
    for (int x = kernel(table, source, final, result, width); x < width; ++x) {
        storeLe32(result + 4 * x,
                  shadePixel(table, loadLe32(source + 4 * x), loadLe32(final + 4 * x)));
    }
}

int shadeNone(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::uint8_t*, int) {
    return 0;
}

} // namespace

std::optional<ShadeRowKernel> shadeRowKernelFor(PixelKernelSet set) {
    switch (set) {
    case PixelKernelSet::Plain:
        return shadeNone;
    case PixelKernelSet::Sse2:
#if defined(__SSE2__)
        return shadeRowSse2;
#else
        return std::nullopt;
#endif
    case PixelKernelSet::Avx2:
        // The SSE2 kernel: the table lookups dominate, and gathering them with AVX2 was slower.
        if (widestPixelKernelSet() == PixelKernelSet::Avx2) {
            return shadeRowKernelFor(PixelKernelSet::Sse2);
        }
        return std::nullopt;
    }
    return std::nullopt;
}

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
    static const ShadeRowKernel kernel = *shadeRowKernelFor(kWidestPixelKernelSet);
    const std::uint8_t* table = shadingRatioTable().data();
    for (int y = 0; y < rows; ++y) {
        shadeRow(kernel, table, source, finalRows, result, width);
        source += rowStep;
        finalRows += rowStep;
        result += rowStep;
    }
}
