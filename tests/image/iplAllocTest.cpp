// Image header creation and checks, aligned storage, pixel fills, status texts and reporting.
#include "image/iplImage.h"

#include "reportCapture.h"
#include "support/printAsName.h"
#include "support/testFiles.h"

#include <gtest/gtest.h>
#include <ostream>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

namespace {

using image_test::ReportCapture;

struct HeaderArgs {
    int nChannels = 4;
    int alphaChannel = 4;
    int depth = IPL_DEPTH_8U;
    const char* colorModel = "RGBA";
    const char* channelSeq = "RGBA";
    int dataOrder = 0;
    int origin = 0;
    int align = 8;
    int width = 3;
    int height = 2;
    ImageHeader* mask = nullptr;

    ImageHeader* create() const {
        return iplCreateImageHeader(nChannels, alphaChannel, depth, colorModel, channelSeq,
                                    dataOrder, origin, align, width, height, nullptr, mask, nullptr,
                                    nullptr);
    }
};

// ---- Aligned allocator ----

TEST(AlignedAlloc, ReturnsThirtyTwoByteAlignedWritableBlocks) {
    for (std::int64_t size : {1, 3, 31, 32, 33, 4096, 100001}) {
        void* block = iplAlignedAlloc(size);
        ASSERT_NE(block, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 32, 0u) << size;
        std::memset(block, 0x5A, static_cast<std::size_t>(size));
        iplAlignedFree(block);
    }
}

TEST(AlignedAlloc, RefusesSizesOfZeroOrLessAndImpossibleSizes) {
    EXPECT_EQ(iplAlignedAlloc(0), nullptr);
    EXPECT_EQ(iplAlignedAlloc(-1), nullptr);
    EXPECT_EQ(iplAlignedAlloc(std::numeric_limits<std::int64_t>::min()), nullptr);
    EXPECT_EQ(iplAlignedAlloc(std::numeric_limits<std::int64_t>::max()), nullptr);
    EXPECT_EQ(iplAlignedAlloc(std::numeric_limits<std::int64_t>::max() - 20), nullptr);
    iplAlignedFree(nullptr); // does nothing
}

// ---- Header creation ----

TEST(CreateImageHeader, Rgba8WidthThreeHasStepSixteen) {
    HeaderArgs args;
    ImageHeader* image = args.create();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->headerSize, static_cast<int>(sizeof(ImageHeader)));
    EXPECT_EQ(image->version, 0);
    EXPECT_EQ(image->widthStep, 16);
    EXPECT_EQ(image->imageSize, 32);
    EXPECT_EQ(image->imageData, nullptr);
    EXPECT_EQ(image->dataBlock, nullptr);
    EXPECT_EQ(std::memcmp(image->colorModel, "RGBA", 4), 0);
    EXPECT_EQ(std::memcmp(image->channelSeq, "RGBA", 4), 0);
    for (int side = 0; side < 4; ++side) {
        EXPECT_EQ(image->borderModes[side], 0);
        EXPECT_EQ(image->borderValues[side], 0);
    }
    iplAllocateImage(image, 0, 0);
    ASSERT_NE(image->imageData, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image->imageData) % 8, 0u);
    EXPECT_EQ(image->widthStep, 16);
    EXPECT_EQ(image->imageSize, 32);
    iplFreeImageParts(image, IPL_IMAGE_ALL);
}

struct GeometryCase {
    int nChannels;
    int depth;
    int dataOrder;
    int align;
    int width;
    int height;
    int widthStep;
    int imageSize;
};
inline void PrintTo(const GeometryCase& row, std::ostream* out) {
    *out << row.width << "x" << row.height << " channels " << row.nChannels << " depth "
         << row.depth << " order " << row.dataOrder << " align " << row.align;
}

class RowGeometry : public ::testing::TestWithParam<GeometryCase> {};

// "8u", "16s", "32f": the depth as test names spell it.
std::string depthName(int depth) {
    const char kind = (depth & IPL_DEPTH_SIGN) != 0 ? 's' : depth == IPL_DEPTH_32F ? 'f' : 'u';
    return std::to_string(depth & IPL_DEPTH_MASK) + kind;
}

