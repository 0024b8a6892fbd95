// BMP file loader: file header checks and their last-error codes, pixel formats and row
// order as they reach the RGBA image, the alpha fix-up, and the refusal of files whose
// bitmap extends past their end or whose size the image cannot hold.
#include "tool/bmpLoader.h"

#include "support/dibBuilder.h"
#include "support/testFiles.h"
#include "util/lastError.h"

#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using dib_builder::buildBmpFile;
using dib_builder::buildDib;
using dib_builder::Bytes;
using dib_builder::DibFields;
using dib_builder::rows24;
using dib_builder::solid24;
using testing_support::putU16;
using testing_support::putU32;
using testing_support::ScratchDir;
using testing_support::writeFile;

using Pixel = std::array<std::uint8_t, 4>;

Pixel at(const QimImgT<Rgba8>& image, int x, int y) {
    Pixel p;
    std::memcpy(p.data(), image.imageData() + std::int64_t{y} * image.widthStep() + 4 * x, 4);
    return p;
}

class BmpLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        clearLastError();
        image.create(0, 0, false, false, 0.0);
    }

    bool load(const Bytes& file) {
        writeFile(path, file);
        return loadBmpFile(path.c_str(), image);
    }
    bool load(const DibFields& spec) { return load(buildBmpFile(spec)); }

    void expectFailure(const Bytes& file, int code, const std::string& text) {
        clearLastError();
        EXPECT_FALSE(load(file));
        EXPECT_EQ(lastError().code, code);
        EXPECT_EQ(std::string(lastError().message), text);
    }

    ScratchDir dir;
    std::string path = dir.file("image.bmp");
    QimImgT<Rgba8> image;
};

// ---- file header ----------------------------------------------------------------------------

TEST_F(BmpLoaderTest, MissingFileReportsItsName) {
    const std::string missing = dir.file("no such.bmp");
    EXPECT_FALSE(loadBmpFile(missing.c_str(), image));
    EXPECT_EQ(lastError().code, kLastErrorOpen);
    EXPECT_EQ(std::string(lastError().message), missing);
}

TEST_F(BmpLoaderTest, FileHeaderFailures) {
    const Bytes good = buildBmpFile(solid24(2, 2, 0x112233));
    Bytes notBm = good;
    notBm[1] = 'A';
    expectFailure(notBm, kLastErrorSignature, "Image file is not a DIB, or cannot be read.");
    Bytes lowerCase = good;
    lowerCase[0] = 'b';
    expectFailure(lowerCase, kLastErrorSignature, "Image file is not a DIB, or cannot be read.");

    // Shorter than the file header: nothing beyond what was read is looked at.
    expectFailure(Bytes{}, kLastErrorRead, "File read error.");
    expectFailure(Bytes{'B', 'M'}, kLastErrorRead, "File read error.");
    expectFailure(Bytes(good.begin(), good.begin() + 13), kLastErrorRead, "File read error.");

    // A size field of 14 or less leaves no bitmap to read.
    for (std::uint32_t field : {14u, 13u, 0u, 0x80000000u, 0xFFFFFFFFu}) {
        expectFailure(buildBmpFile(buildDib(solid24(2, 2, 0)), field), kLastErrorMemory,
                      "Memory allocation error.");
    }
    // A size field beyond the real file, however large, fails before any allocation.
    const Bytes dib = buildDib(solid24(2, 2, 0));
    for (std::uint32_t field : {static_cast<std::uint32_t>(14 + dib.size() + 1), 0x7FFFFFFFu}) {
        expectFailure(buildBmpFile(dib, field), kLastErrorRead, "File read error.");
    }
}

TEST_F(BmpLoaderTest, OnlyTheFirstErrorOfARunIsKept) {
    EXPECT_FALSE(load(Bytes{'X', 'Y'}));
    Bytes notBm = buildBmpFile(solid24(1, 1, 0));
    notBm[0] = 'X';
    EXPECT_FALSE(load(notBm));
    EXPECT_EQ(lastError().code, kLastErrorRead);
}

