// Typed image handles: header set-up per kind, sharing and copy on write, bitmap loading in
// both row orders, the grey path of pixel-less handles, handles without a body, and the
// wrapper's assertion reports.
#include "vx2Image/QimImg.h"

#include "failingAllocation.h"
#include "image/iplImage.h"
#include "support/dibBuilder.h"
#include "util/byteOrder.h"

#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using dib_builder::buildDib;
using dib_builder::Bytes;
using dib_builder::DibFields;
using dib_builder::rows24;
using dib_builder::solid24;

const BITMAPINFOHEADER* asDib(const Bytes& bytes) {
    return reinterpret_cast<const BITMAPINFOHEADER*>(bytes.data());
}

std::int64_t sizeOf(const Bytes& bytes) {
    return static_cast<std::int64_t>(bytes.size());
}

std::array<std::uint8_t, 4> rgbaAt(const QimImg& image, int x, int y) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(image.imageData()) +
                    std::int64_t{y} * image.widthStep() + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

std::uint8_t grayAt(const QimImg& image, int x, int y) {
    return reinterpret_cast<const std::uint8_t*>(
        image.imageData())[std::int64_t{y} * image.widthStep() + x];
}

// Writes a distinct value into every byte of every pixel (alpha included).
void fillPattern(QimImg& image, std::uint8_t seed) {
    auto* data = reinterpret_cast<std::uint8_t*>(image.unshare());
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width() * image.nChannels(); ++x) {
            data[std::int64_t{y} * image.widthStep() + x] =
                static_cast<std::uint8_t>(seed + 7 * y + 3 * x);
        }
    }
}

bool samePixels(const QimImg& a, const QimImg& b) {
    if (a.width() != b.width() || a.height() != b.height()) {
        return false;
    }
    for (int y = 0; y < a.height(); ++y) {
        if (std::memcmp(a.imageData() + std::int64_t{y} * a.widthStep(),
                        b.imageData() + std::int64_t{y} * b.widthStep(),
                        static_cast<std::size_t>(a.width() * a.nChannels())) != 0) {
            return false;
        }
    }
    return true;
}

// ---- header set-up -------------------------------------------------------------------------

template <class Kind> void expectKindHeader(const QimImg& image, int width, int height) {
    const ImageHeader* h = image.header();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->headerSize, static_cast<int>(sizeof(ImageHeader)));
    EXPECT_EQ(h->nChannels, Kind::kind.nChannels);
    EXPECT_EQ(h->alphaChannel, Kind::kind.alphaChannel);
    EXPECT_EQ(h->depth, IPL_DEPTH_8U);
    EXPECT_EQ(std::memcmp(h->colorModel, Kind::kind.colorModel, 4), 0);
    EXPECT_EQ(std::memcmp(h->channelSeq, Kind::kind.channelSeq, 4), 0);
    EXPECT_EQ(h->dataOrder, 0);
    EXPECT_EQ(h->origin, 0);
    EXPECT_EQ(h->align, 8);
    EXPECT_EQ(h->width, width);
    EXPECT_EQ(h->height, height);
    EXPECT_EQ(h->roi, nullptr);
    EXPECT_EQ(h->mask, nullptr);
    EXPECT_EQ(h->userData, nullptr);
    EXPECT_EQ(h->tileInfo, nullptr);
}

TEST(QimImgCreate, KindsSetTheirHeaderValues) {
    EXPECT_EQ(std::memcmp(Rgba8::kind.channelSeq, "RGBA", 4), 0);
    EXPECT_EQ(std::memcmp(Gray8::kind.colorModel, "GRAY", 4), 0);
    const char greySeq[4] = {'G', 0, 0, 0};
    EXPECT_EQ(std::memcmp(Gray8::kind.channelSeq, greySeq, 4), 0);
    EXPECT_EQ(Rgba8::kind.nChannels, 4);
    EXPECT_EQ(Rgba8::kind.alphaChannel, 4);
    EXPECT_EQ(Gray8::kind.nChannels, 1);
    EXPECT_EQ(Gray8::kind.alphaChannel, 0);
    static_assert(sizeof(Rgba8) == 4 && sizeof(Gray8) == 1);

    QimImgT<Rgba8> rgba;
    rgba.create(5, 3, true, false, 0.0);
    expectKindHeader<Rgba8>(rgba, 5, 3);
    QimImgT<Gray8> grey;
    grey.create(5, 3, true, false, 0.0);
    expectKindHeader<Gray8>(grey, 5, 3);
    EXPECT_EQ(grey.widthStep(), 8);
}

