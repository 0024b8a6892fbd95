#include "tool/shadingRatio.h"

#include "util/byteOrder.h"

#include <cmath>

namespace {

// One row of `width` pixels. Pixels are handled as little-endian 32-bit words, so byte i of a
// pixel is bits 8i..8i+7 of its word.
void shadeRow(const std::uint8_t* table, const std::uint8_t* source, const std::uint8_t* final,
              std::uint8_t* result, int width) {
    for (int x = 0; x < width; ++x) {
        const std::uint32_t s = loadLe32(source + 4 * x);
        const std::uint32_t f = loadLe32(final + 4 * x);
        const std::uint32_t red = table[((f & 0xFF) << 8) | (s & 0xFF)];
        const std::uint32_t green = table[(f & 0xFF00) | ((s >> 8) & 0xFF)];
        const std::uint32_t blue = table[((f >> 8) & 0xFF00) | ((s >> 16) & 0xFF)];
        storeLe32(result + 4 * x, red | (green << 8) | (blue << 16));
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
