// Image copy: processed channels, layouts, sizes, regions and refusals.
#include "image/iplImage.h"

#include "reportCapture.h"
#include "support/printAsName.h"
#include "testImage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

using image_test::Bytes;
using image_test::ReportCapture;
using image_test::Rgba;
using image_test::TestImage;

// Gives every byte of the pixel area a distinct value.
void fillSequence(const TestImage& image, int start = 1) {
    for (int i = 0; i < image->imageSize; ++i) {
        image->imageData[i] = static_cast<char>(start + i);
    }
}

std::uint8_t byteAt(const TestImage& image, int offset) {
    return static_cast<std::uint8_t>(image->imageData[offset]);
}

TEST(Copy, Rgba8CopiesColourButNotAlpha) {
    TestImage source(3, 2);
    TestImage destination(3, 2, 4, 4, IPL_DEPTH_8U, "RGBA", 0, 0, 8, true, 0xEE);
    fillSequence(source);
    iplCopy(source.get(), destination.get());
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            const Rgba s = source.rgba(x, y);
            EXPECT_EQ(destination.rgba(x, y), (Rgba{s[0], s[1], s[2], 0xEE})) << x << "," << y;
        }
    }
    EXPECT_EQ(iplGetStatus(), 0);
}

TEST(Copy, Gray8CopiesEveryPixelButNotThePadding) {
    TestImage source(5, 3, 1, 0, IPL_DEPTH_8U, "G\0\0\0");
    TestImage destination(5, 3, 1, 0, IPL_DEPTH_8U, "G\0\0\0", 0, 0, 8, true, 0);
    fillSequence(source);
    iplCopy(source.get(), destination.get());
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(destination.row(y)[x], x < 5 ? source.row(y)[x] : 0) << x << "," << y;
        }
    }
}

TEST(Copy, DifferentSizesCopyTheCommonTopLeftPart) {
    TestImage source(4, 2, 1, 0, IPL_DEPTH_8U, "G\0\0\0");
    TestImage destination(2, 3, 1, 0, IPL_DEPTH_8U, "G\0\0\0", 0, 0, 8, true, 0);
    fillSequence(source);
    iplCopy(source.get(), destination.get());
    EXPECT_EQ(destination.row(0)[0], source.row(0)[0]);
    EXPECT_EQ(destination.row(0)[1], source.row(0)[1]);
    EXPECT_EQ(destination.row(1)[1], source.row(1)[1]);
    EXPECT_EQ(destination.row(0)[2], 0); // padding of the narrower destination
    EXPECT_EQ(destination.row(2)[0], 0); // the source has no third row
}

TEST(Copy, ThreeChannelsIntoRgba8PixelByPixel) {
    TestImage source(2, 1, 3, 0, IPL_DEPTH_8U, "RGB\0");
    TestImage destination(2, 1, 4, 4, IPL_DEPTH_8U, "RGBA", 0, 0, 8, true, 0x11);
    fillSequence(source, 100);
    iplCopy(source.get(), destination.get());
    EXPECT_EQ(destination.rgba(0, 0), (Rgba{100, 101, 102, 0x11}));
    EXPECT_EQ(destination.rgba(1, 0), (Rgba{103, 104, 105, 0x11}));
}

TEST(Copy, SixteenBitSamples) {
    TestImage source(3, 2, 3, 0, IPL_DEPTH_16U, "RGB\0");
    TestImage destination(3, 2, 3, 0, IPL_DEPTH_16U, "RGB\0", 0, 0, 8, true, 0);
    fillSequence(source);
    iplCopy(source.get(), destination.get());
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(std::memcmp(destination.row(y), source.row(y), 18), 0);
    }
}

TEST(Copy, PlanarImagesCopyEachProcessedPlane) {
    TestImage source(3, 2, 4, 4, IPL_DEPTH_8U, "RGBA", 1);
    TestImage destination(3, 2, 4, 4, IPL_DEPTH_8U, "RGBA", 1, 0, 8, true, 0x22);
    fillSequence(source);
    iplCopy(source.get(), destination.get());
    const int plane = source->widthStep * source->height;
    for (int channel = 0; channel < 4; ++channel) {
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 3; ++x) {
                const int offset = channel * plane + y * source->widthStep + x;
                EXPECT_EQ(byteAt(destination, offset), channel < 3 ? byteAt(source, offset) : 0x22)
                    << channel << " " << x << "," << y;
            }
        }
    }
}