TEST(QimImgCreate, DefaultHandleIsEmptyWithZeroHeader) {
    QimImgT<Rgba8> image;
    ASSERT_TRUE(image.hasBody());
    EXPECT_EQ(image.useCount(), 1);
    ImageHeader zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(image.header(), &zero, sizeof zero), 0);
    EXPECT_FALSE(image.hasPixels());
}

TEST(QimImgCreate, WithoutAllocationHasSizeButNoPixels) {
    QimImgT<Rgba8> image;
    image.create(0, 0, false, false, 0.0);
    EXPECT_EQ(image.width(), 0);
    EXPECT_EQ(image.height(), 0);
    EXPECT_FALSE(image.hasPixels());
    EXPECT_EQ(image.unshare(), nullptr);
    image.create(7, 9, false, false, 0.0);
    EXPECT_EQ(image.width(), 7);
    EXPECT_EQ(image.height(), 9);
    EXPECT_EQ(image.widthStep(), 0);
    EXPECT_FALSE(image.hasPixels());
}

TEST(QimImgCreate, RowsAreAlignedToEightBytes) {
    struct Case {
        int width;
        int widthStep;
    };
    for (const Case c : {Case{1, 8}, Case{2, 8}, Case{3, 16}, Case{4, 16}, Case{5, 24}}) {
        QimImgT<Rgba8> image;
        image.create(c.width, 2, true, false, 0.0);
        EXPECT_EQ(image.widthStep(), c.widthStep) << c.width;
        EXPECT_EQ(image.imageSize(), c.widthStep * 2) << c.width;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image.imageData()) % 8, 0u) << c.width;
    }
}

TEST(QimImgCreate, FillWritesTheLowByteEverywhere) {
    QimImgT<Rgba8> image;
    image.create(3, 2, true, true, 0x1AB); // low byte 0xAB
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(rgbaAt(image, x, y), (std::array<std::uint8_t, 4>{0xAB, 0xAB, 0xAB, 0xAB}));
        }
    }
}

TEST(QimImgCreate, RecreatingReplacesSizeAndPixels) {
    QimImgT<Rgba8> image;
    image.create(2, 2, true, false, 0.0);
    image.create(6, 1, true, true, 9.0);
    EXPECT_EQ(image.width(), 6);
    EXPECT_EQ(image.height(), 1);
    EXPECT_EQ(rgbaAt(image, 5, 0)[3], 9);
}

// ---- sharing and copy on write ---------------------------------------------------------------

TEST(QimImgSharing, CopiesShareOneBody) {
    QimImgT<Rgba8> a;
    a.create(4, 3, true, false, 0.0);
    QimImgT<Rgba8> b(a);
    QimImgT<Rgba8> c;
    c = b;
    EXPECT_EQ(a.useCount(), 3);
    EXPECT_EQ(a.imageData(), c.imageData());
    {
        QimImgT<Rgba8> d(c);
        EXPECT_EQ(a.useCount(), 4);
    }
    EXPECT_EQ(a.useCount(), 3);
    QimImgT<Rgba8>& alias = c;
    c = alias; // assigning a handle to itself keeps the body
    EXPECT_EQ(a.useCount(), 3);
    EXPECT_EQ(c.width(), 4);
}

TEST(QimImgSharing, UnsharePrivateBodyReturnsSamePixels) {
    QimImgT<Rgba8> a;
    a.create(4, 3, true, false, 0.0);
    char* before = a.imageData();
    EXPECT_EQ(a.unshare(), before);
    EXPECT_EQ(a.useCount(), 1);
}

