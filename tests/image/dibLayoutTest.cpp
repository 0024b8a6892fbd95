// The bitmap description: each header form gives its table, masks and rows where they lie,
// the file's pixel-data offset being used only when the rows fit after the table from there.
#include "image/dibLayout.h"

#include "support/dibBuilder.h"
#include "support/printAsName.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using dib_builder::Bytes;
using dib_builder::DibFields;

struct FormCase {
    std::string name;
    Bytes block;
    std::int64_t pixelOffsetField; // the file header's offset, counted from the block
    // Expected description.
    std::int64_t width;
    std::int64_t height;
    bool bottomUp;
    std::int64_t bitCount;
    std::int64_t tableOffset;
    std::int64_t tableEntries;
    std::int64_t entryBytes;
    std::int64_t maskOffset; // 0: no masks
    std::int64_t pixelOffset;
    std::int64_t rowBytes;
};
PRINT_CASE_AS_NAME(FormCase)

// A 40-byte-header bitmap with `words` table words and `pixelBytes` bytes after them.
Bytes form40(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t compression,
             std::uint32_t clrUsed, std::size_t words, std::size_t pixelBytes) {
    DibFields fields;
    fields.width = width;
    fields.height = height;
    fields.bitCount = bits;
    fields.compression = compression;
    fields.clrUsed = clrUsed;
    fields.table.assign(words, 0x00FF00FFu);
    fields.pixels.assign(pixelBytes, 0);
    return fields.build();
}

// A bitmap with a longer info header (fields of the 40-byte one, then `masks` at 40 and zeros
// up to `infoSize`), `tableBytes` of table and `pixelBytes` after it.
Bytes formLong(std::uint32_t infoSize, std::int32_t width, std::int32_t height, std::uint16_t bits,
               std::uint32_t compression, const std::vector<std::uint32_t>& masks,
               std::size_t tableBytes, std::size_t pixelBytes) {
    DibFields fields;
    fields.infoSize = infoSize;
    fields.width = width;
    fields.height = height;
    fields.bitCount = bits;
    fields.compression = compression;
    Bytes block = fields.build();
    for (std::uint32_t mask : masks) {
        dib_builder::putU32(block, mask);
    }
    block.resize(infoSize + tableBytes + pixelBytes, 0x11);
    return block;
}

// The OS/2 1.x form: 12-byte header, 3-byte table entries.
Bytes formCore(std::uint16_t width, std::uint16_t height, std::uint16_t bits,
               std::size_t pixelBytes) {
    Bytes block;
    dib_builder::putU32(block, 12);
    dib_builder::putU16(block, width);
    dib_builder::putU16(block, height);
    dib_builder::putU16(block, 1);
    dib_builder::putU16(block, bits);
    block.resize(12 + (bits <= 8 ? 3u << bits : 0u) + pixelBytes, 0x22);
    return block;
}

class DibForms : public ::testing::TestWithParam<FormCase> {};

TEST_P(DibForms, DescribeWhereEachPartLies) {
    const FormCase& c = GetParam();
    DibBlock block;
    block.data = c.block.data();
    block.size = static_cast<std::int64_t>(c.block.size());
    block.pixelOffset = c.pixelOffsetField;
    DibLayout layout;
    const DibStatus described = describeDib(block, layout);
    ASSERT_TRUE(described.ok()) << described.reason;
    const DibStatus extent = checkDibExtent(block, layout);
    ASSERT_TRUE(extent.ok()) << extent.reason;
    EXPECT_EQ(layout.width, c.width);
    EXPECT_EQ(layout.height, c.height);
    EXPECT_EQ(layout.bottomUp, c.bottomUp);
    EXPECT_EQ(layout.bitCount, c.bitCount);
    EXPECT_EQ(layout.tableOffset, c.tableOffset);
    EXPECT_EQ(layout.tableEntries, c.tableEntries);
    EXPECT_EQ(layout.entryBytes, c.entryBytes);
    EXPECT_EQ(layout.bitFields, c.maskOffset != 0);
    if (c.maskOffset != 0) {
        EXPECT_EQ(layout.maskOffset, c.maskOffset);
    }
    EXPECT_EQ(layout.pixelOffset, c.pixelOffset);
    EXPECT_EQ(layout.rowBytes, c.rowBytes);
}