TEST(Copy, SingleChannelImagesIgnoreTheDataOrder) {
    TestImage source(3, 1, 1, 0, IPL_DEPTH_8U, "G\0\0\0", 1);
    TestImage destination(3, 1, 1, 0, IPL_DEPTH_8U, "G\0\0\0", 0, 0, 8, true, 0);
    fillSequence(source);
    ReportCapture capture;
    iplCopy(source.get(), destination.get());
    EXPECT_TRUE(capture.empty());
    EXPECT_EQ(std::memcmp(destination.row(0), source.row(0), 3), 0);
}

TEST(Copy, AlphaOnlyImageHasNothingToCopy) {
    TestImage source(2, 1, 1, 1, IPL_DEPTH_8U, "A\0\0\0");
    TestImage destination(2, 1, 1, 1, IPL_DEPTH_8U, "A\0\0\0", 0, 0, 8, true, 0);
    fillSequence(source);
    ReportCapture capture;
    iplCopy(source.get(), destination.get());
    EXPECT_TRUE(capture.empty());
    EXPECT_EQ(destination.row(0)[0], 0);
}

TEST(Copy, SameHeaderDoesNothing) {
    TestImage image(2, 2);
    fillSequence(image);
    const Bytes before = image.bytes();
    ReportCapture capture;
    iplCopy(image.get(), image.get());
    EXPECT_TRUE(capture.empty());
    EXPECT_EQ(image.bytes(), before);
}

TEST(Copy, RegionAndChannelOfInterest) {
    TestImage source(4, 4, 3, 0, IPL_DEPTH_8U, "RGB\0");
    TestImage destination(2, 2, 3, 0, IPL_DEPTH_8U, "RGB\0", 0, 0, 8, true, 0);
    fillSequence(source);
    IplROI sourceRoi{2, 1, 2, 5, 5}; // green channel, from (1, 2); clipped to 3 x 2
    IplROI destinationRoi{3, 0, 0, 2, 2};
    source->roi = &sourceRoi;
    destination->roi = &destinationRoi;
    iplCopy(source.get(), destination.get());
    source->roi = nullptr;
    destination->roi = nullptr;
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x) {
            const std::uint8_t* d = destination.row(y) + 3 * x;
            EXPECT_EQ(d[0], 0);
            EXPECT_EQ(d[1], 0);
            EXPECT_EQ(d[2], source.row(y + 2)[3 * (x + 1) + 1]) << x << "," << y;
        }
    }
}

TEST(Copy, OneBitImagesWithABitOffset) {
    TestImage source(16, 1, 1, 0, IPL_DEPTH_1U, "G\0\0\0", 0, 0, 4, true, 0);
    TestImage destination(8, 1, 1, 0, IPL_DEPTH_1U, "G\0\0\0", 0, 0, 4, true, 0);
    source.row(0)[0] = 0x0B; // bits 4..7 = 1, 0, 1, 1
    source.row(0)[1] = 0xC0; // bits 8, 9 = 1, 1
    IplROI roi{0, 4, 0, 6, 1};
    source->roi = &roi;
    iplCopy(source.get(), destination.get());
    source->roi = nullptr;
    EXPECT_EQ(destination.row(0)[0], 0xBC); // 1 0 1 1 1 1, then two untouched zero bits
}

TEST(Copy, NegativeStatusStopsBeforeCopying) {
    TestImage source(1, 1);
    TestImage destination(1, 1, 4, 4, IPL_DEPTH_8U, "RGBA", 0, 0, 8, true, 0);
    fillSequence(source);
    ReportCapture capture;
    iplSetStatus(-5);
    iplCopy(source.get(), destination.get());
    EXPECT_EQ(destination.rgba(0, 0), (Rgba{0, 0, 0, 0}));
}

