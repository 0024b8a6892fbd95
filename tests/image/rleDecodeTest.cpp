// Run-length compressed bitmaps (BI_RLE8, BI_RLE4) through the DIB conversion: decoding,
// pixels left unset, and every refusal of the decoder.
#include "image/iplImage.h"

#include "reportCapture.h"
#include "support/printAsName.h"
#include "testImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using image_test::Bytes;
using image_test::convert;
using image_test::DibFields;
using image_test::entry;
using image_test::ReportCapture;
using image_test::TestImage;

using Rows = std::vector<std::vector<int>>;

// A run-length bitmap whose palette maps index i to red i, so the image's red bytes show the
// decoded indices. Unused image pixels start as 0xAB.
DibFields rleBitmap(std::uint32_t compression, int width, int height, const Bytes& data) {
    DibFields dib;
    dib.compression = compression;
    dib.bitCount = compression == BI_RLE8 ? 8 : 4;
    dib.width = width;
    dib.height = height;
    const int entries = compression == BI_RLE8 ? 256 : 16;
    for (int i = 0; i < entries; ++i) {
        dib.table.push_back(entry(static_cast<std::uint8_t>(i), 0, 0));
    }
    dib.pixels = data;
    return dib;
}

// Image rows top first, as picture rows: data row y is image row height - 1 - y.
Rows decode(std::uint32_t compression, int width, int height, const Bytes& data) {
    const DibFields dib = rleBitmap(compression, width, height, data);
    TestImage image(width, height);
    convert(dib.build(), image.get());
    Rows rows;
    for (int y = 0; y < height; ++y) {
        std::vector<int> row;
        for (int x = 0; x < width; ++x) {
            row.push_back(image.rgba(x, y)[0]);
        }
        rows.push_back(row);
    }
    return rows;
}

// Rows may run on into their padding (up to the padded row of 4 bytes, the extra pixels being
// dropped), and an end of line may close a row early (the rest stays index 0).
struct RowEndCase {
    std::string name;
    std::uint32_t compression;
    int width;
    int height;
    Bytes data;
    Rows rows; // picture rows, top first
};
PRINT_CASE_AS_NAME(RowEndCase)

class RleRowEnds : public ::testing::TestWithParam<RowEndCase> {};

TEST_P(RleRowEnds, DecodeAsThePaddedRowAllows) {
    const RowEndCase& c = GetParam();
    EXPECT_EQ(decode(c.compression, c.width, c.height, c.data), c.rows);
}

INSTANTIATE_TEST_SUITE_P(
    RowEnds, RleRowEnds,
    ::testing::Values(
        RowEndCase{"rle8RunIntoPadding", BI_RLE8, 3, 1, {0x04, 0x06, 0x00, 0x01}, {{6, 6, 6}}},
        RowEndCase{"rle8LiteralIntoPadding",
                   BI_RLE8,
                   2,
                   2,
                   {0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x02, 0x05, 0x00, 0x01},
                   {{5, 5}, {1, 2}}},
        RowEndCase{"rle8EarlyEndOfLine",
                   BI_RLE8,
                   3,
                   2,
                   {0x02, 0x05, 0x00, 0x00, 0x03, 0x07, 0x00, 0x01},
                   {{7, 7, 7}, {5, 5, 0}}},
        RowEndCase{"rle8DeltaIntoPadding",
                   BI_RLE8,
                   2,
                   2,
                   {0x01, 0x03, 0x00, 0x02, 0x03, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00, 0x01},
                   {{4, 4}, {3, 0}}},
        RowEndCase{"rle4RunIntoPadding", BI_RLE4, 3, 1, {0x08, 0x12, 0x00, 0x01}, {{1, 2, 1}}},
        RowEndCase{"rle4EarlyEndOfLine",
                   BI_RLE4,
                   5,
                   2,
                   {0x02, 0x34, 0x00, 0x00, 0x05, 0x56, 0x00, 0x01},
                   {{5, 6, 5, 6, 5}, {3, 4, 0, 0, 0}}}),
    [](const ::testing::TestParamInfo<RowEndCase>& info) { return info.param.name; });

