#include "entropyTestSupport.h"
#include "jpeg/blockTransform.h"
#include "jpeg/routineTable.h"
#include "jpeg/zigzag.h"
#include "support/printAsName.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using Block = std::array<std::int16_t, 64>;
using Reciprocals = std::array<std::uint16_t, 64>;

struct QuantizerVariant {
    const char* name;
    QuantizeBlockFn quantize;
};

const QuantizerVariant kVariants[] = {
    {"Plain", quantizeBlockPlain},
    {"Sse2Portable", quantizeBlockSse2Portable},
#if defined(__SSE2__)
    {"Sse2", quantizeBlockSse2},
#endif
};

Reciprocals reciprocalsForStep(int step) {
    Reciprocals table;
    table.fill(static_cast<std::uint16_t>(step));
    buildReciprocalTable(table.data());
    return table;
}

std::int16_t quantizeOne(QuantizeBlockFn quantize, int coefficient, std::uint16_t reciprocal) {
    alignas(16) Block block{};
    block.fill(static_cast<std::int16_t>(coefficient));
    alignas(16) Reciprocals table;
    table.fill(reciprocal);
    quantize(block.data(), table.data());
    for (int n = 1; n < 64; ++n) {
        EXPECT_EQ(block[n], block[0]);
    }
    return block[0];
}

TEST(ReciprocalTable, HoldsTwoToTheFifteenOverTheStepInNaturalOrder) {
    Reciprocals table;
    for (int k = 0; k < 64; ++k) {
        table[k] = static_cast<std::uint16_t>(k + 1); // zig-zag order
    }
    buildReciprocalTable(table.data());
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(table[kZigzagNatural[k]], 32768 / (k + 1)) << "zig-zag position " << k;
    }
}

TEST(ReciprocalTable, ExtremeSteps) {
    const std::pair<int, int> cases[] = {{1, 0x8000}, {2, 16384}, {5, 6553}, {255, 128}};
    for (const auto& [step, reciprocal] : cases) {
        EXPECT_EQ(reciprocalsForStep(step)[0], reciprocal) << "step " << step;
    }
}

TEST(ZigzagMap, FollowsFigureA6) {
    const std::int32_t start[] = {0, 1, 8, 16, 9, 2, 3, 10, 17, 24};
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(kZigzagNatural[k], start[k]);
    }
    std::array<bool, 64> seen{};
    for (int k = 0; k < 64; ++k) {
        seen[static_cast<std::size_t>(kZigzagNatural[k])] = true;
    }
    for (int n = 0; n < 64; ++n) {
        EXPECT_TRUE(seen[n]) << n;
    }
}

TEST(Quantizer, StepOneLeavesCoefficientsUnchanged) {
    const std::uint16_t reciprocal = reciprocalsForStep(1)[0];
    for (const QuantizerVariant& variant : kVariants) {
        for (int c = -4095; c <= 4095; ++c) {
            ASSERT_EQ(quantizeOne(variant.quantize, c, reciprocal), c) << variant.name;
        }
    }
}

TEST(Quantizer, StepTwoRoundsHalvesUpwards) {
    const std::uint16_t reciprocal = reciprocalsForStep(2)[0];
    const std::pair<int, int> cases[] = {{1, 1},        {-1, 0},      {-3, -1}, {3, 2},
                                         {0, 0},        {2, 1},       {-2, -1}, {1023, 512},
                                         {-1024, -512}, {-1023, -511}};
    for (const QuantizerVariant& variant : kVariants) {
        for (const auto& [c, expected] : cases) {
            EXPECT_EQ(quantizeOne(variant.quantize, c, reciprocal), expected)
                << variant.name << " coefficient " << c;
        }
    }
}

