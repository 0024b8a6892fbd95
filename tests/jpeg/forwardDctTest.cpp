#include "jpeg/blockTransform.h"
#include "jpeg/routineTable.h"
#include "support/printAsName.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <random>

namespace {

using Block = std::array<std::int16_t, 64>;

struct DctVariant {
    const char* name;
    ForwardDctFn dct;
};

const DctVariant kVariants[] = {
    {"Plain", forwardDctPlain},
    {"Sse2Portable", forwardDctSse2Portable},
#if defined(__SSE2__)
    {"Sse2", forwardDctSse2},
#endif
};

Block transformed(ForwardDctFn dct, const Block& samples) {
    alignas(16) Block block = samples;
    dct(block.data());
    return block;
}

// T.81 A.3.3 forward DCT in double precision: DC = sum / 8.
std::array<double, 64> exactDct(const Block& samples) {
    std::array<double, 64> out{};
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
            double sum = 0;
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 8; ++x) {
                    sum += samples[8 * y + x] * std::cos((2 * x + 1) * u * std::numbers::pi / 16) *
                           std::cos((2 * y + 1) * v * std::numbers::pi / 16);
                }
            }
            const double cu = u == 0 ? std::numbers::sqrt2 / 2 : 1.0;
            const double cv = v == 0 ? std::numbers::sqrt2 / 2 : 1.0;
            out[8 * v + u] = 0.25 * cu * cv * sum;
        }
    }
    return out;
}

Block randomBlock(std::mt19937& rng, int low, int high) {
    std::uniform_int_distribution<int> dist(low, high);
    Block b;
    for (auto& v : b) {
        v = static_cast<std::int16_t>(dist(rng));
    }
    return b;
}

TEST(ForwardDct, ConstantBlockGivesEightTimesTheValueAsDcAndNoAc) {
    for (const DctVariant& variant : kVariants) {
        for (int value : {100, -128, 127, 128, 0, 1, -1, -77}) {
            SCOPED_TRACE(std::string(variant.name) + " value " + std::to_string(value));
            Block samples;
            samples.fill(static_cast<std::int16_t>(value));
            const Block out = transformed(variant.dct, samples);
            EXPECT_EQ(out[0], 8 * value);
            for (int n = 1; n < 64; ++n) {
                EXPECT_EQ(out[n], 0) << "coefficient " << n;
            }
        }
    }
}

TEST(ForwardDct, StaysWithinOneOfTheExactTransform) {
    std::mt19937 rng(1234);
    for (int i = 0; i < 1500; ++i) {
        const Block samples = randomBlock(rng, -128, 127);
        const auto exact = exactDct(samples);
        for (const DctVariant& variant : kVariants) {
            const Block out = transformed(variant.dct, samples);
            for (int n = 0; n < 64; ++n) {
                ASSERT_LE(std::abs(out[n] - exact[n]), 1.0)
                    << variant.name << " block " << i << " coefficient " << n;
            }
        }
    }
}

TEST(ForwardDct, BasisPatternsAreFoundAtTheirCoefficient) {
    // A sampled cosine basis function of amplitude 100 gives one large coefficient.
    for (const DctVariant& variant : kVariants) {
        for (int u : {0, 1, 3, 7}) {
            for (int v : {0, 2, 5, 7}) {
                Block samples;
                for (int y = 0; y < 8; ++y) {
                    for (int x = 0; x < 8; ++x) {
                        samples[8 * y + x] = static_cast<std::int16_t>(
                            std::lround(100 * std::cos((2 * x + 1) * u * std::numbers::pi / 16) *
                                        std::cos((2 * y + 1) * v * std::numbers::pi / 16)));
                    }
                }
                const auto exact = exactDct(samples);
                const Block out = transformed(variant.dct, samples);
                ASSERT_GT(std::abs(exact[8 * v + u]), 100.0);
                for (int n = 0; n < 64; ++n) {
                    EXPECT_LE(std::abs(out[n] - exact[n]), 1.0)
                        << variant.name << " u " << u << " v " << v << " coefficient " << n;
                }
            }
        }
    }
}