TEST(Rle8, RunsEndOfLineAndEndOfBitmap) {
    const Rows rows =
        decode(BI_RLE8, 3, 2, {0x03, 0x05, 0x00, 0x00, 0x02, 0x07, 0x01, 0x09, 0x00, 0x01});
    EXPECT_EQ(rows, (Rows{{7, 7, 9}, {5, 5, 5}}));
}

TEST(Rle8, LiteralBlockIsPaddedToAnEvenLength) {
    const Rows rows =
        decode(BI_RLE8, 4, 1, {0x00, 0x03, 0x01, 0x02, 0x03, 0x00, 0x01, 0x04, 0x00, 0x01});
    EXPECT_EQ(rows, (Rows{{1, 2, 3, 4}}));
}

TEST(Rle8, DeltaSkipsPixelsWhichStayIndexZero) {
    const Rows rows =
        decode(BI_RLE8, 4, 2, {0x02, 0x01, 0x00, 0x02, 0x01, 0x01, 0x01, 0x05, 0x00, 0x01});
    EXPECT_EQ(rows, (Rows{{0, 0, 0, 5}, {1, 1, 0, 0}}));
}

TEST(Rle8, EndOfBitmapInTheLastRowRightAfterItsFirstCode) {
    const Rows rows = decode(BI_RLE8, 3, 2, {0x03, 0x01, 0x00, 0x00, 0x01, 0x02, 0x00, 0x01});
    EXPECT_EQ(rows, (Rows{{2, 0, 0}, {1, 1, 1}}));
}

TEST(Rle8, EndOfBitmapAfterTheLastEndOfLine) {
    const Rows rows =
        decode(BI_RLE8, 1, 2, {0x01, 0x03, 0x00, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x01});
    EXPECT_EQ(rows, (Rows{{4}, {3}}));
}

TEST(Rle8, DeltaToTheEndOfTheLastRowThenEndOfBitmap) {
    const Rows rows = decode(BI_RLE8, 2, 2, {0x00, 0x02, 0x02, 0x02, 0x00, 0x01});
    EXPECT_EQ(rows, (Rows{{0, 0}, {0, 0}}));
}

TEST(Rle4, RunAlternatesNibblesAndWritesExactlyItsLength) {
    const Rows rows = decode(BI_RLE4, 5, 1, {0x05, 0x12, 0x00, 0x01});
    EXPECT_EQ(rows, (Rows{{1, 2, 1, 2, 1}}));
}

TEST(Rle4, NineWideRowsOccupyEightBytes) {
    const Rows rows = decode(BI_RLE4, 9, 2, {0x09, 0x34, 0x00, 0x00, 0x09, 0x56, 0x00, 0x01});
    EXPECT_EQ(rows, (Rows{{5, 6, 5, 6, 5, 6, 5, 6, 5}, {3, 4, 3, 4, 3, 4, 3, 4, 3}}));
}

TEST(Rle4, RunFromAnOddPositionStartsWithTheHighNibble) {
    const Rows rows = decode(BI_RLE4, 4, 1, {0x00, 0x02, 0x01, 0x00, 0x03, 0xAB, 0x00, 0x01});
    EXPECT_EQ(rows, (Rows{{0, 10, 11, 10}}));
}

TEST(Rle4, NibblesAreWrittenInPlace) {
    const Rows rows = decode(BI_RLE4, 3, 1, {0x01, 0xA0, 0x01, 0xB0, 0x01, 0xC0, 0x00, 0x01});
    EXPECT_EQ(rows, (Rows{{10, 11, 12}}));
}

TEST(Rle4, LiteralFromAnOddPosition) {
    const Rows rows =
        decode(BI_RLE4, 4, 1, {0x00, 0x02, 0x01, 0x00, 0x00, 0x03, 0x12, 0x30, 0x00, 0x01});
    EXPECT_EQ(rows, (Rows{{0, 1, 2, 3}}));
}