TEST(QimImgSharing, UnshareCopiesEveryByteAndLeavesTheOtherHandleAlone) {
    QimImgT<Rgba8> a;
    a.create(3, 4, true, false, 0.0); // 3 pixels: rows padded from 12 to 16 bytes
    fillPattern(a, 1);
    QimImgT<Rgba8> b(a);
    char* copy = b.unshare();
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, a.imageData());
    EXPECT_EQ(a.useCount(), 1);
    EXPECT_EQ(b.useCount(), 1);
    EXPECT_EQ(b.widthStep(), a.widthStep());
    expectKindHeader<Rgba8>(b, 3, 4);
    // Every byte of every pixel, alpha included, reached the copy.
    EXPECT_TRUE(samePixels(a, b));
    fillPattern(b, 100);
    EXPECT_EQ(rgbaAt(a, 2, 3),
              (std::array<std::uint8_t, 4>{
                  static_cast<std::uint8_t>(1 + 21 + 24), static_cast<std::uint8_t>(1 + 21 + 27),
                  static_cast<std::uint8_t>(1 + 21 + 30), static_cast<std::uint8_t>(1 + 21 + 33)}));
    EXPECT_FALSE(samePixels(a, b));
}

TEST(QimImgSharing, GreyUnshareCopiesEveryPixel) {
    QimImgT<Gray8> a;
    a.create(5, 2, true, false, 0.0);
    fillPattern(a, 40);
    QimImgT<Gray8> b = a;
    b.unshare();
    EXPECT_NE(a.imageData(), b.imageData());
    EXPECT_TRUE(samePixels(a, b));
}

TEST(QimImgSharing, UnshareWithoutPixelsGivesPrivateEmptyBody) {
    QimImgT<Rgba8> a;
    a.create(4, 4, false, false, 0.0);
    QimImgT<Rgba8> b(a);
    EXPECT_EQ(b.unshare(), nullptr);
    EXPECT_EQ(a.useCount(), 1);
    EXPECT_EQ(b.useCount(), 1);
    EXPECT_EQ(b.width(), 4);
}

TEST(QimImgSharing, ResetSharedBodyKeepsHeaderDropsPixelsForThisHandleOnly) {
    QimImgT<Rgba8> a;
    a.create(3, 2, true, false, 0.0);
    fillPattern(a, 5);
    QimImgT<Rgba8> b(a);
    b.resetBody();
    EXPECT_EQ(a.useCount(), 1);
    EXPECT_EQ(b.useCount(), 1);
    EXPECT_TRUE(a.hasPixels());
    EXPECT_FALSE(b.hasPixels());
    expectKindHeader<Rgba8>(b, 3, 2);
    EXPECT_EQ(rgbaAt(a, 0, 0)[0], 5);
}

TEST(QimImgSharing, ResetPrivateBodyFreesPixels) {
    QimImgT<Rgba8> a;
    a.create(3, 2, true, false, 0.0);
    a.resetBody();
    EXPECT_FALSE(a.hasPixels());
    EXPECT_EQ(a.width(), 3);
}

TEST(QimImgSharing, CreateOnSharedHandleLeavesTheOtherImage) {
    QimImgT<Rgba8> a;
    a.create(3, 2, true, true, 77.0);
    QimImgT<Rgba8> b(a);
    b.create(8, 8, true, true, 1.0);
    EXPECT_EQ(a.width(), 3);
    EXPECT_EQ(rgbaAt(a, 2, 1)[0], 77);
    EXPECT_EQ(b.width(), 8);
    EXPECT_EQ(a.useCount(), 1);
}

// ---- fromDib / toDib ---------------------------------------------------------------------------

TEST(QimImgFromDib, BottomUpRowsLandTopRowFirst) {
    DibFields spec;
    spec.width = 2;
    spec.height = 2;
    // Stored bottom row first.
    spec.pixels = rows24(2, {0x010203, 0x040506, 0x0A0B0C, 0x0D0E0F});
    const Bytes dib = buildDib(spec);
    QimImgT<Rgba8> image;
    image.create(0, 0, false, false, 0.0);
    ASSERT_TRUE(image.fromDib(asDib(dib), sizeOf(dib)));
    EXPECT_EQ(image.width(), 2);
    EXPECT_EQ(image.height(), 2);
    EXPECT_EQ(rgbaAt(image, 0, 0), (std::array<std::uint8_t, 4>{0x0A, 0x0B, 0x0C, 0}));
    EXPECT_EQ(rgbaAt(image, 1, 0), (std::array<std::uint8_t, 4>{0x0D, 0x0E, 0x0F, 0}));
    EXPECT_EQ(rgbaAt(image, 0, 1), (std::array<std::uint8_t, 4>{0x01, 0x02, 0x03, 0}));
    EXPECT_EQ(rgbaAt(image, 1, 1), (std::array<std::uint8_t, 4>{0x04, 0x05, 0x06, 0}));
}

