#include "tool/shadingRatio.h"

#include "tool/shadingRatioKernels.h"
#include "util/byteOrder.h"
#include "util/processorFeatures.h"

#include <bit>
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

// The table is built by the compiler, so that a run does not start with 65,536 calls of pow.
// Logarithm and exponential for that: series in double precision, within a few units in the
// last place of the library's pow. A ratio byte could only move if the exact ratio lay that
// close to a rounding boundary; the table's test compares every entry with shadingRatioByte.
constexpr double kLn2 = 0.693147180559945309417;

// ln x for x > 0: x = m 2^k with m in [1/sqrt 2, sqrt 2], ln m = 2 atanh((m - 1) / (m + 1)).
constexpr double logarithm(double x) {
    int k = 0;
    for (; x > 1.4142135623730951; x *= 0.5) {
        ++k;
    }
    for (; x < 0.7071067811865476; x *= 2.0) {
        --k;
    }
    const double z = (x - 1.0) / (x + 1.0);
    double power = z;
    double sum = 0.0;
    for (int n = 1; n < 40; n += 2) {
        sum += power / n;
        power *= z * z;
    }
    return 2.0 * sum + k * kLn2;
}

// e^y for |y| < 700: y = n ln 2 + r with |r| <= ln 2 / 2.
constexpr double exponential(double y) {
    const int n = static_cast<int>(y / kLn2 + (y < 0.0 ? -0.5 : 0.5));
    const double r = y - n * kLn2;
    double term = 1.0;
    double sum = 1.0;
    for (int i = 1; i < 20; ++i) {
        term *= r / i;
        sum += term;
    }
    for (int i = 0; i < n; ++i) {
        sum *= 2.0;
    }
    for (int i = 0; i > n; --i) {
        sum *= 0.5;
    }
    return sum;
}

// v^e for every byte v (0 for 0).
constexpr std::array<double, 256> bytePowers() {
    std::array<double, 256> powers{};
    for (int v = 1; v < 256; ++v) {
        powers[v] = exponential(static_cast<double>(kShadingExponent) * logarithm(v));
    }
    return powers;
}

// (f / s)^e as f^e / s^e, with the 255 powers computed once. A plain array of them: Clang's
// limit on constant-evaluation steps leaves no room for a member call per access.
constexpr std::array<std::uint8_t, 65536> buildRatioTable() {
    double powers[256] = {};
    const std::array<double, 256> computed = bytePowers();
    for (int v = 0; v < 256; ++v) {
        powers[v] = computed[static_cast<std::size_t>(v)];
    }
    std::array<std::uint8_t, 65536> table{};
    for (int f = 0; f < 256; ++f) {
        for (int s = 0; s < 256; ++s) {
            double x = 64.0;
            if (s != 0) {
                x = 64.0 * (powers[f] / powers[s]);
                x = x > 255.0 ? 255.0 : x;
            }
            table[static_cast<std::size_t>((f << 8) | s)] = static_cast<std::uint8_t>(x + 0.5);
        }
    }
    return table;
}

// The factors f^e and 64 / s^e in single precision, byte plane by byte plane.
constexpr RatioFactorPlanes buildFactorPlanes() {
    const std::array<double, 256> powers = bytePowers();
    RatioFactorPlanes planes{};
    for (int v = 0; v < 256; ++v) {
        const auto finalFactor = std::bit_cast<std::uint32_t>(static_cast<float>(powers[v]));
        const auto sourceFactor =
            std::bit_cast<std::uint32_t>(v == 0 ? 0.0f : static_cast<float>(64.0 / powers[v]));
        for (int k = 0; k < 4; ++k) {
            planes.finalFactor[k][v] = static_cast<std::uint8_t>(finalFactor >> (8 * k));
            planes.sourceFactor[k][v] = static_cast<std::uint8_t>(sourceFactor >> (8 * k));
        }
    }
    return planes;
}

constexpr RatioFactorPlanes kFactorPlanes = buildFactorPlanes();

constexpr std::array<std::uint8_t, 65536> kRatioTable = buildRatioTable();

