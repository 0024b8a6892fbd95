// Conversion of uncompressed and bit-field bitmaps into images: formats, channel orders,
// layouts, row orders, refusals and the limits of the bitmap block.
#include "image/dibLayout.h"

#include "image/dibRows.h"
#include "image/iplImage.h"
#include "reportCapture.h"
#include "support/printAsName.h"
#include "testImage.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using image_test::addRow;
using image_test::Bytes;
using image_test::convert;
using image_test::DibFields;
using image_test::entry;
using image_test::ReportCapture;
using image_test::Rgba;
using image_test::TestImage;

// ---- Pixel formats into Rgba8 ----

TEST(ConvertFromDib, TwentyFourBitPixelBecomesRedGreenBlueZero) {
    DibFields dib;
    addRow(dib.pixels, {10, 20, 30});
    TestImage image(1, 1);
    convert(dib.build(), image.get());
    EXPECT_EQ(image.rgba(0, 0), (Rgba{30, 20, 10, 0}));
}

TEST(ConvertFromDib, BottomUpAndTopDownRowOrder) {
    DibFields dib;
    dib.width = 2;
    dib.height = 2;
    addRow(dib.pixels, {1, 1, 1, 2, 2, 2}); // stored first
    addRow(dib.pixels, {3, 3, 3, 4, 4, 4}); // stored last
    {
        TestImage image(2, 2);
        convert(dib.build(), image.get());
        EXPECT_EQ(image.rgba(0, 0), (Rgba{3, 3, 3, 0}));
        EXPECT_EQ(image.rgba(1, 0), (Rgba{4, 4, 4, 0}));
        EXPECT_EQ(image.rgba(0, 1), (Rgba{1, 1, 1, 0}));
    }
    dib.height = -2;
    {
        TestImage image(2, 2);
        convert(dib.build(), image.get());
        EXPECT_EQ(image.rgba(0, 0), (Rgba{1, 1, 1, 0}));
        EXPECT_EQ(image.rgba(1, 1), (Rgba{4, 4, 4, 0}));
    }
}

TEST(ConvertFromDib, OriginOnePutsTheTopRowLast) {
    DibFields dib;
    dib.height = 2;
    addRow(dib.pixels, {1, 1, 1}); // bottom row
    addRow(dib.pixels, {9, 9, 9}); // top row
    // An image taller than the bitmap: the rows fill from the last image row upward.
    TestImage image(1, 3, 4, 4, IPL_DEPTH_8U, "RGBA", 0, 1);
    convert(dib.build(), image.get());
    EXPECT_EQ(image.rgba(0, 2), (Rgba{9, 9, 9, 0}));
    EXPECT_EQ(image.rgba(0, 1), (Rgba{1, 1, 1, 0}));
    EXPECT_EQ(image.rgba(0, 0), (Rgba{0xAB, 0xAB, 0xAB, 0xAB})); // not written
}

struct DirectCase {
    const char* name;
    std::uint16_t bitCount;
    std::uint32_t compression;
    std::vector<std::uint32_t> masks;
    Bytes pixel; // one pixel, padded by the test
    Rgba expected;
};
PRINT_CASE_AS_NAME(DirectCase)

class DirectFormats : public ::testing::TestWithParam<DirectCase> {};