TEST(QimImgFromDib, TopDownRowsLoadWithTheAbsoluteHeight) {
    DibFields spec;
    spec.width = 2;
    spec.height = -3;
    spec.pixels = rows24(2, {0x010101, 0x020202, 0x030303, 0x040404, 0x050505, 0x060606});
    const Bytes dib = buildDib(spec);
    QimImgT<Rgba8> image;
    image.create(0, 0, false, false, 0.0);
    ASSERT_TRUE(image.fromDib(asDib(dib), sizeOf(dib)));
    EXPECT_EQ(image.height(), 3);
    EXPECT_EQ(rgbaAt(image, 0, 0)[0], 1);
    EXPECT_EQ(rgbaAt(image, 1, 0)[0], 2);
    EXPECT_EQ(rgbaAt(image, 0, 2)[0], 5);
    EXPECT_EQ(rgbaAt(image, 1, 2)[0], 6);
}

TEST(QimImgFromDib, SizesItCannotHoldAreRefusedWithoutAssertion) {
    struct Case {
        std::int32_t width;
        std::int32_t height;
    };
    for (const Case c :
         {Case{0, 1}, Case{1, 0}, Case{-1, 1}, Case{65536, 1}, Case{1, 65536}, Case{1, -65536},
          Case{1, INT32_MIN}, Case{INT32_MIN, 1}, Case{65535, 65535}}) {
        DibFields spec = solid24(1, 1, 0);
        spec.width = c.width;
        spec.height = c.height;
        const Bytes dib = buildDib(spec);
        QimImgT<Rgba8> image;
        image.create(0, 0, false, false, 0.0);
        EXPECT_FALSE(image.fromDib(asDib(dib), sizeOf(dib))) << c.width << " x " << c.height;
        EXPECT_FALSE(image.hasPixels());
    }
}

TEST(QimImgFromDib, BlockShorterThanTheInfoHeaderIsRefused) {
    const Bytes dib = buildDib(solid24(1, 1, 0));
    QimImgT<Rgba8> image;
    image.create(0, 0, false, false, 0.0);
    EXPECT_FALSE(image.fromDib(asDib(dib), 39));
}

TEST(QimImgFromDib, SharedHandleLeavesTheOtherImage) {
    QimImgT<Rgba8> a;
    a.create(2, 2, true, true, 33.0);
    QimImgT<Rgba8> b(a);
    const Bytes dib = buildDib(solid24(3, 1, 0x102030));
    ASSERT_TRUE(b.fromDib(asDib(dib), sizeOf(dib)));
    EXPECT_EQ(a.width(), 2);
    EXPECT_EQ(rgbaAt(a, 1, 1)[0], 33);
    EXPECT_EQ(b.width(), 3);
    EXPECT_EQ(rgbaAt(b, 2, 0), (std::array<std::uint8_t, 4>{0x10, 0x20, 0x30, 0}));
}

TEST(QimImgFromDib, GreyImageTakesTheLuminance) {
    const Bytes dib = buildDib(solid24(2, 1, 0xFFFFFF));
    QimImgT<Gray8> image;
    image.create(0, 0, false, false, 0.0);
    ASSERT_TRUE(image.fromDib(asDib(dib), sizeOf(dib)));
    EXPECT_EQ(grayAt(image, 0, 0), 254); // (54 + 183 + 18) * 255 / 256
}

TEST(QimImgFromDib, HandleWithoutPixelFormatGoesThroughGrey) {
    // Red 200, green 100, blue 50: (54*200 + 183*100 + 18*50) / 256 = 117.
    const Bytes dib = buildDib(solid24(3, 2, 0xC86432));
    QimImgT<Rgba8> rgba; // default header: depth 0
    ASSERT_TRUE(rgba.fromDib(asDib(dib), sizeOf(dib)));
    expectKindHeader<Rgba8>(rgba, 3, 2);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(rgbaAt(rgba, x, y), (std::array<std::uint8_t, 4>{117, 117, 117, 255}));
        }
    }
    QimImgT<Gray8> grey;
    ASSERT_TRUE(grey.fromDib(asDib(dib), sizeOf(dib)));
    EXPECT_EQ(grayAt(grey, 2, 1), 117);
}