TEST(Quantizer, OddReciprocalLosesItsLowBitInTheVectorVariants) {
    const std::uint16_t reciprocal = reciprocalsForStep(5)[0];
    ASSERT_EQ(reciprocal, 6553);
    int differences = 0;
    for (int c = -2048; c <= 2048; ++c) {
        const int plainWithEven = quantizeOne(quantizeBlockPlain, c, 6552);
        const int plainWithOdd = quantizeOne(quantizeBlockPlain, c, reciprocal);
        ASSERT_EQ(quantizeOne(quantizeBlockSse2Portable, c, reciprocal), plainWithEven) << c;
#if defined(__SSE2__)
        ASSERT_EQ(quantizeOne(quantizeBlockSse2, c, reciprocal), plainWithEven) << c;
#endif
        if (plainWithOdd != plainWithEven) {
            ++differences;
            EXPECT_EQ(std::abs(plainWithOdd), std::abs(plainWithEven) + 1) << c;
        }
    }
    EXPECT_GT(differences, 0);
}

TEST(Quantizer, PlainAndVectorAgreeForEvenReciprocals) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> coefficient(-4095, 4095);
    std::uniform_int_distribution<int> step(1, 255);
    for (int i = 0; i < 2000; ++i) {
        alignas(16) Block plain;
        for (auto& c : plain) {
            c = static_cast<std::int16_t>(coefficient(rng));
        }
        alignas(16) Block vector = plain;
        alignas(16) Reciprocals table;
        for (auto& r : table) {
            r = static_cast<std::uint16_t>((32768 / step(rng)) & ~1);
        }
        quantizeBlockPlain(plain.data(), table.data());
        quantizeBlockSse2Portable(vector.data(), table.data());
        ASSERT_EQ(plain, vector) << "block " << i;
    }
}

#if defined(__SSE2__)
TEST(Quantizer, Sse2MatchesThePortableVectorVersionOnAnyInput) {
    std::mt19937 rng(6);
    std::uniform_int_distribution<int> coefficient(-32768, 32767);
    std::uniform_int_distribution<int> reciprocal(0, 65535);
    for (int i = 0; i < 20000; ++i) {
        alignas(16) Block portable;
        for (auto& c : portable) {
            c = static_cast<std::int16_t>(coefficient(rng));
        }
        alignas(16) Block sse2 = portable;
        alignas(16) Reciprocals table;
        for (auto& r : table) {
            r = static_cast<std::uint16_t>(reciprocal(rng));
        }
        quantizeBlockSse2Portable(portable.data(), table.data());
        quantizeBlockSse2(sse2.data(), table.data());
        ASSERT_EQ(portable, sse2) << "block " << i;
    }
}
#endif

// The quantiser of every vector kernel set gives the portable vector results: random
// coefficients and reciprocals, and blocks of extreme values only.
struct VectorSetCase {
    const char* name;
    KernelSet set;
};
PRINT_CASE_AS_NAME(VectorSetCase)

class VectorSetQuantizer : public ::testing::TestWithParam<VectorSetCase> {};