TEST_P(DirectFormats, OnePixel) {
    const DirectCase& c = GetParam();
    DibFields dib;
    dib.bitCount = c.bitCount;
    dib.compression = c.compression;
    dib.table = c.masks;
    dib.pixels = c.pixel;
    while (dib.pixels.size() % 4 != 0) {
        dib.pixels.push_back(0);
    }
    TestImage image(1, 1);
    convert(dib.build(), image.get());
    EXPECT_EQ(image.rgba(0, 0), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DirectFormats,
    ::testing::Values(
        DirectCase{"rgb555White", 16, BI_RGB, {}, {0xFF, 0x7F}, {248, 248, 248, 0}},
        // 0x7C00 | 0x0010: red 31, green 0, blue 16.
        DirectCase{"rgb555Mixed", 16, BI_RGB, {}, {0x10, 0x7C}, {248, 0, 128, 0}},
        DirectCase{"rgb555TopBitIgnored", 16, BI_RGB, {}, {0x00, 0x80}, {0, 0, 0, 0}},
        DirectCase{"fields565White",
                   16,
                   BI_BITFIELDS,
                   {0xF800, 0x07E0, 0x001F},
                   {0xFF, 0xFF},
                   {248, 252, 248, 0}},
        DirectCase{"fields565HighWordIgnored",
                   16,
                   BI_BITFIELDS,
                   {0xFFFFF800u, 0x07E0, 0x001F},
                   {0x00, 0xF8},
                   {248, 0, 0, 0}},
        // A 12-bit field is narrowed by shifting right by 4.
        DirectCase{"fields16Wide",
                   16,
                   BI_BITFIELDS,
                   {0xFFF0, 0x000C, 0x0003},
                   {0x5E, 0xAB},
                   {0xAB, 0xC0, 0x80, 0}},
        DirectCase{"bgra32", 32, BI_RGB, {}, {1, 2, 3, 4}, {3, 2, 1, 4}},
        DirectCase{"fields32Default",
                   32,
                   BI_BITFIELDS,
                   {0x00FF0000, 0x0000FF00, 0x000000FF},
                   {1, 2, 3, 4},
                   {3, 2, 1, 4}},
        // Red at the top: no bits are left above the colour fields, so alpha is 0 (the
        // colour bits are never read as alpha).
        DirectCase{"fields32RedOnTop",
                   32,
                   BI_BITFIELDS,
                   {0xFF000000u, 0x00FF0000, 0x0000FF00},
                   {0x11, 0x22, 0x33, 0x44},
                   {0x44, 0x33, 0x22, 0}},
        DirectCase{"fields32BlueOnTopNarrow",
                   32,
                   BI_BITFIELDS,
                   {0x000007FF, 0x003FF800, 0xFFC00000u},
                   {0xFF, 0xFF, 0xFF, 0xFF},
                   {0xFF, 0xFF, 0xFF, 0}},
        // 10-bit fields: shifted right by 2; the 2 bits above them form the alpha field.
        DirectCase{"fields32TenBit",
                   32,
                   BI_BITFIELDS,
                   {0x3FF00000, 0x000FFC00, 0x000003FF},
                   // red 0x3FF, green 0x100, blue 0x004, alpha 0b10
                   {0x04, 0x00, 0xF4, 0xBF},
                   {0xFF, 0x40, 0x01, 0x80}},
        // 5-bit fields shift left without replicating high bits: 31 -> 248.
        DirectCase{"fields32FiveBit",
                   32,
                   BI_BITFIELDS,
                   {0x00007C00, 0x000003E0, 0x0000001F},
                   {0xFF, 0xFF, 0xFF, 0xFF},
                   {248, 248, 248, 0xFF}},
        // Red and blue share their shift: blue decides, so the alpha field is the 4 bits
        // above blue's 8 (0xF0000000), not the 8 bits above red's 4.
        DirectCase{"fields32EqualShiftsPreferBlue",
                   32,
                   BI_BITFIELDS,
                   {0x00F00000, 0x000000FF, 0x0FF00000},
                   {0x00, 0x00, 0x00, 0x5A},
                   {0x00, 0x00, 0xA0, 0x50}},
        DirectCase{"twentyFourWithFieldsFlag", 24, BI_BITFIELDS, {}, {7, 8, 9}, {9, 8, 7, 0}}),
    [](const ::testing::TestParamInfo<DirectCase>& info) { return info.param.name; });

TEST(ConvertFromDib, EightBitPaletteSitsBeforeThePixelsAndCarriesItsReservedByte) {
    DibFields dib;
    dib.bitCount = 8;
    dib.width = 3;
    dib.table.assign(256, 0);
    dib.table[0] = entry(1, 2, 3, 4);
    dib.table[5] = entry(50, 60, 70, 80);
    dib.table[255] = entry(255, 254, 253, 252);
    addRow(dib.pixels, {5, 255, 0});
    const Bytes block = dib.build();
    ASSERT_EQ(block.size(), 40u + 1024u + 4u);
    TestImage image(3, 1);
    convert(block, image.get());
    EXPECT_EQ(image.rgba(0, 0), (Rgba{50, 60, 70, 80}));
    EXPECT_EQ(image.rgba(1, 0), (Rgba{255, 254, 253, 252}));
    EXPECT_EQ(image.rgba(2, 0), (Rgba{1, 2, 3, 4}));
}

TEST(ConvertFromDib, ShortPaletteFromClrUsed) {
    DibFields dib;
    dib.bitCount = 8;
    dib.clrUsed = 2;
    dib.width = 2;
    dib.table = {entry(10, 11, 12), entry(20, 21, 22)};
    addRow(dib.pixels, {1, 0});
    TestImage image(2, 1);
    convert(dib.build(), image.get());
    EXPECT_EQ(image.rgba(0, 0), (Rgba{20, 21, 22, 0}));
    EXPECT_EQ(image.rgba(1, 0), (Rgba{10, 11, 12, 0}));
}

TEST(ConvertFromDib, IndexPastTheTableReadsTheFollowingBytesOfTheBlock) {
    DibFields dib;
    dib.bitCount = 8;
    dib.clrUsed = 1;
    dib.width = 4;
    dib.table = {entry(10, 11, 12, 13)};
    // Index 1 is the 4 bytes right after the table: the pixel row itself.
    addRow(dib.pixels, {1, 0, 0xC8, 0x7F});
    TestImage image(4, 1);
    convert(dib.build(), image.get());
    EXPECT_EQ(image.rgba(0, 0), (Rgba{0xC8, 0x00, 0x01, 0x7F}));
    EXPECT_EQ(image.rgba(1, 0), (Rgba{10, 11, 12, 13}));
}

TEST(ConvertFromDib, IndexWhoseEntryLiesPastTheBlockReadsZeros) {
    DibFields dib;
    dib.bitCount = 8;
    dib.clrUsed = 1;
    dib.width = 4;
    dib.table = {entry(10, 11, 12, 13)};
    // Entry 2 would be at bytes 48..51, the block ends at 48.
    addRow(dib.pixels, {2, 200, 1, 0});
    TestImage image(4, 1);
    convert(dib.build(), image.get());
    EXPECT_EQ(image.rgba(0, 0), (Rgba{0, 0, 0, 0}));
    EXPECT_EQ(image.rgba(1, 0), (Rgba{0, 0, 0, 0}));
    EXPECT_EQ(image.rgba(2, 0), (Rgba{1, 200, 2, 0}));
    EXPECT_EQ(image.rgba(3, 0), (Rgba{10, 11, 12, 13}));
}

TEST(ConvertFromDib, TwentyFourBitWithClrUsedSkipsTheTable) {
    DibFields dib;
    dib.clrUsed = 2;
    dib.table = {0xFFFFFFFFu, 0xFFFFFFFFu};
    addRow(dib.pixels, {1, 2, 3});
    const Bytes block = dib.build();
    ASSERT_EQ(block.size(), 40u + 8u + 4u);
    TestImage image(1, 1);
    convert(block, image.get());
    EXPECT_EQ(image.rgba(0, 0), (Rgba{3, 2, 1, 0}));
}

TEST(ConvertFromDib, OneBitRowsArePaddedAndReadMostSignificantBitFirst) {
    DibFields dib;
    dib.bitCount = 1;
    dib.width = 9;
    dib.height = 2;
    dib.table = {entry(0, 0, 0), entry(255, 255, 255, 7)};
    addRow(dib.pixels, {0x00, 0x80}); // bottom row: only pixel 8 set
    addRow(dib.pixels, {0xA0, 0x00}); // top row: pixels 0 and 2 set
    const Bytes block = dib.build();
    ASSERT_EQ(block.size(), 40u + 8u + 8u);
    TestImage image(9, 2);
    convert(block, image.get());
    const Rgba white{255, 255, 255, 7};
    const Rgba black{0, 0, 0, 0};
    for (int x = 0; x < 9; ++x) {
        EXPECT_EQ(image.rgba(x, 0), x == 0 || x == 2 ? white : black) << x;
        EXPECT_EQ(image.rgba(x, 1), x == 8 ? white : black) << x;
    }
}

TEST(ConvertFromDib, FourBitNibblesHighFirst) {
    DibFields dib;
    dib.bitCount = 4;
    dib.width = 3;
    dib.clrUsed = 16;
    for (std::uint8_t i = 0; i < 16; ++i) {
        dib.table.push_back(entry(i, static_cast<std::uint8_t>(i * 2), 0));
    }
    addRow(dib.pixels, {0x3C, 0xF0});
    TestImage image(3, 1);
    convert(dib.build(), image.get());
    EXPECT_EQ(image.rgba(0, 0), (Rgba{3, 6, 0, 0}));
    EXPECT_EQ(image.rgba(1, 0), (Rgba{12, 24, 0, 0}));
    EXPECT_EQ(image.rgba(2, 0), (Rgba{15, 30, 0, 0}));
}

TEST(ConvertFromDib, NarrowerBitmapLeavesTheOtherColumns) {
    DibFields dib;
    dib.width = 3;
    addRow(dib.pixels, {1, 1, 1, 2, 2, 2, 3, 3, 3});
    TestImage image(4, 1);
    convert(dib.build(), image.get());
    EXPECT_EQ(image.rgba(2, 0), (Rgba{3, 3, 3, 0}));
    EXPECT_EQ(image.rgba(3, 0), (Rgba{0xAB, 0xAB, 0xAB, 0xAB}));
}

TEST(ConvertFromDib, AllocatesPixelsWhenTheImageHasNone) {
    DibFields dib;
    addRow(dib.pixels, {1, 2, 3});
    TestImage image(1, 1, 4, 4, IPL_DEPTH_8U, "RGBA", 0, 0, 8, false);
    ASSERT_EQ(image->imageData, nullptr);
    convert(dib.build(), image.get());
    ASSERT_NE(image->imageData, nullptr);
    EXPECT_EQ(image.rgba(0, 0), (Rgba{3, 2, 1, 0}));
}

// Large 16-bit bitmaps take a whole-table path; it must agree with the field rules.
TEST(ConvertFromDib, LargeSixteenBitBitmapsMatchTheFieldRules) {
    constexpr int kWidth = 512;
    constexpr int kHeight = 600;
    for (const bool fields : {false, true}) {
        DibFields dib;
        dib.bitCount = 16;
        dib.width = kWidth;
        dib.height = -kHeight;
        if (fields) {
            dib.compression = BI_BITFIELDS;
            dib.table = {0xF800, 0x07E0, 0x001F};
        }
        auto wordAt = [](int x, int y) {
            return static_cast<std::uint32_t>((x * 131 + y * 7919) & 0xFFFF);
        };
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                testing_support::putU16(dib.pixels, wordAt(x, y));
            }
        }
        TestImage image(kWidth, kHeight);
        convert(dib.build(), image.get());
        TestImage gray(kWidth, kHeight, 1, 0, IPL_DEPTH_8U, "G\0\0\0");
        convert(dib.build(), gray.get());
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const std::uint32_t w = wordAt(x, y);
                const Rgba expected = fields
                                          ? Rgba{static_cast<std::uint8_t>(((w >> 11) & 31) << 3),
                                                 static_cast<std::uint8_t>(((w >> 5) & 63) << 2),
                                                 static_cast<std::uint8_t>((w & 31) << 3), 0}
                                          : Rgba{static_cast<std::uint8_t>(((w >> 10) & 31) << 3),
                                                 static_cast<std::uint8_t>(((w >> 5) & 31) << 3),
                                                 static_cast<std::uint8_t>((w & 31) << 3), 0};
                ASSERT_EQ(image.rgba(x, y), expected) << x << "," << y;
                const int luma = (54 * expected[0] + 183 * expected[1] + 18 * expected[2]) / 256;
                ASSERT_EQ(gray.row(y)[x], luma) << x << "," << y;
            }
        }
    }
}