TEST_F(BmpLoaderTest, BytesAfterTheSizeFieldAreNeverRead) {
    // The size field covers the header and table only; the rows lie after it in the file.
    const Bytes dib = buildDib(solid24(2, 2, 0x445566));
    expectFailure(buildBmpFile(dib, 14 + 40 + 8), kLastErrorPastEnd,
                  "Bitmap data extends past the end of the file.");
    // Extra bytes after a complete bitmap change nothing.
    clearLastError();
    Bytes longer = buildBmpFile(dib);
    longer.insert(longer.end(), 100, 0xFF);
    ASSERT_TRUE(load(longer));
    EXPECT_EQ(at(image, 1, 1), (Pixel{0x44, 0x55, 0x66, 255}));
}

TEST_F(BmpLoaderTest, PixelOffsetFieldIsIgnored) {
    DibFields spec = solid24(1, 1, 0x0A0B0C);
    Bytes file = buildBmpFile(buildDib(spec), {}, 500);
    ASSERT_TRUE(load(file));
    EXPECT_EQ(at(image, 0, 0), (Pixel{0x0A, 0x0B, 0x0C, 255}));
}

// ---- pixel formats and row order ------------------------------------------------------------

TEST_F(BmpLoaderTest, TwentyFourBitRowsAreBottomUpAndOpaque) {
    DibFields spec;
    spec.width = 3;
    spec.height = 2;
    spec.pixels = rows24(3, {0x010203, 0x040506, 0x070809, 0x102030, 0x405060, 0x708090});
    ASSERT_TRUE(load(spec));
    EXPECT_EQ(image.width(), 3);
    EXPECT_EQ(image.height(), 2);
    EXPECT_EQ(at(image, 0, 0), (Pixel{0x10, 0x20, 0x30, 255}));
    EXPECT_EQ(at(image, 2, 0), (Pixel{0x70, 0x80, 0x90, 255}));
    EXPECT_EQ(at(image, 0, 1), (Pixel{0x01, 0x02, 0x03, 255}));
    EXPECT_EQ(at(image, 2, 1), (Pixel{0x07, 0x08, 0x09, 255}));
}

TEST_F(BmpLoaderTest, TopDownBitmapLoadsTopRowFirst) {
    DibFields spec;
    spec.width = 1;
    spec.height = -3;
    spec.pixels = rows24(1, {0x010000, 0x020000, 0x030000});
    ASSERT_TRUE(load(spec));
    EXPECT_EQ(image.height(), 3);
    EXPECT_EQ(at(image, 0, 0)[0], 1);
    EXPECT_EQ(at(image, 0, 1)[0], 2);
    EXPECT_EQ(at(image, 0, 2)[0], 3);
}

TEST_F(BmpLoaderTest, OneBitPaletteIsMostSignificantBitFirst) {
    DibFields spec;
    spec.width = 9;
    spec.height = 1;
    spec.bitCount = 1;
    spec.table = {0x000000, 0xFFFFFF};
    // Pixels 0..7 from byte 0 (1000 0001), pixel 8 from the top bit of byte 1.
    spec.pixels = {0x81, 0x80, 0x00, 0x00};
    ASSERT_TRUE(load(spec));
    for (int x = 0; x < 9; ++x) {
        const bool isWhite = x == 0 || x == 7 || x == 8;
        EXPECT_EQ(at(image, x, 0)[0], isWhite ? 255 : 0) << x;
    }
}

TEST_F(BmpLoaderTest, FourBitPaletteIsHighNibbleFirst) {
    DibFields spec;
    spec.width = 3;
    spec.height = 1;
    spec.bitCount = 4;
    spec.clrUsed = 3;
    spec.table = {0x000000, 0x0000FF, 0x00FF00};
    spec.pixels = {0x21, 0x00, 0x00, 0x00};
    ASSERT_TRUE(load(spec));
    EXPECT_EQ(at(image, 0, 0), (Pixel{0, 255, 0, 255}));
    EXPECT_EQ(at(image, 1, 0), (Pixel{0, 0, 255, 255}));
    EXPECT_EQ(at(image, 2, 0), (Pixel{0, 0, 0, 255}));
}