std::string geometryName(const ::testing::TestParamInfo<GeometryCase>& info) {
    const GeometryCase& c = info.param;
    return "depth" + depthName(c.depth) + "_" + std::to_string(c.nChannels) + "channels_" +
           (c.dataOrder == 0 ? "pixel" : "plane") + "Order_align" + std::to_string(c.align) + "_" +
           std::to_string(c.width) + "x" + std::to_string(c.height);
}

TEST_P(RowGeometry, StepAndSizeFollowTheAlignment) {
    const GeometryCase& c = GetParam();
    HeaderArgs args;
    args.nChannels = c.nChannels;
    args.alphaChannel = 0;
    args.depth = c.depth;
    args.dataOrder = c.dataOrder;
    args.align = c.align;
    args.width = c.width;
    args.height = c.height;
    ImageHeader* image = args.create();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->widthStep, c.widthStep);
    EXPECT_EQ(image->imageSize, c.imageSize);
    // Allocation recomputes the geometry even when the header's values were changed.
    image->widthStep = 1;
    image->imageSize = 1;
    if (c.depth == IPL_DEPTH_32F) {
        iplAllocateImageFP(image, 0, 0.0f);
    } else {
        iplAllocateImage(image, 0, 0);
    }
    EXPECT_EQ(image->widthStep, c.widthStep);
    EXPECT_EQ(image->imageSize, c.imageSize);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image->imageData) % c.align, 0u);
    iplFreeImageParts(image, IPL_IMAGE_ALL);
}

INSTANTIATE_TEST_SUITE_P(Geometry, RowGeometry,
                         ::testing::Values(GeometryCase{4, IPL_DEPTH_8U, 0, 8, 3, 2, 16, 32},
                                           GeometryCase{1, IPL_DEPTH_8U, 0, 4, 5, 3, 8, 24},
                                           GeometryCase{1, IPL_DEPTH_1U, 0, 4, 33, 2, 8, 16},
                                           GeometryCase{1, IPL_DEPTH_1U, 0, 32, 1, 1, 32, 32},
                                           GeometryCase{3, IPL_DEPTH_16U, 0, 16, 3, 1, 32, 32},
                                           GeometryCase{3, IPL_DEPTH_8U, 1, 4, 5, 2, 8, 48},
                                           GeometryCase{2, IPL_DEPTH_32F, 0, 8, 3, 3, 24, 72},
                                           GeometryCase{1, IPL_DEPTH_16S, 0, 32, 17, 1, 64, 64}),
                         geometryName);

struct CreateRefusal {
    const char* name;
    void (*change)(HeaderArgs&);
    int status;
};
PRINT_CASE_AS_NAME(CreateRefusal)

class CreateImageHeaderRefusal : public ::testing::TestWithParam<CreateRefusal> {};