// ---- Channel orders and image layouts ----

struct LayoutCase {
    const char* name;
    int nChannels;
    int alphaChannel;
    int depth;
    const char* seq;
    int dataOrder;
    Bytes expected; // the image's first bytes (planar: each plane's first row's start)
};
PRINT_CASE_AS_NAME(LayoutCase)

class ImageLayouts : public ::testing::TestWithParam<LayoutCase> {};

// Two 32-bit pixels (blue, green, red, alpha): (10, 20, 30, 40) and (255, 255, 255, 200).
TEST_P(ImageLayouts, TwoPixels) {
    const LayoutCase& c = GetParam();
    DibFields dib;
    dib.bitCount = 32;
    dib.width = 2;
    addRow(dib.pixels, {10, 20, 30, 40, 255, 255, 255, 200});
    TestImage image(2, 1, c.nChannels, c.alphaChannel, c.depth, c.seq, c.dataOrder, 0, 4, true, 0);
    convert(dib.build(), image.get());
    Bytes actual;
    if (c.dataOrder == 1) {
        const int planeBytes = image->widthStep * image->height;
        const int sampleRow = 2 * (c.depth / 8);
        for (int plane = 0; plane < c.nChannels; ++plane) {
            const auto* start =
                reinterpret_cast<const std::uint8_t*>(image->imageData) + plane * planeBytes;
            actual.insert(actual.end(), start, start + sampleRow);
        }
    } else {
        actual = image.bytes();
        actual.resize(c.expected.size());
    }
    EXPECT_EQ(actual, c.expected);
}