TEST_F(BmpLoaderTest, EightBitTableDefaultsTo256Entries) {
    DibFields spec;
    spec.width = 2;
    spec.height = 1;
    spec.bitCount = 8;
    spec.table.assign(256, 0);
    spec.table[3] = 0x123456;
    spec.table[255] = 0xABCDEF;
    spec.pixels = {3, 255, 0, 0};
    ASSERT_TRUE(load(spec));
    EXPECT_EQ(at(image, 0, 0), (Pixel{0x12, 0x34, 0x56, 255}));
    EXPECT_EQ(at(image, 1, 0), (Pixel{0xAB, 0xCD, 0xEF, 255}));
}

TEST_F(BmpLoaderTest, PaletteAlphaIsKeptWhenAnyIsSet) {
    DibFields spec;
    spec.width = 2;
    spec.height = 1;
    spec.bitCount = 8;
    spec.clrUsed = 2;
    spec.table = {0x80102030, 0x00405060};
    spec.pixels = {0, 1, 0, 0};
    ASSERT_TRUE(load(spec));
    EXPECT_EQ(at(image, 0, 0), (Pixel{0x10, 0x20, 0x30, 0x80}));
    EXPECT_EQ(at(image, 1, 0), (Pixel{0x40, 0x50, 0x60, 0x00}));
}

TEST_F(BmpLoaderTest, TwentyFourBitTableEntriesAreSkipped) {
    DibFields spec = solid24(1, 1, 0x778899);
    spec.clrUsed = 2;
    spec.table = {0xFFFFFF, 0xFFFFFF};
    ASSERT_TRUE(load(spec));
    EXPECT_EQ(at(image, 0, 0), (Pixel{0x77, 0x88, 0x99, 255}));
}

TEST_F(BmpLoaderTest, SixteenBitFieldsAreShiftedToEightBits) {
    DibFields plain;
    plain.width = 3;
    plain.height = 1;
    plain.bitCount = 16;
    // 0x7FFF white; 0x0421 red, green and blue 1; 0x7C00 pure red.
    putU16(plain.pixels, 0x7FFF);
    putU16(plain.pixels, 0x0421);
    putU16(plain.pixels, 0x7C00);
    putU16(plain.pixels, 0);
    ASSERT_TRUE(load(plain));
    EXPECT_EQ(at(image, 0, 0), (Pixel{248, 248, 248, 255}));
    EXPECT_EQ(at(image, 1, 0), (Pixel{8, 8, 8, 255}));
    EXPECT_EQ(at(image, 2, 0), (Pixel{248, 0, 0, 255}));

    DibFields fields;
    fields.width = 2;
    fields.height = 1;
    fields.bitCount = 16;
    fields.compression = 3;
    fields.table = {0xF800, 0x07E0, 0x001F};
    putU16(fields.pixels, 0xFFFF);
    putU16(fields.pixels, 0x0820); // red 1, green 1, blue 0
    clearLastError();
    ASSERT_TRUE(load(fields));
    EXPECT_EQ(at(image, 0, 0), (Pixel{248, 252, 248, 255}));
    EXPECT_EQ(at(image, 1, 0), (Pixel{8, 4, 0, 255}));
}

TEST_F(BmpLoaderTest, ThirtyTwoBitAlphaFixUp) {
    DibFields spec;
    spec.width = 2;
    spec.height = 2;
    spec.bitCount = 32;
    spec.pixels = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0};
    ASSERT_TRUE(load(spec));
    EXPECT_EQ(at(image, 0, 1), (Pixel{3, 2, 1, 255}));
    EXPECT_EQ(at(image, 1, 0), (Pixel{12, 11, 10, 255}));

    // One fourth byte of 1 (the last pixel scanned): every alpha stays as stored.
    spec.pixels[7] = 1; // bottom row, second pixel: image row 1
    ASSERT_TRUE(load(spec));
    EXPECT_EQ(at(image, 1, 1), (Pixel{6, 5, 4, 1}));
    EXPECT_EQ(at(image, 0, 1)[3], 0);
    EXPECT_EQ(at(image, 0, 0)[3], 0);
    EXPECT_EQ(at(image, 1, 0)[3], 0);
}

TEST_F(BmpLoaderTest, ThirtyTwoBitFieldsWithSwappedMasks) {
    DibFields spec;
    spec.width = 1;
    spec.height = 1;
    spec.bitCount = 32;
    spec.compression = 3;
    spec.table = {0x000000FF, 0x0000FF00, 0x00FF0000}; // red in the low byte
    spec.pixels = {0x11, 0x22, 0x33, 0x44};
    ASSERT_TRUE(load(spec));
    EXPECT_EQ(at(image, 0, 0), (Pixel{0x11, 0x22, 0x33, 0x44}));
}