std::vector<FormCase> formCases() {
    return {
        {"info40Rgb24BottomUp", form40(3, 2, 24, BI_RGB, 0, 0, 24), 0, 3, 2, true, 24, 40, 0, 4, 0,
         40, 12},
        {"info40Rgb24TopDown", form40(3, -2, 24, BI_RGB, 0, 0, 24), 0, 3, 2, false, 24, 40, 0, 4, 0,
         40, 12},
        {"info40Rgb24SmallTable", form40(1, 1, 24, BI_RGB, 2, 2, 4), 0, 1, 1, true, 24, 40, 2, 4, 0,
         48, 4},
        {"info40Palette8Default", form40(5, 1, 8, BI_RGB, 0, 256, 8), 0, 5, 1, true, 8, 40, 256, 4,
         0, 40 + 1024, 8},
        {"info40Palette4Used", form40(9, 1, 4, BI_RGB, 5, 5, 8), 0, 9, 1, true, 4, 40, 5, 4, 0, 60,
         8},
        {"info40Palette1", form40(33, 1, 1, BI_RGB, 0, 2, 8), 0, 33, 1, true, 1, 40, 2, 4, 0, 48,
         8},
        {"info40BitFields16", form40(3, 1, 16, BI_BITFIELDS, 0, 3, 8), 0, 3, 1, true, 16, 52, 0, 4,
         40, 52, 8},
        {"info40BitFields32WithTable", form40(1, 1, 32, BI_BITFIELDS, 2, 5, 4), 0, 1, 1, true, 32,
         52, 2, 4, 40, 60, 4},
        {"info40Rle8", form40(3, 2, 8, BI_RLE8, 2, 2, 2), 0, 3, 2, true, 8, 40, 2, 4, 0, 48, 4},
        {"info40AlphaBitFields32", form40(2, 1, 32, BI_ALPHABITFIELDS, 0, 4, 8), 0, 2, 1, true, 32,
         56, 0, 4, 40, 56, 8},
        {"info40OffsetAfterAGap", form40(3, 1, 24, BI_RGB, 0, 0, 12 + 12), 52, 3, 1, true, 24, 40,
         0, 4, 0, 52, 12},
        {"info40OffsetInsideTheTable", form40(1, 1, 8, BI_RGB, 2, 2, 4), 44, 1, 1, true, 8, 40, 2,
         4, 0, 48, 4},
        {"info40OffsetLeavingNoRoom", form40(3, 1, 24, BI_RGB, 0, 0, 16), 48, 3, 1, true, 24, 40, 0,
         4, 0, 40, 12},
        {"os2v1Palette8", formCore(5, 2, 8, 16), 0, 5, 2, true, 8, 12, 256, 3, 0, 12 + 768, 8},
        {"os2v1Rgb24", formCore(2, 2, 24, 16), 0, 2, 2, true, 24, 12, 0, 3, 0, 12, 8},
        {"os2v2Rle4", formLong(64, 9, 1, 4, BI_RLE4, {}, 64, 2), 0, 9, 1, true, 4, 64, 16, 4, 0,
         128, 8},
        {"info52BitFields16", formLong(52, 3, -2, 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x1F}, 0, 16),
         0, 3, 2, false, 16, 52, 0, 4, 40, 52, 8},
        {"info56Rgb24", formLong(56, 1, 1, 24, BI_RGB, {}, 0, 4), 0, 1, 1, true, 24, 56, 0, 4, 0,
         56, 4},
        {"v4BitFields32", formLong(108, 1, 1, 32, BI_BITFIELDS, {0xFF0000, 0xFF00, 0xFF}, 0, 4), 0,
         1, 1, true, 32, 108, 0, 4, 40, 108, 4},
        {"v5AlphaBitFields16",
         formLong(124, 2, 1, 16, BI_ALPHABITFIELDS, {0x7C00, 0x03E0, 0x1F, 0x8000}, 0, 4), 0, 2, 1,
         true, 16, 124, 0, 4, 40, 124, 4},
        {"v5Palette8", formLong(124, 4, 1, 8, BI_RGB, {}, 1024, 4), 0, 4, 1, true, 8, 124, 256, 4,
         0, 124 + 1024, 4},
    };
}

INSTANTIATE_TEST_SUITE_P(Forms, DibForms, ::testing::ValuesIn(formCases()),
                         [](const ::testing::TestParamInfo<FormCase>& info) {
                             return info.param.name;
                         });

} // namespace