// Little-endian 16-bit samples as bytes.
INSTANTIATE_TEST_SUITE_P(
    Layouts, ImageLayouts,
    ::testing::Values(
        LayoutCase{"rgba", 4, 4, 8, "RGBA", 0, {30, 20, 10, 40, 255, 255, 255, 200}},
        LayoutCase{"bgra", 4, 4, 8, "BGRA", 0, {10, 20, 30, 40, 255, 255, 255, 200}},
        LayoutCase{"rgb3", 3, 0, 8, "RGB\0", 0, {30, 20, 10, 255, 255, 255}},
        LayoutCase{"bgr3", 3, 0, 8, "BGR\0", 0, {10, 20, 30, 255, 255, 255}},
        // (54 * 30 + 183 * 20 + 18 * 10) / 256 = 21; white gives 254.
        LayoutCase{"gray8", 1, 0, 8, "G\0\0\0", 0, {21, 254}},
        LayoutCase{"grayModelSeq", 1, 0, 8, "GRAY", 0, {21, 254}},
        LayoutCase{"gray16", 1, 0, 16, "G\0\0\0", 0, {0, 21, 0, 254}},
        // Byte 2 after the exchange (blue) into a one-bit image: 10 is dark, 255 bright.
        LayoutCase{"oneBitRgb", 1, 0, 1, "RGB\0", 0, {0x40}},
        LayoutCase{"rgba16",
                   4,
                   4,
                   16,
                   "RGBA",
                   0,
                   {0, 30, 0, 20, 0, 10, 0, 40, 0, 255, 0, 255, 0, 255, 0, 200}},
        LayoutCase{"rgb16", 3, 0, 16, "RGB\0", 0, {0, 30, 0, 20, 0, 10, 0, 255, 0, 255, 0, 255}},
        LayoutCase{"planarRgba", 4, 4, 8, "RGBA", 1, {30, 255, 20, 255, 10, 255, 40, 200}},
        LayoutCase{"planarBgr", 3, 0, 8, "BGR\0", 1, {10, 255, 20, 255, 30, 255}},
        LayoutCase{
            "planarRgb16", 3, 0, 16, "RGB\0", 1, {0, 30, 0, 255, 0, 20, 0, 255, 0, 10, 0, 255}},
        LayoutCase{"planarRgba16",
                   4,
                   4,
                   16,
                   "RGBA",
                   1,
                   {0, 30, 0, 255, 0, 20, 0, 255, 0, 10, 0, 255, 0, 40, 0, 200}}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return info.param.name; });