TEST_F(BmpLoaderTest, RunLengthBitmapLoads) {
    DibFields spec;
    spec.width = 3;
    spec.height = 2;
    spec.bitCount = 8;
    spec.compression = 1;
    spec.clrUsed = 10;
    spec.table.assign(10, 0);
    spec.table[5] = 0x050505;
    spec.table[7] = 0x070707;
    spec.table[9] = 0x090909;
    spec.pixels = {3, 5, 0, 0, 2, 7, 1, 9, 0, 1};
    ASSERT_TRUE(load(spec));
    EXPECT_EQ(at(image, 0, 1)[0], 5); // first data row is the bottom row
    EXPECT_EQ(at(image, 2, 1)[0], 5);
    EXPECT_EQ(at(image, 1, 0)[0], 7);
    EXPECT_EQ(at(image, 2, 0)[0], 9);
}

TEST_F(BmpLoaderTest, LoadingIntoASharedHandleLeavesTheOtherImage) {
    QimImgT<Rgba8> other;
    other.create(2, 2, true, true, 99.0);
    image = other;
    ASSERT_TRUE(load(solid24(1, 1, 0x010203)));
    EXPECT_EQ(other.width(), 2);
    EXPECT_EQ(at(other, 1, 1), (Pixel{99, 99, 99, 99}));
    EXPECT_EQ(image.useCount(), 1);
}

// ---- bitmaps that extend past the end of the file ---------------------------------------------

TEST_F(BmpLoaderTest, InfoHeaderPastTheEnd) {
    const Bytes dib = buildDib(solid24(1, 1, 0));
    expectFailure(buildBmpFile(Bytes(dib.begin(), dib.begin() + 39)), kLastErrorPastEnd,
                  "Bitmap data extends past the end of the file.");
    DibFields bigHeader = solid24(1, 1, 0);
    bigHeader.infoSize = 0xFFFFFFF0u;
    expectFailure(buildBmpFile(bigHeader), kLastErrorPastEnd,
                  "Bitmap data extends past the end of the file.");
}

TEST_F(BmpLoaderTest, ColourTableOrMasksPastTheEnd) {
    DibFields palette;
    palette.width = 1;
    palette.height = 1;
    palette.bitCount = 8;
    palette.table.assign(100, 0); // 256 entries expected
    palette.pixels = {0, 0, 0, 0};
    expectFailure(buildBmpFile(palette), kLastErrorPastEnd,
                  "Bitmap data extends past the end of the file.");

    DibFields hugeTable = solid24(1, 1, 0);
    hugeTable.clrUsed = 0xFFFFFFFFu;
    expectFailure(buildBmpFile(hugeTable), kLastErrorPastEnd,
                  "Bitmap data extends past the end of the file.");

    DibFields masks;
    masks.width = 1;
    masks.height = 1;
    masks.bitCount = 16;
    masks.compression = 3;
    masks.table = {0xF800, 0x07E0}; // the blue mask is missing
    expectFailure(buildBmpFile(masks), kLastErrorPastEnd,
                  "Bitmap data extends past the end of the file.");
}

TEST_F(BmpLoaderTest, PixelRowsPastTheEnd) {
    struct Case {
        std::uint16_t bitCount;
        int width;
        int height;
    };
    for (const Case c : {Case{1, 9, 3}, Case{4, 5, 2}, Case{8, 3, 4}, Case{16, 3, 3},
                         Case{24, 5, 5}, Case{32, 2, 2}, Case{24, 5, -5}}) {
        DibFields spec;
        spec.width = c.width;
        spec.height = c.height;
        spec.bitCount = c.bitCount;
        if (c.bitCount <= 8) {
            spec.table.assign(std::size_t{1} << c.bitCount, 0x00FFFFFF);
        }
        const int rows = c.height < 0 ? -c.height : c.height;
        const int rowBytes = (c.width * c.bitCount + 31) / 32 * 4;
        // Exactly enough: every row padded to 4 bytes, the last one included.
        spec.pixels.assign(static_cast<std::size_t>(rows * rowBytes), 0);
        clearLastError();
        EXPECT_TRUE(load(spec)) << c.bitCount << " bits";
        spec.pixels.pop_back();
        expectFailure(buildBmpFile(spec), kLastErrorPastEnd,
                      "Bitmap data extends past the end of the file.");
    }
}