TEST_P(CreateImageHeaderRefusal, ReportsStatusAndReturnsNull) {
    ReportCapture capture;
    HeaderArgs args;
    GetParam().change(args);
    EXPECT_EQ(args.create(), nullptr);
    ASSERT_EQ(capture.all().size(), 1u);
    EXPECT_EQ(capture.last().status, GetParam().status);
    EXPECT_EQ(capture.last().function, "iplCreateImageHeader");
    EXPECT_EQ(capture.last().message, "Incorrect data-ins");
    EXPECT_EQ(capture.last().file, "iplalloc");
    EXPECT_EQ(iplGetStatus(), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, CreateImageHeaderRefusal,
    ::testing::Values(
        CreateRefusal{"width0", [](HeaderArgs& a) { a.width = 0; }, -10},
        CreateRefusal{"heightNegative", [](HeaderArgs& a) { a.height = -1; }, -10},
        CreateRefusal{"channels0", [](HeaderArgs& a) { a.nChannels = 0; }, -15},
        CreateRefusal{"oneBitTwoChannels",
                      [](HeaderArgs& a) {
                          a.nChannels = 2;
                          a.alphaChannel = 0;
                          a.depth = IPL_DEPTH_1U;
                      },
                      -16},
        CreateRefusal{"nullModel", [](HeaderArgs& a) { a.colorModel = nullptr; }, -14},
        CreateRefusal{"nullSeq", [](HeaderArgs& a) { a.channelSeq = nullptr; }, -14},
        CreateRefusal{"depth12", [](HeaderArgs& a) { a.depth = 12; }, -17},
        CreateRefusal{"depthSigned1", [](HeaderArgs& a) { a.depth = IPL_DEPTH_SIGN | 1; }, -17},
        CreateRefusal{"alpha3of4", [](HeaderArgs& a) { a.alphaChannel = 3; }, -18},
        CreateRefusal{"dataOrder2", [](HeaderArgs& a) { a.dataOrder = 2; }, -19},
        CreateRefusal{"origin2", [](HeaderArgs& a) { a.origin = 2; }, -20},
        CreateRefusal{"align2", [](HeaderArgs& a) { a.align = 2; }, -21},
        CreateRefusal{"align64", [](HeaderArgs& a) { a.align = 64; }, -21},
        // Checked in order: the first failing check decides.
        CreateRefusal{"widthBeforeChannels",
                      [](HeaderArgs& a) {
                          a.width = 0;
                          a.nChannels = 0;
                      },
                      -10},
        CreateRefusal{"depthBeforeAlpha",
                      [](HeaderArgs& a) {
                          a.depth = 7;
                          a.alphaChannel = 1;
                      },
                      -17},
        // Geometry that the 32-bit size fields cannot hold.
        CreateRefusal{"hugeArea",
                      [](HeaderArgs& a) {
                          a.width = 1 << 20;
                          a.height = 1 << 20;
                      },
                      -10},
        CreateRefusal{"hugeRow",
                      [](HeaderArgs& a) {
                          a.width = std::numeric_limits<int>::max();
                          a.nChannels = std::numeric_limits<int>::max();
                          a.alphaChannel = 0;
                      },
                      -10}),
    [](const ::testing::TestParamInfo<CreateRefusal>& info) { return info.param.name; });

TEST(CreateImageHeader, ChecksTheMask) {
    ReportCapture capture;
    HeaderArgs maskArgs;
    maskArgs.nChannels = 1;
    maskArgs.alphaChannel = 0;
    maskArgs.depth = IPL_DEPTH_1U;
    maskArgs.colorModel = "GRAY";
    maskArgs.channelSeq = "G\0\0";
    ImageHeader* mask = maskArgs.create();
    ASSERT_NE(mask, nullptr);

    HeaderArgs args;
    args.mask = mask;
    // A mask without pixels fails its own check with -12, reported as -112.
    EXPECT_EQ(args.create(), nullptr);
    EXPECT_EQ(capture.last().status, -112);

    iplAllocateImage(mask, 1, 1);
    ImageHeader* image = args.create();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->mask, mask);
    iplFreeImageParts(image, IPL_IMAGE_ALL); // frees the mask too

    HeaderArgs eightBitMask;
    ImageHeader* notOneBit = eightBitMask.create();
    args.mask = notOneBit;
    capture.reset();
    EXPECT_EQ(args.create(), nullptr);
    EXPECT_EQ(capture.last().status, -117);
    iplFreeImageParts(notOneBit, IPL_IMAGE_ALL);
}

TEST(CreateImageHeader, RefusalEndsTheProcessSilentlyInModeZero) {
    EXPECT_EXIT(
        {
            HeaderArgs args;
            args.alphaChannel = 3;
            args.create();
            std::cout << "returned";
        },
        ::testing::ExitedWithCode(1), "^$");
}

// ---- Borders ----

TEST(SetBorder, ClampsToTheDepthRangeAndSetsChosenSides) {
    struct Case {
        int depth;
        int value;
        int expected;
    };
    const Case cases[] = {
        {IPL_DEPTH_1U, 5, 1},
        {IPL_DEPTH_1U, -5, 0},
        {IPL_DEPTH_8U, 300, 255},
        {IPL_DEPTH_8U, -1, 0},
        {IPL_DEPTH_16U, 70000, 65535},
        {IPL_DEPTH_16U, 1234, 1234},
        {IPL_DEPTH_8S, 200, 127},
        {IPL_DEPTH_8S, -200, -128},
        {IPL_DEPTH_16S, 40000, 32767},
        {IPL_DEPTH_16S, -40000, -32768},
        {IPL_DEPTH_32S, -70000, -70000},
    };
    for (const Case& c : cases) {
        HeaderArgs args;
        args.nChannels = 1;
        args.alphaChannel = 0;
        args.depth = c.depth;
        ImageHeader* image = args.create();
        ASSERT_NE(image, nullptr);
        iplSetBorder(image, 2, IPL_SIDE_TOP | IPL_SIDE_RIGHT, c.value);
        EXPECT_EQ(image->borderModes[0], 2);
        EXPECT_EQ(image->borderValues[0], c.expected) << c.depth << " " << c.value;
        EXPECT_EQ(image->borderModes[3], 2);
        EXPECT_EQ(image->borderValues[3], c.expected);
        EXPECT_EQ(image->borderModes[1], 0);
        EXPECT_EQ(image->borderModes[2], 0);
        iplFreeImageParts(image, IPL_IMAGE_ALL);
    }
}

