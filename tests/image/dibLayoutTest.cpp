// The bitmap description: each header form gives its table, masks and rows where they lie.
#include "image/dibLayout.h"
#include "support/dibBuilder.h"

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
        {"info40Rgb24BottomUp", form40(3, 2, 24, BI_RGB, 0, 0, 24), 0, 3, 2, true, 24, 40, 0, 4,
         0, 40, 12},
        {"info40Rgb24TopDown", form40(3, -2, 24, BI_RGB, 0, 0, 24), 0, 3, 2, false, 24, 40, 0, 4,
         0, 40, 12},
        {"info40Rgb24SmallTable", form40(1, 1, 24, BI_RGB, 2, 2, 4), 0, 1, 1, true, 24, 40, 2, 4,
         0, 48, 4},
        {"info40Palette8Default", form40(5, 1, 8, BI_RGB, 0, 256, 8), 0, 5, 1, true, 8, 40, 256,
         4, 0, 40 + 1024, 8},
        {"info40Palette4Used", form40(9, 1, 4, BI_RGB, 5, 5, 8), 0, 9, 1, true, 4, 40, 5, 4, 0,
         60, 8},
        {"info40Palette1", form40(33, 1, 1, BI_RGB, 0, 2, 8), 0, 33, 1, true, 1, 40, 2, 4, 0, 48,
         8},
        {"info40BitFields16", form40(3, 1, 16, BI_BITFIELDS, 0, 3, 8), 0, 3, 1, true, 16, 52, 0,
         4, 40, 52, 8},
        {"info40BitFields32WithTable", form40(1, 1, 32, BI_BITFIELDS, 2, 5, 4), 0, 1, 1, true, 32,
         52, 2, 4, 40, 60, 4},
        {"info40Rle8", form40(3, 2, 8, BI_RLE8, 2, 2, 2), 0, 3, 2, true, 8, 40, 2, 4, 0, 48, 4},
    };
}

INSTANTIATE_TEST_SUITE_P(Forms, DibForms, ::testing::ValuesIn(formCases()),
                         [](const ::testing::TestParamInfo<FormCase>& info) {
                             return info.param.name;
                         });

} // namespace