TEST_F(BmpLoaderTest, PaletteIndexBeyondTheBlockReadsBlack) {
    DibFields spec;
    spec.width = 1;
    spec.height = 1;
    spec.bitCount = 8;
    spec.clrUsed = 1;
    spec.table = {0x00FFFFFF};
    spec.pixels = {200, 0, 0, 0}; // entry 200 lies far beyond the 48-byte block
    ASSERT_TRUE(load(spec));
    EXPECT_EQ(at(image, 0, 0), (Pixel{0, 0, 0, 255}));
}

// ---- dimensions ------------------------------------------------------------------------------

TEST_F(BmpLoaderTest, ZeroWidthOrHeightGivesAnEmptyImage) {
    struct Case {
        std::int32_t width;
        std::int32_t height;
        int expectedHeight;
    };
    for (const Case c : {Case{0, 5, 5}, Case{4, 0, 0}, Case{0, -7, 7}, Case{0, 0, 0}}) {
        DibFields spec;
        spec.width = c.width;
        spec.height = c.height;
        clearLastError();
        ASSERT_TRUE(load(spec)) << c.width << " x " << c.height;
        EXPECT_EQ(image.width(), c.width);
        EXPECT_EQ(image.height(), c.expectedHeight);
        EXPECT_FALSE(image.hasPixels());
        EXPECT_EQ(lastError().code, 0);
    }
}

TEST_F(BmpLoaderTest, UnsupportedDimensionsAreRefused) {
    struct Case {
        std::int32_t width;
        std::int32_t height;
    };
    for (const Case c : {Case{-1, 1}, Case{INT32_MIN, 1}, Case{65536, 1}, Case{1, 65536},
                         Case{1, -65536}, Case{1, INT32_MIN}, Case{65535, 65535}}) {
        DibFields spec = solid24(1, 1, 0);
        spec.width = c.width;
        spec.height = c.height;
        expectFailure(buildBmpFile(spec), kLastErrorDimensions,
                      "Bitmap dimensions are not supported.");
    }
}

TEST_F(BmpLoaderTest, LargestDimensionLoads) {
    DibFields spec;
    spec.width = 65535;
    spec.height = 1;
    spec.bitCount = 1;
    spec.table = {0, 0x00FFFFFF};
    spec.pixels.assign((65535 + 31) / 32 * 4, 0xFF);
    ASSERT_TRUE(load(spec));
    EXPECT_EQ(image.width(), 65535);
    EXPECT_EQ(at(image, 65534, 0), (Pixel{255, 255, 255, 255}));
}

// ---- refusals by the image library end the process --------------------------------------------

void toStderr() {
    ::dup2(2, 1);
}

TEST_F(BmpLoaderTest, LibraryRefusalsEndTheProcessWithStatusOneAndNoText) {
    DibFields twoBit = solid24(1, 1, 0);
    twoBit.bitCount = 2;
    twoBit.table = {0, 0, 0, 0};
    DibFields runLengthTopDown;
    runLengthTopDown.width = 1;
    runLengthTopDown.height = -1;
    runLengthTopDown.bitCount = 8;
    runLengthTopDown.compression = 1;
    runLengthTopDown.clrUsed = 1;
    runLengthTopDown.table = {0};
    runLengthTopDown.pixels = {1, 0, 0, 1};
    DibFields runOverrun = runLengthTopDown;
    runOverrun.height = 1;
    runOverrun.pixels = {1, 0}; // no end-of-bitmap code before the block ends
    DibFields planes = solid24(1, 1, 0);
    planes.planes = 2;
    for (const DibFields& spec : {twoBit, runLengthTopDown, runOverrun, planes}) {
        writeFile(path, buildBmpFile(spec));
        EXPECT_EXIT(
            {
                toStderr();
                loadBmpFile(path.c_str(), image);
                std::exit(0);
            },
            ::testing::ExitedWithCode(1), "^$");
    }
}

} // namespace