// ---- Every row width: 24- and 32-bit pixels into interleaved 4 x 8 bits ----

using RowWidthCase = std::tuple<int, const char*, int>; // bit count, channel sequence, width

class RowWidths : public ::testing::TestWithParam<RowWidthCase> {};

// Random stored rows, three of them; every pixel is checked against its own stored bytes,
// then the same rows are converted from a band whose last row ends right after its pixels.
TEST_P(RowWidths, EveryPixelComesFromItsStoredBytes) {
    const auto [bitCount, seq, width] = GetParam();
    constexpr int kHeight = 3;
    const int pixelBytes = bitCount / 8;
    const int rowBytes = (width * pixelBytes + 3) / 4 * 4;
    DibFields dib;
    dib.bitCount = static_cast<std::uint16_t>(bitCount);
    dib.width = width;
    dib.height = -kHeight;
    std::mt19937 random(static_cast<unsigned>(width * 64 + bitCount));
    for (int i = 0; i < rowBytes * kHeight; ++i) {
        dib.pixels.push_back(static_cast<std::uint8_t>(random()));
    }
    const Bytes block = dib.build();
    const bool rgba = std::strcmp(seq, "RGBA") == 0;
    // One column more than the bitmap: it must stay as the image was filled.
    TestImage image(width + 1, kHeight, 4, 4, IPL_DEPTH_8U, seq);
    convert(block, image.get());
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = dib.pixels.data() + y * rowBytes + x * pixelBytes;
            const std::uint8_t alpha = bitCount == 32 ? p[3] : 0;
            const Rgba expected =
                rgba ? Rgba{p[2], p[1], p[0], alpha} : Rgba{p[0], p[1], p[2], alpha};
            ASSERT_EQ(image.rgba(x, y), expected) << x << "," << y;
        }
        ASSERT_EQ(image.rgba(width, y), (Rgba{0xAB, 0xAB, 0xAB, 0xAB})) << y;
    }

    DibBlock dibBlock;
    dibBlock.data = block.data();
    dibBlock.size = static_cast<std::int64_t>(block.size());
    DibLayout layout;
    ASSERT_TRUE(describeDib(dibBlock, layout).ok());
    ASSERT_TRUE(checkDibExtent(dibBlock, layout).ok());
    const DibRowConverter converter(dibBlock, layout, *image.get());
    const Bytes band(dib.pixels.begin(),
                     dib.pixels.begin() + rowBytes * (kHeight - 1) + width * pixelBytes);
    TestImage fromBand(width + 1, kHeight, 4, 4, IPL_DEPTH_8U, seq);
    converter.convert(band.data(), 0, kHeight, fromBand.row(0), fromBand->widthStep);
    EXPECT_EQ(fromBand.bytes(), image.bytes());
}

INSTANTIATE_TEST_SUITE_P(Widths, RowWidths,
                         ::testing::Combine(::testing::Values(24, 32),
                                            ::testing::Values("RGBA", "BGRA"),
                                            ::testing::Values(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                                              13, 14, 15, 16, 17, 31, 64, 67)),
                         [](const ::testing::TestParamInfo<RowWidthCase>& info) {
                             return "bits" + std::to_string(std::get<0>(info.param)) + "_" +
                                    std::get<1>(info.param) + "_width" +
                                    std::to_string(std::get<2>(info.param));
                         });

TEST(ConvertFromDib, GrayFromPaletteWhiteIs254) {
    DibFields dib;
    dib.bitCount = 8;
    dib.clrUsed = 1;
    dib.table = {entry(255, 255, 255)};
    addRow(dib.pixels, {0});
    TestImage image(1, 1, 1, 0, IPL_DEPTH_8U, "G\0\0\0");
    convert(dib.build(), image.get());
    EXPECT_EQ(image.row(0)[0], 254);
}

TEST(ConvertFromDib, OneBitImageKeepsTheBitsBeyondTheBitmap) {
    DibFields dib;
    dib.width = 3;
    addRow(dib.pixels, {255, 255, 255, 0, 0, 0, 200, 200, 200});
    TestImage image(10, 1, 1, 0, IPL_DEPTH_1U, "G\0\0\0", 0, 0, 4, true, 1);
    convert(dib.build(), image.get());
    EXPECT_EQ(image.row(0)[0], 0xBF); // 1, 0, 1 then the filled ones
    EXPECT_EQ(image.row(0)[1], 0xFF);
}