TEST(QimImgFromDib, UntypedHandleCannotHoldABitmap) {
    const Bytes dib = buildDib(solid24(1, 1, 0));
    QimImg untyped;
    EXPECT_FALSE(untyped.fromDib(asDib(dib), sizeOf(dib)));
    EXPECT_EQ(untyped.toDib(), nullptr);
}

TEST(QimImgToDib, RgbaRoundTripKeepsEveryByte) {
    QimImgT<Rgba8> a;
    a.create(3, 2, true, false, 0.0);
    fillPattern(a, 9);
    BITMAPINFOHEADER* dib = a.toDib();
    ASSERT_NE(dib, nullptr);
    const auto* header = reinterpret_cast<const std::uint8_t*>(dib);
    EXPECT_EQ(loadLe16(header + 14), 32u); // bit count
    EXPECT_EQ(loadLeI32(header + 8), 2);   // height: bottom-up
    QimImgT<Rgba8> b;
    b.create(0, 0, false, false, 0.0);
    ASSERT_TRUE(b.fromDib(dib, 40 + 3 * 4 * 2));
    iplAlignedFree(dib);
    EXPECT_TRUE(samePixels(a, b));
}

TEST(QimImgToDib, GreyExportsAPaletteBitmap) {
    QimImgT<Gray8> a;
    a.create(5, 2, true, false, 0.0);
    fillPattern(a, 20);
    BITMAPINFOHEADER* dib = a.toDib();
    ASSERT_NE(dib, nullptr);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(dib);
    EXPECT_EQ(loadLe16(bytes + 14), 8u);              // bit count
    EXPECT_EQ(loadLe32(bytes + 32), 256u);            // colours used
    EXPECT_EQ(bytes[40 + 4 * 200], 200);              // table entry 200 is grey 200
    EXPECT_EQ(bytes[40 + 1024 + 8], grayAt(a, 0, 0)); // second stored row is image row 0
    iplAlignedFree(dib);
    QimImgT<Gray8> empty;
    EXPECT_EQ(empty.toDib(), nullptr);
}

// ---- handles without a body ---------------------------------------------------------------------

TEST(QimImgNoBody, HandleWithoutBodyReadsAsEmpty) {
    failNextNoThrowAllocations(1);
    QimImgT<Rgba8> image;
    EXPECT_FALSE(image.hasBody());
    EXPECT_EQ(image.width(), 0);
    EXPECT_EQ(image.height(), 0);
    EXPECT_EQ(image.widthStep(), 0);
    EXPECT_EQ(image.imageData(), nullptr);
    EXPECT_EQ(image.nChannels(), 0);
    EXPECT_EQ(image.useCount(), 0);
    EXPECT_EQ(image.unshare(), nullptr);
    EXPECT_EQ(image.toDib(), nullptr);
    image.resetBody();
    QimImgT<Rgba8> copy(image);
    EXPECT_FALSE(copy.hasBody());
    QimImgT<Rgba8> other;
    other = image;
    EXPECT_FALSE(other.hasBody());
}

TEST(QimImgNoBody, FromDibGetsABodyOrFails) {
    const Bytes dib = buildDib(solid24(2, 2, 0x808080));
    failNextNoThrowAllocations(1);
    QimImgT<Rgba8> image;
    failNextNoThrowAllocations(1);
    EXPECT_FALSE(image.fromDib(asDib(dib), sizeOf(dib)));
    failNextNoThrowAllocations(0);
    EXPECT_TRUE(image.fromDib(asDib(dib), sizeOf(dib)));
    EXPECT_EQ(image.width(), 2);
}

TEST(QimImgNoBody, FailedUnshareLeavesTheOtherHandleIntact) {
    QimImgT<Rgba8> a;
    a.create(2, 2, true, true, 12.0);
    QimImgT<Rgba8> b(a);
    failNextNoThrowAllocations(1);
    EXPECT_EQ(b.unshare(), nullptr);
    EXPECT_FALSE(b.hasBody());
    EXPECT_EQ(a.useCount(), 1);
    EXPECT_EQ(rgbaAt(a, 1, 1)[0], 12);
    b.create(1, 1, true, false, 0.0); // a bodiless handle gets a new body
    EXPECT_TRUE(b.hasPixels());
}