// ---- Header check ----

TEST(CheckImageHeader, ReportsEachFaultAndStoresIt) {
    ReportCapture capture;
    EXPECT_EQ(iplCheckImageHeader(nullptr), -9);
    EXPECT_EQ(iplGetStatus(), -9);

    HeaderArgs args;
    ImageHeader* image = args.create();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(iplCheckImageHeader(image), -12); // no pixels, not tiled
    iplAllocateImage(image, 0, 0);
    iplSetStatus(-4);
    EXPECT_EQ(iplCheckImageHeader(image), 0);
    EXPECT_EQ(iplGetStatus(), -4); // success leaves the status alone

    ImageHeader copy = *image;
    copy.imageSize = 0;
    EXPECT_EQ(iplCheckImageHeader(&copy), -10);
    copy = *image;
    copy.widthStep = -1;
    EXPECT_EQ(iplCheckImageHeader(&copy), -13);
    copy = *image;
    copy.nChannels = 0;
    EXPECT_EQ(iplCheckImageHeader(&copy), -15);
    copy = *image;
    copy.align = 12;
    EXPECT_EQ(iplCheckImageHeader(&copy), -21);
    EXPECT_EQ(iplGetStatus(), -21);

    IplTileInfo tile{nullptr, nullptr, nullptr, 8, 8};
    copy = *image;
    copy.tileInfo = &tile;
    EXPECT_EQ(iplCheckImageHeader(&copy), -12); // tiled and with pixels
    copy.imageData = nullptr;
    EXPECT_EQ(iplCheckImageHeader(&copy), -22);
    tile.callBack = [](const ImageHeader*, int, int, int) {};
    tile.width = 12;
    EXPECT_EQ(iplCheckImageHeader(&copy), -23);
    tile.width = 16;
    EXPECT_EQ(iplCheckImageHeader(&copy), 0);

    IplROI roi{5, 0, 0, 1, 1};
    copy = *image;
    copy.roi = &roi;
    EXPECT_EQ(iplCheckImageHeader(&copy), -24);
    roi = {4, 0, 0, 0, 1};
    EXPECT_EQ(iplCheckImageHeader(&copy), -25);
    roi = {0, -1, 0, 1, 1};
    EXPECT_EQ(iplCheckImageHeader(&copy), -11);
    roi = {0, 1, 1, 1, 1};
    EXPECT_EQ(iplCheckImageHeader(&copy), 0);
    EXPECT_TRUE(capture.empty()); // the check stores statuses but reports nothing
    iplFreeImageParts(image, IPL_IMAGE_ALL);
}

// ---- Allocation and fill ----

struct FillCase {
    int depth;
    int nChannels;
    int value;
    std::uint32_t pattern;
};
inline void PrintTo(const FillCase& row, std::ostream* out) {
    *out << "depth " << row.depth << " channels " << row.nChannels << " value " << row.value;
}

class AllocateFill : public ::testing::TestWithParam<FillCase> {};

TEST_P(AllocateFill, WritesThePatternOverTheWholeArea) {
    const FillCase& c = GetParam();
    HeaderArgs args;
    args.nChannels = c.nChannels;
    args.alphaChannel = 0;
    args.depth = c.depth;
    args.width = 5;
    args.height = 3;
    ImageHeader* image = args.create();
    ASSERT_NE(image, nullptr);
    iplAllocateImage(image, 1, c.value);
    ASSERT_NE(image->imageData, nullptr);
    ASSERT_EQ(image->imageSize % 4, 0);
    for (int i = 0; i < image->imageSize; i += 4) {
        std::uint32_t word = 0;
        std::memcpy(&word, image->imageData + i, 4);
        ASSERT_EQ(word, c.pattern) << i;
    }
    iplFreeImageParts(image, IPL_IMAGE_ALL);
}