TEST_P(VectorSetQuantizer, MatchesThePortableQuantizerOnAnyInput) {
    const std::optional<RoutineTable> table = routinesForSet(GetParam().set);
    if (!table) {
        GTEST_SKIP() << "this build or processor has no " << GetParam().name << " kernels";
    }
    std::mt19937 rng(8);
    std::uniform_int_distribution<int> coefficient(-32768, 32767);
    std::uniform_int_distribution<int> reciprocal(0, 65535);
    std::uniform_int_distribution<int> pick(0, 3);
    const std::int16_t extremeCoefficients[] = {-32768, 32767, 0, -1};
    const std::uint16_t extremeReciprocals[] = {0, 1, 32768, 65535};
    for (int i = 0; i < 20000; ++i) {
        const bool extreme = i % 4 == 0;
        alignas(16) Block portable;
        for (auto& c : portable) {
            c = extreme ? extremeCoefficients[pick(rng)]
                        : static_cast<std::int16_t>(coefficient(rng));
        }
        alignas(16) Block vector = portable;
        alignas(16) Reciprocals steps;
        for (auto& r : steps) {
            r = extreme ? extremeReciprocals[pick(rng)]
                        : static_cast<std::uint16_t>(reciprocal(rng));
        }
        quantizeBlockSse2Portable(portable.data(), steps.data());
        table->quantizeBlock(vector.data(), steps.data());
        ASSERT_EQ(portable, vector) << "block " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, VectorSetQuantizer,
                         ::testing::Values(VectorSetCase{"Sse2", KernelSet::Sse2},
                                           VectorSetCase{"Avx2", KernelSet::Avx2},
                                           VectorSetCase{"Avx512", KernelSet::Avx512}),
                         [](const auto& info) { return std::string(info.param.name); });

// Every fused quantise-and-code writes the bytes and leaves the predictors of its set's
// quantiser followed by its block coder: DCT-sized coefficients, sparse and dense blocks, the
// luminance step table at two qualities' worth of steps.
TEST(QuantizeEncodeBlock, EveryFusedFormWritesTheBytesOfQuantizeThenEncode) {
    const HuffmanCodeTable dc = entropy_test::derive(entropy_test::kLuminanceDc);
    const HuffmanCodeTable ac = entropy_test::derive(entropy_test::kLuminanceAc);
    std::mt19937 rng(21);
    std::uniform_int_distribution<int> wide(-1000, 1000);
    std::uniform_int_distribution<int> narrow(-60, 60);
    std::uniform_int_distribution<int> percent(0, 99);
    std::vector<Block> blocks(600);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const int kept = static_cast<int>(i % 100); // share of non-zero positions, sparse to dense
        for (auto& c : blocks[i]) {
            c = percent(rng) < kept
                    ? static_cast<std::int16_t>(i % 3 == 0 ? wide(rng) : narrow(rng))
                    : 0;
        }
    }
    for (const std::uint8_t step : {std::uint8_t{1}, std::uint8_t{3}, std::uint8_t{16}}) {
        alignas(16) Reciprocals steps;
        for (int k = 0; k < 64; ++k) {
            steps[static_cast<std::size_t>(k)] = static_cast<std::uint16_t>(step + k % 5);
        }
        buildReciprocalTable(steps.data());
        for (const KernelSet set : {KernelSet::Plain, KernelSet::VectorPortable, KernelSet::Sse2,
                                    KernelSet::Avx2, KernelSet::Avx512}) {
            const std::optional<RoutineTable> table = routinesForSet(set);
            if (!table || table->quantizeEncodeBlock == nullptr) {
                continue;
            }
            SCOPED_TRACE(testing::Message()
                         << "set " << static_cast<int>(set) << " step " << int{step});
            std::vector<std::uint8_t> apart(64 * 1024);
            std::vector<std::uint8_t> fused(apart.size());
            const auto stream = entropy_test::newStream();
            const auto fusedStream = entropy_test::newStream();
            table->startOutput(stream.get(), apart.data(), static_cast<std::int32_t>(apart.size()));
            table->startOutput(fusedStream.get(), fused.data(),
                               static_cast<std::int32_t>(fused.size()));
            std::int16_t predictor = 0;
            std::int16_t fusedPredictor = 0;
            for (const Block& original : blocks) {
                alignas(64) Block a = original;
                alignas(64) Block b = original;
                table->quantizeBlock(a.data(), steps.data());
                ASSERT_EQ(table->encodeBlock(stream.get(), &dc, &ac, &predictor, a.data()), 0);
                ASSERT_EQ(table->quantizeEncodeBlock(fusedStream.get(), &dc, &ac, &fusedPredictor,
                                                     b.data(), steps.data()),
                          0);
                ASSERT_EQ(predictor, fusedPredictor);
            }
            ASSERT_EQ(stream->cursor - stream->start, fusedStream->cursor - fusedStream->start);
            EXPECT_TRUE(std::equal(apart.begin(), apart.begin() + (stream->cursor - stream->start),
                                   fused.begin()));
            EXPECT_EQ(stream->accumulator, fusedStream->accumulator);
            EXPECT_EQ(stream->bitCount, fusedStream->bitCount);
        }
    }
}

} // namespace