TEST(ForwardDct, PlainAndVectorAgreeOnAlmostAllCoefficients) {
    std::mt19937 rng(99);
    int same = 0, total = 0;
    for (int i = 0; i < 4000; ++i) {
        const Block samples = randomBlock(rng, -128, 127);
        const Block plain = transformed(forwardDctPlain, samples);
        const Block vector = transformed(forwardDctSse2Portable, samples);
        for (int n = 0; n < 64; ++n) {
            ASSERT_LE(std::abs(plain[n] - vector[n]), 1);
            same += plain[n] == vector[n];
            ++total;
        }
    }
    const double share = static_cast<double>(same) / total;
    EXPECT_GT(share, 0.94);
    EXPECT_LT(share, 0.995); // the variants do differ in the last bit now and then
}

#if defined(__SSE2__)
TEST(ForwardDct, Sse2MatchesThePortableVectorVersionBitForBit) {
    std::mt19937 rng(7);
    struct Range {
        int low, high;
    };
    // Samples, wide values that overflow the 16-bit shifts, the full range (saturation in
    // every step), and blocks of extreme values only.
    const Range ranges[] = {
        {-128, 128}, {-4096, 4095}, {-32768, 32767}, {-32768, -32700}, {32700, 32767}};
    for (const Range& range : ranges) {
        for (int i = 0; i < 20000; ++i) {
            const Block samples = randomBlock(rng, range.low, range.high);
            ASSERT_EQ(transformed(forwardDctSse2, samples),
                      transformed(forwardDctSse2Portable, samples))
                << "range " << range.low << ".." << range.high << " block " << i;
        }
    }
    std::uniform_int_distribution<int> pick(0, 3);
    const std::int16_t extremes[] = {-32768, 32767, 0, -1};
    for (int i = 0; i < 20000; ++i) {
        Block samples;
        for (auto& v : samples) {
            v = extremes[pick(rng)];
        }
        ASSERT_EQ(transformed(forwardDctSse2, samples),
                  transformed(forwardDctSse2Portable, samples))
            << "extreme block " << i;
    }
}
#endif

// The transform of every vector kernel set must agree with the portable vector transform bit
// for bit: random blocks of samples, of wide values and of the full range, and blocks of
// extreme values only.
struct VectorSetCase {
    const char* name;
    KernelSet set;
};
PRINT_CASE_AS_NAME(VectorSetCase)

class VectorSetDct : public ::testing::TestWithParam<VectorSetCase> {};

TEST_P(VectorSetDct, MatchesThePortableTransformBitForBit) {
    const std::optional<RoutineTable> table = routinesForSet(GetParam().set);
    if (!table) {
        GTEST_SKIP() << "this build or processor has no " << GetParam().name << " kernels";
    }
    std::mt19937 rng(11);
    for (const int range : {128, 4096, 32767}) {
        for (int i = 0; i < 20000; ++i) {
            const Block samples = randomBlock(rng, -range - 1, range);
            ASSERT_EQ(transformed(table->forwardDct, samples),
                      transformed(forwardDctSse2Portable, samples))
                << "range " << range << " block " << i;
        }
    }
    std::uniform_int_distribution<int> pick(0, 4);
    const std::int16_t extremes[] = {-32768, 32767, 0, -1, 1};
    for (int i = 0; i < 20000; ++i) {
        Block samples;
        for (auto& v : samples) {
            v = extremes[pick(rng)];
        }
        ASSERT_EQ(transformed(table->forwardDct, samples),
                  transformed(forwardDctSse2Portable, samples))
            << "extreme block " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, VectorSetDct,
                         ::testing::Values(VectorSetCase{"Sse2", KernelSet::Sse2},
                                           VectorSetCase{"Avx2", KernelSet::Avx2},
                                           VectorSetCase{"Avx512", KernelSet::Avx512}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ForwardDct, VectorVersionSaturatesItsSumsAndDropsBitsInItsShifts) {
    // Column sums 32767 + 32767 saturate to 32767, whose shift by 3 leaves -8 in 16 bits; the
    // rows then carry -32, 1, 1, -1, 0, -1, 1, 0 and only the DC survives the row pass as -4.
    // A wrapping sum would give -8 instead.
    Block samples;
    samples.fill(32767);
    Block expected{};
    expected[0] = -4;
    EXPECT_EQ(transformed(forwardDctSse2Portable, samples), expected);
#if defined(__SSE2__)
    EXPECT_EQ(transformed(forwardDctSse2, samples), expected);
#endif
}

} // namespace