INSTANTIATE_TEST_SUITE_P(Patterns, AllocateFill,
                         ::testing::Values(FillCase{IPL_DEPTH_1U, 1, 3, 0xFFFFFFFFu},
                                           FillCase{IPL_DEPTH_1U, 1, 2, 0u},
                                           FillCase{IPL_DEPTH_8U, 3, 0x1234, 0x34343434u},
                                           FillCase{IPL_DEPTH_8S, 1, -2, 0xFEFEFEFEu},
                                           FillCase{IPL_DEPTH_16U, 1, 0x12345, 0x23452345u},
                                           FillCase{IPL_DEPTH_16S, 2, -1, 0xFFFFFFFFu},
                                           FillCase{IPL_DEPTH_32S, 1, -3, 0xFFFFFFFDu}),
                         [](const auto& info) {
                             const FillCase& c = info.param;
                             return "depth" + depthName(c.depth) + "_" +
                                    std::to_string(c.nChannels) + "channels_value" +
                                    (c.value < 0 ? "Minus" : "") +
                                    std::to_string(std::abs(c.value));
                         });

TEST(AllocateImageFP, FillsWithTheFloatBits) {
    HeaderArgs args;
    args.nChannels = 1;
    args.alphaChannel = 0;
    args.depth = IPL_DEPTH_32F;
    ImageHeader* image = args.create();
    ASSERT_NE(image, nullptr);
    iplAllocateImageFP(image, 1, 1.5f);
    ASSERT_NE(image->imageData, nullptr);
    for (int i = 0; i < image->imageSize; i += 4) {
        float value = 0;
        std::memcpy(&value, image->imageData + i, 4);
        ASSERT_EQ(value, 1.5f);
    }
    iplFreeImageParts(image, IPL_IMAGE_ALL);
}

struct AllocateRefusal {
    const char* name;
    bool floatVariant;
    void (*prepare)(ImageHeader*&);
    int status;
    const char* message;
};
PRINT_CASE_AS_NAME(AllocateRefusal)

class AllocateImageRefusal : public ::testing::TestWithParam<AllocateRefusal> {};

TEST_P(AllocateImageRefusal, ReportsAndLeavesNoPixels) {
    const AllocateRefusal& c = GetParam();
    ReportCapture capture;
    HeaderArgs args;
    ImageHeader* owned = args.create();
    ASSERT_NE(owned, nullptr);
    ImageHeader* image = owned;
    c.prepare(image);
    capture.reset();
    if (c.floatVariant) {
        iplAllocateImageFP(image, 0, 0.0f);
    } else {
        iplAllocateImage(image, 0, 0);
    }
    ASSERT_FALSE(capture.empty());
    EXPECT_EQ(capture.last().status, c.status);
    EXPECT_EQ(capture.last().message, c.message);
    EXPECT_EQ(capture.last().function, c.floatVariant ? "iplAllocateImageFP" : "iplAllocateImage");
    EXPECT_EQ(capture.last().file, "iplalloc");
    if (image != nullptr && image->imageData == nullptr) {
        EXPECT_EQ(image->dataBlock, nullptr);
    }
    owned->tileInfo = nullptr;
    iplFreeImageParts(owned, IPL_IMAGE_ALL);
}

IplTileInfo someTile{};

INSTANTIATE_TEST_SUITE_P(
    Checks, AllocateImageRefusal,
    ::testing::Values(
        AllocateRefusal{"nullHeader", false, [](ImageHeader*& i) { i = nullptr; }, -5,
                        "( image == ((void *)0) )"},
        AllocateRefusal{"alreadyAllocated", false,
                        [](ImageHeader*& i) { iplAllocateImage(i, 0, 0); }, -5,
                        "( image->imageData != ((void *)0) )"},
        AllocateRefusal{"tiled", false, [](ImageHeader*& i) { i->tileInfo = &someTile; }, -5,
                        "( image->tileInfo != ((void *)0) )"},
        AllocateRefusal{"depth32", false, [](ImageHeader*& i) { i->depth = IPL_DEPTH_32F; }, -5,
                        "( image->depth == 32 )"},
        AllocateRefusal{"badAlign", false, [](ImageHeader*& i) { i->align = 3; }, -21,
                        "Incorrect data-ins"},
        AllocateRefusal{"hugeArea", false,
                        [](ImageHeader*& i) {
                            i->width = 1 << 16;
                            i->height = 1 << 16;
                        },
                        -10, "Incorrect data-ins"},
        AllocateRefusal{"fpNullHeader", true, [](ImageHeader*& i) { i = nullptr; }, -5,
                        "( image == ((void *)0) )"},
        AllocateRefusal{"fpDepth8", true, [](ImageHeader*&) {}, -5, "( image->depth != 32 )"}),
    [](const ::testing::TestParamInfo<AllocateRefusal>& info) { return info.param.name; });

