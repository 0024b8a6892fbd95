// The bitmap conversion's pixel kernels of every set: the leading pixels they convert, against
// the pixel layouts written out here, and nothing written or read beyond those pixels.
#include "image/pixelKernels.h"
#include "util/processorFeatures.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace {

struct KernelCase {
    const char* name;
    PackRowKernel DibKernels::*kernel;
    int sourceBytes;
    std::array<int, 4> byteOrder; // source byte of each result byte; -1 for 0
    std::array<int, 4> block;     // pixels per block of the kernel of each set (0: none)
};

const KernelCase kCases[] = {
    {"bgr24", &DibKernels::bgr24, 3, {0, 1, 2, -1}, {0, 8, 8, 8}},
    {"bgr24Swapped", &DibKernels::bgr24Swapped, 3, {2, 1, 0, -1}, {0, 8, 8, 8}},
    {"bgra32Swapped", &DibKernels::bgra32Swapped, 4, {2, 1, 0, 3}, {0, 4, 8, 8}},
};

constexpr PixelKernelSet kSets[] = {PixelKernelSet::Plain, PixelKernelSet::Sse2,
                                    PixelKernelSet::Avx2, PixelKernelSet::Avx512};

TEST(DibKernels, EverySetConvertsItsLeadingPixelsAndNoMore) {
    std::mt19937 rng(3);
    int skipped = 0;
    for (const PixelKernelSet set : kSets) {
        const std::optional<DibKernels> kernels = dibKernelsFor(set);
        if (!kernels) {
            EXPECT_NE(set, widestPixelKernelSet());
            ++skipped;
            continue;
        }
        const auto setIndex = static_cast<std::size_t>(set);
        std::vector<int> widths;
        for (int columns = 0; columns < 20; ++columns) {
            widths.push_back(columns);
        }
        widths.insert(widths.end(), {64, 67, 1001});
        for (const KernelCase& c : kCases) {
            for (const int columns : widths) {
                SCOPED_TRACE(testing::Message() << c.name << " set " << static_cast<int>(set)
                                                << " columns " << columns);
                // Exactly the row's bytes, so that reading past them shows under ASan.
                std::vector<std::uint8_t> source(static_cast<std::size_t>(columns * c.sourceBytes));
                for (std::uint8_t& b : source) {
                    b = static_cast<std::uint8_t>(rng());
                }
                std::vector<std::uint8_t> result(4 * static_cast<std::size_t>(columns) + 4, 0xA5);
                const std::int64_t done =
                    ((*kernels).*c.kernel)(source.data(), result.data(), columns);
                const int width = c.block[setIndex];
                EXPECT_EQ(done, width == 0 ? 0 : columns / width * width);
                for (std::int64_t i = 0; i < 4 * done; ++i) {
                    const int from = c.byteOrder[static_cast<std::size_t>(i % 4)];
                    const std::uint8_t expected =
                        from < 0 ? 0
                                 : source[static_cast<std::size_t>(i / 4 * c.sourceBytes + from)];
                    ASSERT_EQ(result[static_cast<std::size_t>(i)], expected) << "byte " << i;
                }
                for (std::size_t i = static_cast<std::size_t>(4 * done); i < result.size(); ++i) {
                    ASSERT_EQ(result[i], 0xA5) << "byte " << i;
                }
            }
        }
    }
    if (skipped > 0) {
        GTEST_SKIP() << skipped << " of the sets are missing from this build or processor";
    }
}

// The conversion takes the widest set: AVX-512 (with VBMI) or AVX2 where the processor has it,
// else the baseline's (the tests run without a limit in the environment).
TEST(DibKernels, TheConversionTakesTheWidestSet) {
    const PixelKernelSet widest = widestPixelKernelSet();
    EXPECT_EQ(processorHasAvx2(), dibKernelsFor(PixelKernelSet::Avx2).has_value());
    EXPECT_EQ(processorHasAvx512Vbmi(), dibKernelsFor(PixelKernelSet::Avx512).has_value());
    EXPECT_EQ(widest, processorHasAvx512Vbmi() ? PixelKernelSet::Avx512
                      : processorHasAvx2()     ? PixelKernelSet::Avx2
                                               : kWidestPixelKernelSet);
    const std::optional<DibKernels> expected = dibKernelsFor(widest);
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(dibKernels().bgr24, expected->bgr24);
    EXPECT_EQ(dibKernels().bgr24Swapped, expected->bgr24Swapped);
    EXPECT_EQ(dibKernels().bgra32Swapped, expected->bgra32Swapped);
}

} // namespace