// ---- Refusals ----

struct RefusalCase {
    const char* name;
    void (*changeDib)(DibFields&);
    void (*changeImage)(ImageHeader*);
    int status;
    const char* message;
    int line;
};
PRINT_CASE_AS_NAME(RefusalCase)

class ConvertRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ConvertRefusal, ReportsAndLeavesTheImageUntouched) {
    const RefusalCase& c = GetParam();
    ReportCapture capture;
    DibFields dib;
    dib.width = 2;
    dib.height = 2;
    addRow(dib.pixels, {1, 2, 3, 4, 5, 6});
    addRow(dib.pixels, {1, 2, 3, 4, 5, 6});
    c.changeDib(dib);
    TestImage image(2, 2);
    ImageHeader saved = *image.get();
    const Bytes before = image.bytes();
    c.changeImage(image.get());
    convert(dib.build(), image.get());
    ASSERT_FALSE(capture.empty());
    EXPECT_EQ(capture.last().status, c.status);
    EXPECT_EQ(capture.last().message, c.message);
    EXPECT_EQ(capture.last().line, c.line);
    EXPECT_EQ(capture.last().function, "iplConvertFromDIB");
    EXPECT_EQ(capture.last().file, "iplDIB");
    EXPECT_EQ(iplGetStatus(), c.status);
    *image.get() = saved;
    EXPECT_EQ(image.bytes(), before);
}

void keepDib(DibFields&) {}
void keepImage(ImageHeader*) {}