TEST(AllocateImage, MisuseEndsTheProcessSilentlyInModeZero) {
    HeaderArgs args;
    ImageHeader* image = args.create();
    ASSERT_NE(image, nullptr);
    iplAllocateImage(image, 0, 0);
    EXPECT_EXIT(
        {
            iplAllocateImage(image, 0, 0);
            std::cout << "returned";
        },
        ::testing::ExitedWithCode(1), "^$");
    image->depth = IPL_DEPTH_32F;
    image->imageData = nullptr;
    EXPECT_EXIT(iplAllocateImage(image, 0, 0), ::testing::ExitedWithCode(1), "^$");
    image->depth = IPL_DEPTH_8U;
    EXPECT_EXIT(iplAllocateImageFP(image, 0, 0.0f), ::testing::ExitedWithCode(1), "^$");
    iplFreeImageParts(image, IPL_IMAGE_ALL);
}

TEST(FreeImage, DataAndPartsAreReleased) {
    HeaderArgs args;
    ImageHeader* image = args.create();
    ASSERT_NE(image, nullptr);
    iplAllocateImage(image, 0, 0);
    EXPECT_EQ(iplFreeImageData(image), 0);
    EXPECT_EQ(image->imageData, nullptr);
    EXPECT_EQ(image->dataBlock, nullptr);
    EXPECT_EQ(iplFreeImageData(image), 0); // nothing left to free

    auto* roi = static_cast<IplROI*>(iplAlignedAlloc(sizeof(IplROI)));
    *roi = IplROI{0, 0, 0, 1, 1};
    image->roi = roi;
    iplAllocateImage(image, 0, 0);
    iplFreeImageParts(image, IPL_IMAGE_ROI | IPL_IMAGE_DATA);
    EXPECT_EQ(image->roi, nullptr);
    EXPECT_EQ(image->imageData, nullptr);
    iplFreeImageParts(nullptr, IPL_IMAGE_ALL);
    iplFreeImageParts(image, IPL_IMAGE_HEADER); // leak-checked under the sanitizers
}

// ---- Status texts and reporting ----