TEST(Rle4, LiteralWithPadding) {
    const Rows rows = decode(BI_RLE4, 5, 1, {0x00, 0x05, 0x12, 0x34, 0x50, 0x00, 0x00, 0x01});
    EXPECT_EQ(rows, (Rows{{1, 2, 3, 4, 5}}));
}

struct RleRefusal {
    const char* name;
    std::uint32_t compression;
    int width;
    int height;
    Bytes data;
    int status;
    const char* message;
    int line;
};
PRINT_CASE_AS_NAME(RleRefusal)

class RleRefusals : public ::testing::TestWithParam<RleRefusal> {};

TEST_P(RleRefusals, DecoderReportsThenConversionGivesUp) {
    const RleRefusal& c = GetParam();
    ReportCapture capture;
    const DibFields dib = rleBitmap(c.compression, c.width, c.height, c.data);
    TestImage image(std::max(c.width, 1), std::max(c.height, 1));
    const Bytes before = image.bytes();
    convert(dib.build(), image.get());
    ASSERT_EQ(capture.all().size(), 2u);
    const image_test::Report& decoder = capture.all()[0];
    EXPECT_EQ(decoder.status, c.status);
    EXPECT_EQ(decoder.message, c.message);
    EXPECT_EQ(decoder.line, c.line);
    EXPECT_EQ(decoder.function, "iplConvertFromDIB");
    EXPECT_EQ(decoder.file, "ownrle");
    EXPECT_EQ(capture.last().status, -3);
    EXPECT_EQ(capture.last().message, "Impossible to decompress RLE DIB");
    EXPECT_EQ(capture.last().line, 947);
    EXPECT_EQ(capture.last().file, "iplDIB");
    EXPECT_EQ(image.bytes(), before);
}

const char* const kHeight8 = "Incorrect format of BI_RLE8 DIB (mismatch biHeight)";
const char* const kDelta8 = "Incorrect format of BI_RLE8 DIB (bad Delta command)";
const char* const kPosition8 = "Incorrect format of BI_RLE8 DIB (mismatch biHeight or biWidth)";
const char* const kEnd8 = "Incorrect format of BI_RLE8 DIB (data ends without end of bitmap)";
const char* const kHeight4 = "Incorrect format of BI_RLE4 DIB (mismatch biHeight)";
const char* const kDelta4 = "Incorrect format of BI_RLE4 DIB (bad Delta command)";
const char* const kPosition4 = "Incorrect format of BI_RLE4 DIB (mismatch biHeight or biWidth)";
const char* const kEnd4 = "Incorrect format of BI_RLE4 DIB (data ends without end of bitmap)";