struct CopyRefusal {
    const char* name;
    void (*changeSource)(ImageHeader*);
    void (*changeDestination)(ImageHeader*);
    std::vector<int> statuses;
    std::vector<std::string> messages;
};
PRINT_CASE_AS_NAME(CopyRefusal)

class CopyRefusals : public ::testing::TestWithParam<CopyRefusal> {};

TEST_P(CopyRefusals, ReportEveryFailedCheckAndCopyNothing) {
    const CopyRefusal& c = GetParam();
    TestImage source(2, 2);
    TestImage destination(2, 2, 4, 4, IPL_DEPTH_8U, "RGBA", 0, 0, 8, true, 0);
    fillSequence(source);
    const ImageHeader savedSource = *source.get();
    const ImageHeader savedDestination = *destination.get();
    const Bytes before = destination.bytes();
    ReportCapture capture;
    c.changeSource(source.get());
    c.changeDestination(destination.get());
    iplCopy(source.get(), destination.get());
    *source.get() = savedSource;
    *destination.get() = savedDestination;
    ASSERT_EQ(capture.all().size(), c.statuses.size());
    for (std::size_t i = 0; i < c.statuses.size(); ++i) {
        EXPECT_EQ(capture.all()[i].status, c.statuses[i]);
        EXPECT_EQ(capture.all()[i].message, c.messages[i]);
        EXPECT_EQ(capture.all()[i].function, "iplCopy");
        EXPECT_EQ(capture.all()[i].file, "iplsce");
    }
    EXPECT_EQ(destination.bytes(), before);
}

void keep(ImageHeader*) {}

INSTANTIATE_TEST_SUITE_P(
    Checks, CopyRefusals,
    ::testing::Values(
        CopyRefusal{
            "badSource", [](ImageHeader* i) { i->align = 3; }, keep, {-21}, {"Incorrect Image"}},
        CopyRefusal{"sourceWithoutPixels",
                    [](ImageHeader* i) { i->imageData = nullptr; },
                    keep,
                    {-12},
                    {"Incorrect Image"}},
        CopyRefusal{"badDestination",
                    keep,
                    [](ImageHeader* i) { i->nChannels = 0; },
                    {-15},
                    {"Incorrect Image"}},
        CopyRefusal{"depth",
                    keep,
                    [](ImageHeader* i) { i->depth = IPL_DEPTH_16U; },
                    {-5},
                    {"srcImage->depth != dstImage->depth"}},
        CopyRefusal{"origin",
                    keep,
                    [](ImageHeader* i) { i->origin = 1; },
                    {-5},
                    {"srcImage->origin != dstImage->origin"}},
        CopyRefusal{"dataOrder",
                    keep,
                    [](ImageHeader* i) { i->dataOrder = 1; },
                    {-5},
                    {"srcImage->dataOrder != dstImage->dataOrder"}},
        CopyRefusal{"allThree",
                    keep,
                    [](ImageHeader* i) {
                        i->depth = IPL_DEPTH_16U;
                        i->origin = 1;
                        i->dataOrder = 1;
                    },
                    {-5, -5, -5},
                    {"srcImage->depth != dstImage->depth", "srcImage->origin != dstImage->origin",
                     "srcImage->dataOrder != dstImage->dataOrder"}},
        CopyRefusal{"processedChannels",
                    keep,
                    [](ImageHeader* i) {
                        i->nChannels = 1;
                        i->alphaChannel = 0;
                    },
                    {-5},
                    {"Number of processed channels of srcImage != Number of processed channels "
                     "of dstImage"}}),
    [](const ::testing::TestParamInfo<CopyRefusal>& info) { return info.param.name; });

TEST(Copy, DepthMismatchEndsTheProcessSilentlyInModeZero) {
    TestImage source(2, 2);
    TestImage destination(2, 2, 4, 4, IPL_DEPTH_16U, "RGBA");
    EXPECT_EXIT(iplCopy(source.get(), destination.get()), ::testing::ExitedWithCode(1), "^$");
}

} // namespace
