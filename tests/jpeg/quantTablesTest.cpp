// Base quantisation tables and their scaling by the quality.
#include "jpeg/quantTables.h"
#include "jpeg/zigzag.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// ITU-T T.81 Tables K.1 and K.2 in natural (row-major) order.
constexpr int kK1[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                         14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                         18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                         49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr int kK2[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                         24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                         99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                         99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

TEST(QuantBaseTables, AreTheStandardTablesInZigZagOrder) {
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(kLuminanceQuantBase[k], kK1[kZigzagNatural[k]]) << k;
        EXPECT_EQ(kChrominanceQuantBase[k], kK2[kZigzagNatural[k]]) << k;
    }
}

struct ScaleCase {
    int quality;
    int scale;
    std::vector<int> luminance;   // first eight scaled entries
    std::vector<int> chrominance; // first eight scaled entries
};

TEST(QualityScaling, WorkedValues) {
    const std::vector<int> all255(8, 255);
    const std::vector<int> allOnes(8, 1);
    const std::vector<ScaleCase> cases = {
        {1, 5000, all255, all255},
        {0, 5000, all255, all255},
        {-40, 5000, all255, all255},
        {25, 200, {32, 22, 24, 28, 24, 20, 32, 28}, {34, 36, 36, 48, 42, 48, 94, 52}},
        {49, 102, {16, 11, 12, 14, 12, 10, 16, 14}, {17, 18, 18, 24, 21, 24, 48, 27}},
        {50, 100, {16, 11, 12, 14, 12, 10, 16, 14}, {17, 18, 18, 24, 21, 24, 47, 26}},
        {75, 50, {8, 6, 6, 7, 6, 5, 8, 7}, {9, 9, 9, 12, 11, 12, 24, 13}},
        {95, 10, {2, 1, 1, 1, 1, 1, 2, 1}, {2, 2, 2, 2, 2, 2, 5, 3}},
        {100, 0, allOnes, allOnes},
        {101, 0, allOnes, allOnes},
        {5000, 0, allOnes, allOnes},
    };
    for (const ScaleCase& c : cases) {
        SCOPED_TRACE("quality " + std::to_string(c.quality));
        EXPECT_EQ(qualityScaleFactor(c.quality), c.scale);
        std::int16_t luminance[64];
        std::int16_t chrominance[64];
        scaleQuantTable(c.quality, kLuminanceQuantBase, luminance);
        scaleQuantTable(c.quality, kChrominanceQuantBase, chrominance);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(luminance[i], c.luminance[i]) << i;
            EXPECT_EQ(chrominance[i], c.chrominance[i]) << i;
        }
    }
}

TEST(QualityScaling, Quality49DropsTheRemainderOfTheScaleFactor) {
    std::int16_t scaled[64];
    scaleQuantTable(49, kLuminanceQuantBase, scaled);
    EXPECT_EQ(scaled[0], 16);   // (16 * 102 + 50) / 100
    EXPECT_EQ(scaled[63], 101); // (99 * 102 + 50) / 100
}

TEST(QualityScaling, Quality95TurnsEveryChrominance99Into10) {
    std::int16_t scaled[64];
    scaleQuantTable(95, kChrominanceQuantBase, scaled);
    for (int i = 0; i < 64; ++i) {
        if (kChrominanceQuantBase[i] == 99) {
            EXPECT_EQ(scaled[i], 10) << i;
        }
    }
}

TEST(QualityScaling, EntriesStayWithin1To255ForEveryQuality) {
    for (int quality = -3; quality <= 103; ++quality) {
        std::int16_t scaled[64];
        for (const std::uint8_t* base : {kLuminanceQuantBase, kChrominanceQuantBase}) {
            scaleQuantTable(quality, base, scaled);
            for (int i = 0; i < 64; ++i) {
                ASSERT_GE(scaled[i], 1) << quality;
                ASSERT_LE(scaled[i], 255) << quality;
            }
        }
    }
}

} // namespace