TEST(StatusText, KnownCodes) {
    struct Case {
        int code;
        const char* text;
    };
    const Case cases[] = {
        {0, "No Error"},
        {-1, "Backtrace"},
        {-3, "Internal error (bad state)"},
        {-4, "Insufficient memory"},
        {-5, "Bad argument"},
        {-6, "Unsupported function"},
        {-7, "Iteration convergence failed"},
        {-8, "Autotrace call"},
        {-9, "Null pointer to an image header"},
        {-10, "Incorrect image size"},
        {-11, "Incorrect offset of ROI of the image"},
        {-12, "Image must be tiled or must have nonzero data pointer"},
        {-13, "Incorrect widthStep of the image"},
        {-14, "Incorrect Color model or channel sequence of the image"},
        {-15, "Incorrect number of channels in the image"},
        {-16, "Number of channels for 1U depth image must be one"},
        {-17, "Incorrect depth value in the image header"},
        {-18, "Incorrect alpha channel number in the image header"},
        {-19, "Incorrect data order value in the image header"},
        {-20, "Incorrect data origin value in the image header"},
        {-21, "Incorrect data alignment value in the image header"},
        {-22, "Null pointer to callback function"},
        {-23, "Incorrect size of the tile"},
        {-24, "Incorrect COI of the image"},
        {-25, "Incorrect size of ROI in the image header"},
        {-26, "Mask image is taled"},
        {-27, "Null pointer"},
        {-28, "Incorrect vector length"},
        {-29, "Incorrect filter structure content"},
        {-30, "Incorrect transform kernel content"},
        {-31, "Incorrect filter ofset value"},
        {-110, "Mask. Incorrect image size"},
        {-111, "Mask. Incorrect offset of ROI of the image"},
        {-112, "Mask. Image must be tiled or must have nonzero data pointer"},
        {-113, "Mask. Incorrect widthStep of the image"},
        {-114, "Mask. Incorrect Color model or channel sequence of the image"},
        {-115, "Mask. Incorrect number of channels in the image"},
        {-117, "Mask. Incorrect depth value in the image header"},
        {-118, "Mask. Incorrect alpha channel number in the image header"},
        {-119, "Mask. Incorrect data order value in the image header"},
        {-120, "Mask. Incorrect data origin value in the image header"},
        {-121, "Mask. Incorrect data alignment value in the image header"},
        {-124, "Mask. Incorrect COI of the image"},
        {-125, "Mask. Incorrect size of ROI in the image header"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(iplStatusText(c.code), c.text) << c.code;
    }
}

TEST(StatusText, UnknownCodes) {
    for (int code : {1, 5, -2, -32, -100, -109, -116, -122, -123, -126, -131, -1000,
                     std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}) {
        EXPECT_STREQ(iplStatusText(code), "Unknown error or status code") << code;
    }
}

TEST(ReportStatus, StoresStatusesExceptTraceCodes) {
    ReportCapture capture;
    EXPECT_EQ(iplReportStatus(-5, "f", "m", "file", 7), -5);
    EXPECT_EQ(iplGetStatus(), -5);
    ASSERT_EQ(capture.all().size(), 1u);
    EXPECT_EQ(capture.last().line, 7);

    EXPECT_EQ(iplReportStatus(-1, "f", "m", "file", 8), -1);
    EXPECT_EQ(iplGetStatus(), -5); // backtrace is passed on but not stored
    EXPECT_EQ(iplReportStatus(-8, "f", "m", "file", 9), -8);
    EXPECT_EQ(iplGetStatus(), -5);
    EXPECT_EQ(capture.all().size(), 3u);

    EXPECT_EQ(iplReportStatus(0, "f", "m", "file", 10), 0);
    EXPECT_EQ(iplGetStatus(), 0);
    EXPECT_EQ(capture.all().size(), 3u); // status 0 does not reach the handler
}

TEST(ReportStatus, DefaultHandlerReturnsInModeOne) {
    EXPECT_EQ(iplGetErrorMode(), IPL_ErrModeLeaf);
    iplSetErrorMode(IPL_ErrModeParent);
    EXPECT_EQ(iplGetErrorMode(), IPL_ErrModeParent);
    EXPECT_EQ(iplReportStatus(-4, "f", "m", "file", 1), -4);
    EXPECT_EQ(iplDefaultErrorHandler(-3, "f", "m", "file", 1), -3);
    iplSetErrorMode(IPL_ErrModeLeaf);
    iplSetStatus(0);
}

TEST(ReportStatus, ModeZeroEndsWithStatusOneAndNoText) {
    // The child sends its standard output to a file, so that the parent can see that the
    // report added nothing to what was written before it.
    testing_support::ScratchDir dir;
    const std::string outPath = dir.file("stdout.txt");
    EXPECT_EXIT(
        {
            if (std::freopen(outPath.c_str(), "w", stdout) == nullptr) {
                std::_Exit(3);
            }
            std::cout << "before|";
            std::printf("buffered|");
            iplReportStatus(-5, "f", "message that must not appear", "file", 1);
            std::cout << "returned";
        },
        ::testing::ExitedWithCode(1), "^$");
    EXPECT_EQ(testing_support::readFile(outPath),
              testing_support::Bytes({'b', 'e', 'f', 'o', 'r', 'e', '|', 'b', 'u', 'f', 'f', 'e',
                                      'r', 'e', 'd', '|'}));
    EXPECT_EXIT(iplReportStatus(-1, "f", "m", "file", 1), ::testing::ExitedWithCode(1), "^$");
    EXPECT_EXIT(iplDefaultErrorHandler(-4, "f", "m", "file", 1), ::testing::ExitedWithCode(1),
                "^$");
}

} // namespace