// The forms this build has of a kernel (shadeNone for the others).
struct RatioForms {
    ShadeRowKernel sse2 = shadeNone;
    ShadeRowKernel avx512 = shadeNone;
};

// The forms of the RGBA-row kernel, or of the stored-row kernel for 3-byte pixels.
constexpr RatioForms ratioForms([[maybe_unused]] bool stored) {
    RatioForms forms;
#if defined(__SSE2__)
    forms.sse2 = stored ? shadeStoredBgr24RowSse2 : shadeRowSse2;
#endif
#if defined(QMJPEG_AVX512_ROUTINES)
    forms.avx512 = stored ? shadeStoredBgr24RowAvx512 : shadeRowAvx512;
#endif
    return forms;
}

// The set's kernel among the forms; nothing for a set this build or processor lacks. Gathering
// the table lookups with AVX2 was slower, so the AVX2 set takes the SSE2 form.
std::optional<ShadeRowKernel> ratioKernel(PixelKernelSet set, const RatioForms& forms) {
    switch (set) {
    case PixelKernelSet::Plain:
        return shadeNone;
    case PixelKernelSet::Sse2:
#if defined(__SSE2__)
        return forms.sse2;
#else
        return std::nullopt;
#endif
    case PixelKernelSet::Avx2:
        return processorHasAvx2() ? ratioKernel(PixelKernelSet::Sse2, forms) : std::nullopt;
    case PixelKernelSet::Avx512:
        return processorHasAvx512Vbmi() ? std::optional(forms.avx512) : std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::optional<ShadeRowKernel> shadeRowKernelFor(PixelKernelSet set) {
    return ratioKernel(set, ratioForms(false));
}

std::optional<ShadeRowKernel> shadeStoredBgr24KernelFor(PixelKernelSet set) {
    return ratioKernel(set, ratioForms(true));
}

const RatioFactorPlanes& ratioFactorPlanes() {
    return kFactorPlanes;
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
    return kRatioTable;
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
    static const ShadeRowKernel kernel = *shadeRowKernelFor(widestPixelKernelSet());
    const std::uint8_t* table = shadingRatioTable().data();
    for (int y = 0; y < rows; ++y) {
        shadeRow(kernel, table, source, finalRows, result, width);
        source += rowStep;
        finalRows += rowStep;
        result += rowStep;
    }
}

namespace {

template <int kSourceBytes, int kFinalBytes>
void shadeStoredRow(const std::uint8_t* source, const std::uint8_t* finalRow, std::uint8_t* result,
                    int width) {
    const std::uint8_t* table = kRatioTable.data();
    for (int x = 0; x < width; ++x) {
        const std::uint8_t* s = source + kSourceBytes * x;
        const std::uint8_t* f = finalRow + kFinalBytes * x;
        const std::uint32_t red = table[(f[2] << 8) | s[2]];
        const std::uint32_t green = table[(f[1] << 8) | s[1]];
        const std::uint32_t blue = table[(f[0] << 8) | s[0]];
        storeLe32(result + 4 * x, red | (green << 8) | (blue << 16));
    }
}

} // namespace

void shadingRatioStoredRow(const std::uint8_t* source, int sourceBytes,
                           const std::uint8_t* finalRow, int finalBytes, std::uint8_t* result,
                           int width) {
    if (sourceBytes == 3 && finalBytes == 3) {
        static const ShadeRowKernel kernel = *shadeStoredBgr24KernelFor(widestPixelKernelSet());
        const int done = kernel(kRatioTable.data(), source, finalRow, result, width);
        shadeStoredRow<3, 3>(source + 3 * done, finalRow + 3 * done, result + 4 * done,
                             width - done);
        return;
    }
    using Row = void (*)(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, int);
    constexpr Row kRows[2][2] = {{shadeStoredRow<3, 3>, shadeStoredRow<3, 4>},
                                 {shadeStoredRow<4, 3>, shadeStoredRow<4, 4>}};
    kRows[sourceBytes == 4][finalBytes == 4](source, finalRow, result, width);
}
