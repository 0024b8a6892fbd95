// The bitmap conversion's pixel kernels of every set: the leading pixels they convert, against
// the pixel layouts written out here, and nothing written or read beyond those pixels.
#include "image/pixelKernels.h"

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
    int block;                    // pixels per block of the SSE2 kernel
};

const KernelCase kCases[] = {
    {"bgr24", &DibKernels::bgr24, 3, {0, 1, 2, -1}, 8},
    {"bgr24Swapped", &DibKernels::bgr24Swapped, 3, {2, 1, 0, -1}, 8},
    {"bgra32Swapped", &DibKernels::bgra32Swapped, 4, {2, 1, 0, 3}, 4},
};

TEST(DibKernels, EverySetConvertsItsLeadingPixelsAndNoMore) {
    std::mt19937 rng(3);
    for (const PixelKernelSet set : {PixelKernelSet::Plain, PixelKernelSet::Sse2}) {
        const std::optional<DibKernels> kernels = dibKernelsFor(set);
        if (!kernels) {
            EXPECT_NE(set, kWidestPixelKernelSet);
            continue;
        }
        for (const KernelCase& c : kCases) {
            for (int columns = 0; columns < 20; ++columns) {
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
                EXPECT_EQ(done, set == PixelKernelSet::Plain ? 0 : columns / c.block * c.block);
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
}

} // namespace