INSTANTIATE_TEST_SUITE_P(
    Checks, ConvertRefusal,
    ::testing::Values(
        RefusalCase{"alphaNegative", keepDib, [](ImageHeader* i) { i->alphaChannel = -1; }, -5,
                    "( image->alphaChannel < 0 )", 648},
        RefusalCase{"alphaAboveChannels", keepDib, [](ImageHeader* i) { i->alphaChannel = 5; },
                    -5, "( image->nChannels < image->alphaChannel )", 649},
        RefusalCase{"dataOrder", keepDib, [](ImageHeader* i) { i->dataOrder = 2; }, -5,
                    "( (image->dataOrder != 0) && (image->dataOrder != 1) )", 652},
        RefusalCase{"origin", keepDib, [](ImageHeader* i) { i->origin = -1; }, -5,
                    "( (image->origin != 0) && (image->origin != 1) )", 656},
        RefusalCase{"align", keepDib, [](ImageHeader* i) { i->align = 2; }, -5,
                    "( (image->align != 4) && (image->align != 8) && (image->align != 16) && "
                    "(image->align != 32) )",
                    660},
        RefusalCase{"height", keepDib, [](ImageHeader* i) { i->height = 0; }, -5,
                    "(image->height <= 0)", 666},
        RefusalCase{"width", keepDib, [](ImageHeader* i) { i->width = -3; }, -5,
                    "(image->width <= 0)", 667},
        RefusalCase{"imageSize", keepDib, [](ImageHeader* i) { i->imageSize = 0; }, -5,
                    "(image->imageSize <= 0)", 668},
        RefusalCase{"widthStep", keepDib, [](ImageHeader* i) { i->widthStep = 0; }, -5,
                    "(image->widthStep <= 0)", 669},
        RefusalCase{"biSize", [](DibFields& d) { d.infoSize = 16; }, keepImage, -5,
                    "(dib->biSize != sizeof(BITMAPINFOHEADER))", 672},
        RefusalCase{"planes", [](DibFields& d) { d.planes = 2; }, keepImage, -5,
                    "(dib->biPlanes != 1)", 674},
        RefusalCase{"compression", [](DibFields& d) { d.compression = 4; }, keepImage, -5,
                    "(dib->biCompression != 0) && (dib->biCompression != 1) && "
                    "(dib->biCompression != 2) && (dib->biCompression != 3)",
                    676},
        RefusalCase{"rle8Not8Bit", [](DibFields& d) { d.compression = BI_RLE8; }, keepImage, -5,
                    "(dib->biBitCount != 8) && (dib->biCompression == 1)", 681},
        RefusalCase{"rle4Not4Bit", [](DibFields& d) { d.compression = BI_RLE4; }, keepImage, -5,
                    "(dib->biBitCount != 4) && (dib->biCompression == 2)", 683},
        RefusalCase{"rleTopDown",
                    [](DibFields& d) {
                        d.compression = BI_RLE8;
                        d.bitCount = 8;
                        d.height = -2;
                    },
                    keepImage, -5,
                    "(dib->biHeight < 0) && ( (dib->biCompression == 1) || "
                    "(dib->biCompression == 2) )",
                    685},
        RefusalCase{"clrUsedHuge", [](DibFields& d) { d.clrUsed = 0x8001; }, keepImage, -5,
                    "(dib->biClrUsed > 0x8000)", 690},
        RefusalCase{"clrUsedHugeBeforeBitCount",
                    [](DibFields& d) {
                        d.clrUsed = 0xFFFFFFFFu;
                        d.bitCount = 8;
                    },
                    keepImage, -5, "(dib->biClrUsed > 0x8000)", 690},
        RefusalCase{"clrUsed8", [](DibFields& d) {
                        d.bitCount = 8;
                        d.clrUsed = 257;
                    },
                    keepImage, -5, "( dib->biBitCount==8 && dib->biClrUsed>256 )", 691},
        RefusalCase{"clrUsed4", [](DibFields& d) {
                        d.bitCount = 4;
                        d.clrUsed = 17;
                    },
                    keepImage, -5, "( dib->biBitCount==4 && dib->biClrUsed>16 )", 693},
        RefusalCase{"negativeWidth", [](DibFields& d) { d.width = -2; }, keepImage, -5,
                    "(dib->biWidth < 0)", 695},
        RefusalCase{"tooWide", [](DibFields& d) { d.width = 3; }, keepImage, -10,
                    "Image size is too small", 704},
        RefusalCase{"tooTall", [](DibFields& d) { d.height = 3; }, keepImage, -10,
                    "Image size is too small", 704},
        RefusalCase{"tooTallTopDown", [](DibFields& d) { d.height = -3; }, keepImage, -10,
                    "Image size is too small", 704},
        RefusalCase{"heightIntMin", [](DibFields& d) { d.height = INT_MIN; }, keepImage, -10,
                    "Image size is too small", 704},
        RefusalCase{"bitCount2", [](DibFields& d) { d.bitCount = 2; }, keepImage, -3, "", 994},
        RefusalCase{"bitCount0", [](DibFields& d) { d.bitCount = 0; }, keepImage, -3, "", 994},
        RefusalCase{"channelSeq", keepDib,
                    [](ImageHeader* i) { std::memcpy(i->channelSeq, "ARGB", 4); }, -14,
                    "image->channelSeq unsupport", 790},
        RefusalCase{"writerTwoChannels", keepDib,
                    [](ImageHeader* i) {
                        i->nChannels = 2;
                        i->alphaChannel = 0;
                    },
                    -3, "", 994},
        RefusalCase{"writerDepth32", keepDib, [](ImageHeader* i) { i->depth = IPL_DEPTH_32F; },
                    -3, "", 994},
        RefusalCase{"writerSigned8", keepDib, [](ImageHeader* i) { i->depth = IPL_DEPTH_8S; },
                    -3, "", 994},
        RefusalCase{"colourTablePastBlock",
                    [](DibFields& d) {
                        d.bitCount = 8;
                        d.clrUsed = 200;
                    },
                    keepImage, -5, "Colour table or bit-field masks extend past the bitmap block",
                    712},
        RefusalCase{"masksPastBlock",
                    [](DibFields& d) {
                        d.bitCount = 16;
                        d.compression = BI_BITFIELDS;
                        d.pixels.resize(8);
                    },
                    keepImage, -5, "Colour table or bit-field masks extend past the bitmap block",
                    712},
        RefusalCase{"zeroMask16",
                    [](DibFields& d) {
                        d.bitCount = 16;
                        d.compression = BI_BITFIELDS;
                        d.table = {0xF800, 0, 0x001F};
                    },
                    keepImage, -5, "Bit-field bitmap with a colour mask of 0", 716},
        RefusalCase{"maskOnlyInHighWord16",
                    [](DibFields& d) {
                        d.bitCount = 16;
                        d.compression = BI_BITFIELDS;
                        d.table = {0xF800, 0x07E0, 0x10000};
                    },
                    keepImage, -5, "Bit-field bitmap with a colour mask of 0", 716},
        RefusalCase{"zeroMask32",
                    [](DibFields& d) {
                        d.bitCount = 32;
                        d.compression = BI_BITFIELDS;
                        d.table = {0, 0xFF00, 0xFF};
                        d.pixels.assign(16, 0);
                    },
                    keepImage, -5, "Bit-field bitmap with a colour mask of 0", 716},
        RefusalCase{"rowsPastBlock", [](DibFields& d) { d.pixels.resize(8 + 5); }, keepImage, -5,
                    "Pixel rows extend past the bitmap block", 720},
        RefusalCase{"rowsPastBlockTopDown",
                    [](DibFields& d) {
                        d.height = -2;
                        d.pixels.resize(8 + 5);
                    },
                    keepImage, -5, "Pixel rows extend past the bitmap block", 720},
        RefusalCase{"imageSizeTooSmallForGeometry", keepDib,
                    [](ImageHeader* i) { i->imageSize = 15; }, -5,
                    "image->imageSize is too small for the image geometry", 730}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST(ConvertFromDib, LastRowNeedsItsPaddingInsideTheBlock) {
    DibFields dib;
    dib.width = 1;
    dib.height = 2;
    addRow(dib.pixels, {1, 2, 3});
    addRow(dib.pixels, {4, 5, 6});
    TestImage image(1, 2);
    convert(dib.build(), image.get());
    EXPECT_EQ(image.rgba(0, 0), (Rgba{6, 5, 4, 0}));
    EXPECT_EQ(image.rgba(0, 1), (Rgba{3, 2, 1, 0}));

    ReportCapture capture;
    dib.pixels.pop_back(); // the last row without its padding byte
    TestImage refused(1, 2);
    const Bytes before = refused.bytes();
    convert(dib.build(), refused.get());
    ASSERT_EQ(capture.all().size(), 1u);
    EXPECT_EQ(capture.last().status, -5);
    EXPECT_EQ(capture.last().line, 720);
    EXPECT_EQ(refused.bytes(), before);
}

TEST(ConvertFromDib, NullArgumentsAreBothReported) {
    ReportCapture capture;
    TestImage image(1, 1);
    iplConvertFromDIB(nullptr, 0, nullptr);
    ASSERT_EQ(capture.all().size(), 2u);
    EXPECT_EQ(capture.all()[0].message, "dib==0");
    EXPECT_EQ(capture.all()[1].message, "image==0");
    EXPECT_EQ(capture.all()[1].line, 646);
    EXPECT_EQ(capture.all()[1].status, -5);

    capture.reset();
    DibFields dib;
    addRow(dib.pixels, {1, 2, 3});
    const Bytes block = dib.build();
    iplConvertFromDIB(reinterpret_cast<const BITMAPINFOHEADER*>(block.data()),
                      static_cast<std::int64_t>(block.size()), nullptr);
    ASSERT_EQ(capture.all().size(), 1u);
    EXPECT_EQ(capture.last().message, "image==0");
}

TEST(ConvertFromDib, BlockShorterThanTheInfoHeaderIsRefusedBeforeReadingIt) {
    ReportCapture capture;
    DibFields dib;
    addRow(dib.pixels, {1, 2, 3});
    Bytes block = dib.build();
    block.resize(39);
    const Bytes exact(block.begin(), block.end());
    TestImage image(1, 1);
    convert(exact, image.get());
    ASSERT_EQ(capture.all().size(), 1u);
    EXPECT_EQ(capture.last().status, -5);
    EXPECT_EQ(capture.last().message, "Bitmap block is smaller than its BITMAPINFOHEADER");
    capture.reset();
    iplConvertFromDIB(reinterpret_cast<const BITMAPINFOHEADER*>(exact.data()), -1, image.get());
    EXPECT_EQ(capture.last().status, -5);
}

TEST(ConvertFromDib, NegativeStatusMakesItReturnWithoutReport) {
    ReportCapture capture;
    DibFields dib;
    addRow(dib.pixels, {1, 2, 3});
    TestImage image(1, 1);
    iplSetStatus(-4);
    convert(dib.build(), image.get());
    EXPECT_TRUE(capture.empty());
    EXPECT_EQ(image.rgba(0, 0), (Rgba{0xAB, 0xAB, 0xAB, 0xAB}));
}

TEST(ConvertFromDib, FailedAllocationOfTheImageIsReported) {
    ReportCapture capture;
    DibFields dib;
    addRow(dib.pixels, {1, 2, 3});
    TestImage image(1, 1, 4, 4, IPL_DEPTH_8U, "RGBA", 0, 0, 8, false);
    // Fields the allocation cannot honour: the pixel area does not fit 32 bits.
    image->width = 1 << 20;
    image->height = 1 << 20;
    convert(dib.build(), image.get());
    ASSERT_EQ(capture.all().size(), 2u);
    EXPECT_EQ(capture.all()[0].function, "iplAllocateImage");
    EXPECT_EQ(capture.last().status, -4);
    EXPECT_EQ(capture.last().message, "Not enough memory to allocate data for destination image");
    EXPECT_EQ(capture.last().line, 893);
    EXPECT_EQ(image->imageData, nullptr);
    image->width = 1;
    image->height = 1;
}

TEST(ConvertFromDib, RefusalEndsTheProcessSilentlyInModeZero) {
    DibFields dib;
    dib.bitCount = 2;
    dib.pixels.assign(4, 0);
    const Bytes block = dib.build();
    TestImage image(1, 1);
    EXPECT_EXIT(
        {
            convert(block, image.get());
            std::cout << "returned";
        },
        ::testing::ExitedWithCode(1), "^$");
    dib.bitCount = 24;
    dib.pixels.resize(2); // rows past the block
    const Bytes shortBlock = dib.build();
    EXPECT_EXIT(convert(shortBlock, image.get()), ::testing::ExitedWithCode(1), "^$");
}

} // namespace