INSTANTIATE_TEST_SUITE_P(
    Refusals, RleRefusals,
    ::testing::Values(
        RleRefusal{"rle8NoMemoryHeight0",
                   BI_RLE8,
                   3,
                   0,
                   {0x00, 0x01},
                   -4,
                   "Not enough memory to decompress BI_RLE8 DIB at DIB",
                   606},
        RleRefusal{"rle8NoMemoryWidth0",
                   BI_RLE8,
                   0,
                   2,
                   {0x00, 0x01},
                   -4,
                   "Not enough memory to decompress BI_RLE8 DIB at DIB",
                   606},
        RleRefusal{
            "rle8EndTwoRowsEarly", BI_RLE8, 1, 2, {0x01, 0x01, 0x00, 0x01}, -5, kHeight8, 652},
        RleRefusal{
            "rle8DeltaPastPaddedRow", BI_RLE8, 2, 2, {0x00, 0x02, 0x05, 0x00}, -5, kDelta8, 667},
        RleRefusal{
            "rle8DeltaPastHeight", BI_RLE8, 2, 2, {0x00, 0x02, 0x00, 0x03}, -5, kDelta8, 667},
        RleRefusal{
            "rle8RunPastPaddedRow", BI_RLE8, 2, 1, {0x05, 0x01, 0x00, 0x01}, -5, kPosition8, 696},
        RleRefusal{"rle8RunBelowLastRow",
                   BI_RLE8,
                   1,
                   1,
                   {0x01, 0x01, 0x00, 0x00, 0x01, 0x01},
                   -5,
                   kPosition8,
                   696},
        RleRefusal{"rle8LiteralPastPaddedRow",
                   BI_RLE8,
                   2,
                   1,
                   {0x00, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05, 0x00},
                   -5,
                   kPosition8,
                   696},
        RleRefusal{"rle8LineAfterLastRow",
                   BI_RLE8,
                   1,
                   1,
                   {0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01},
                   -5,
                   kPosition8,
                   696},
        RleRefusal{"rle8NoEndOfBitmap", BI_RLE8, 1, 1, {0x01, 0x05}, -5, kEnd8, 700},
        RleRefusal{"rle8HalfACode", BI_RLE8, 1, 1, {0x01, 0x05, 0x00}, -5, kEnd8, 700},
        RleRefusal{"rle8CutDelta", BI_RLE8, 2, 2, {0x00, 0x02, 0x01}, -5, kEnd8, 700},
        RleRefusal{"rle8CutLiteral", BI_RLE8, 4, 1, {0x00, 0x04, 0x01, 0x02}, -5, kEnd8, 700},
        RleRefusal{"rle8NoData", BI_RLE8, 1, 1, {}, -5, kEnd8, 700},
        RleRefusal{"rle4NoMemory",
                   BI_RLE4,
                   2,
                   0,
                   {0x00, 0x01},
                   -4,
                   "Not enough memory to decompress BI_RLE4 DIB at DIB",
                   715},
        RleRefusal{"rle4EndEarly", BI_RLE4, 1, 3, {0x01, 0x10, 0x00, 0x01}, -5, kHeight4, 785},
        RleRefusal{
            "rle4DeltaPastPaddedRow", BI_RLE4, 2, 1, {0x00, 0x02, 0x09, 0x00}, -5, kDelta4, 805},
        RleRefusal{
            "rle4RunPastPaddedRow", BI_RLE4, 2, 1, {0x09, 0x11, 0x00, 0x01}, -5, kPosition4, 848},
        RleRefusal{"rle4LiteralPastPaddedRow",
                   BI_RLE4,
                   2,
                   1,
                   {0x00, 0x09, 0x12, 0x34, 0x56, 0x78, 0x90, 0x00},
                   -5,
                   kPosition4,
                   848},
        RleRefusal{"rle4NoEndOfBitmap", BI_RLE4, 2, 1, {0x02, 0x12, 0x00, 0x00}, -5, kEnd4, 852},
        RleRefusal{"rle4CutLiteral", BI_RLE4, 6, 1, {0x00, 0x05, 0x12, 0x34}, -5, kEnd4, 852}),
    [](const ::testing::TestParamInfo<RleRefusal>& info) { return info.param.name; });

TEST(Rle, ColourTablePastTheBlockIsRefusedBeforeDecoding) {
    ReportCapture capture;
    DibFields dib = rleBitmap(BI_RLE8, 1, 1, {0x01, 0x00, 0x00, 0x01});
    dib.table.resize(200); // the default table of 256 entries does not fit
    dib.pixels.clear();
    TestImage image(1, 1);
    convert(dib.build(), image.get());
    ASSERT_EQ(capture.all().size(), 1u);
    EXPECT_EQ(capture.last().status, -5);
    EXPECT_EQ(capture.last().line, 712);
}

TEST(Rle, RefusalEndsTheProcessSilentlyInModeZero) {
    const Bytes block = rleBitmap(BI_RLE8, 1, 1, {0x01, 0x05}).build();
    TestImage image(1, 1);
    EXPECT_EXIT(convert(block, image.get()), ::testing::ExitedWithCode(1), "^$");
}

} // namespace