TEST(QimImgNoBody, FailedResetOfSharedBodyLeavesHandleWithoutBody) {
    QimImgT<Rgba8> a;
    a.create(2, 2, true, false, 0.0);
    QimImgT<Rgba8> b(a);
    failNextNoThrowAllocations(1);
    b.resetBody();
    EXPECT_FALSE(b.hasBody());
    EXPECT_TRUE(a.hasPixels());
    EXPECT_EQ(a.useCount(), 1);
}

// ---- assertion and error reports ------------------------------------------------------------

// The reports write to standard output; in the dying child it is pointed at standard error,
// which the death-test machinery matches. Status -1 is seen as 255.
void toStderr() {
    ::dup2(2, 1);
}

TEST(QimImgDeathTest, NullBitmapIsAnAssertion) {
    EXPECT_EXIT(
        {
            toStderr();
            QimImgT<Rgba8> image;
            image.create(0, 0, false, false, 0.0);
            image.fromDib(nullptr, 100);
        },
        ::testing::ExitedWithCode(255), "^VX2 ASSERT violation in src/vx2Image/QimImg line 549\n$");
}

TEST(QimImgDeathTest, AllocatingWithoutWidthOrHeightIsAnAssertion) {
    EXPECT_EXIT(
        {
            toStderr();
            QimImgT<Rgba8> image;
            image.create(0, 5, true, false, 0.0);
        },
        ::testing::ExitedWithCode(255), "^VX2 ASSERT violation in src/vx2Image/QimImg line 331\n$");
    EXPECT_EXIT(
        {
            toStderr();
            QimImgT<Gray8> image;
            image.create(5, -1, true, false, 0.0);
        },
        ::testing::ExitedWithCode(255), "^VX2 ASSERT violation in src/vx2Image/QimImg line 332\n$");
}

TEST(QimImgDeathTest, CreateWithoutAnyBodyReportsAllocationError) {
    EXPECT_EXIT(
        {
            toStderr();
            failNextNoThrowAllocations(2);
            QimImgT<Rgba8> image;
            image.create(4, 4, true, false, 0.0);
        },
        ::testing::ExitedWithCode(255),
        "^VX2 ERROR in src/vx2Image/QimImg line 350: Couldn't allocate memory\n$");
}

IplROI someRoi{};
ImageHeader someMask{};
int someUserData = 0;
IplTileInfo someTiles{};

// Sets one of the four fields that a body must never carry.
void setForeignField(ImageHeader& header, int field) {
    switch (field) {
    case 0:
        header.roi = &someRoi;
        break;
    case 1:
        header.mask = &someMask;
        break;
    case 2:
        header.userData = &someUserData;
        break;
    default:
        header.tileInfo = &someTiles;
        break;
    }
}

TEST(QimImgBaseDeathTest, DestroyingABodyChecksRoiMaskUserDataAndTiles) {
    for (int field = 0; field < 4; ++field) {
        const std::string expected = "^VX2 ASSERT violation in src/vx2Image/qimImgBase line " +
                                     std::to_string(351 + field) + "\n$";
        EXPECT_EXIT(
            {
                toStderr();
                auto* body = new QimImgBase();
                setForeignField(body->header, field);
                delete body;
            },
            ::testing::ExitedWithCode(255), expected);
    }
}

TEST(QimImgBaseDeathTest, ReleasingPixelsChecksRoiMaskUserDataAndTiles) {
    for (int field = 0; field < 4; ++field) {
        const std::string expected = "^VX2 ASSERT violation in src/vx2Image/qimImgBase line " +
                                     std::to_string(382 + field) + "\n$";
        EXPECT_EXIT(
            {
                toStderr();
                QimImgBase body;
                setForeignField(body.header, field);
                body.releasePixels();
            },
            ::testing::ExitedWithCode(255), expected);
    }
}

TEST(QimImgBase, CopyWithoutPixelsClearsEveryBorrowedPart) {
    QimImgBase body;
    body.header.width = 4;
    body.header.height = 2;
    body.header.nChannels = 4;
    QimImgBase copy(body, true); // no pixels to copy
    EXPECT_EQ(copy.refCount, 1);
    EXPECT_EQ(copy.header.width, 4);
    EXPECT_EQ(copy.header.imageData, nullptr);
    EXPECT_EQ(copy.header.dataBlock, nullptr);
}

} // namespace
