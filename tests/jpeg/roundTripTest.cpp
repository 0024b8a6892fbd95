// Encoded images decode with TurboJPEG without warnings and close to the source.
#include "encoderTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace enc_test;

namespace {

struct RoundTripCase {
    std::string name;
    int width;
    int height;
    int padding;
    int quality;
    PixelFunction fill;
};

std::vector<RoundTripCase> roundTripCases() {
    const auto gradient = [](int x, int y, std::uint8_t* p) {
        p[0] = static_cast<std::uint8_t>(x * 3);
        p[1] = static_cast<std::uint8_t>(y * 5);
        p[2] = static_cast<std::uint8_t>(255 - x - y);
        p[3] = 0x77;
    };
    return {
        {"OnePixel", 1, 1, 0, 95, solid(64, 64, 64)},
        {"Gradient7x13", 7, 13, 4, 95, gradient},
        {"Gradient10x1", 10, 1, 0, 95, gradient},
        {"Photo17x9", 17, 9, 12, 95, photoLike(17, 9, 1)},
        {"Photo64x48", 64, 48, 0, 95, photoLike(64, 48, 2)},
        {"Photo83x61", 83, 61, 4, 95, photoLike(83, 61, 3)},
        {"Gradient64x48", 64, 48, 8, 95, gradient},
        // Random pixels carry much high-frequency energy: near-lossless quality for 40 dB.
        {"Random1x1", 1, 1, 0, 100, randomPixels(4)},
        {"Random7x13", 7, 13, 0, 100, randomPixels(5)},
        {"Random17x9", 17, 9, 4, 100, randomPixels(6)},
        {"Random64x48", 64, 48, 0, 100, randomPixels(7)},
    };
}

// Each kernel set, its limit in force for the whole test.
class RoundTrip : public ::testing::TestWithParam<RoutineSetCase> {
protected:
    void SetUp() override {
        if (const std::string reason = unavailableReason(GetParam()); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
    }
    ScopedKernelSet kernels_{GetParam().kernels};
};

TEST_P(RoundTrip, DecodesWithoutWarningAbove40Decibels) {
    for (const RoundTripCase& c : roundTripCases()) {
        SCOPED_TRACE(c.name);
        const RgbxImage image = makeImage(c.width, c.height, c.padding, c.fill);
        const Encoded encoded = encodeToMemory(image, GetParam().processorClass, c.quality);
        ASSERT_EQ(encoded.status, 0);
        const Decoded decoded = decodeWithTurbo(encoded.bytes);
        ASSERT_TRUE(decoded.ok) << decoded.message;
        ASSERT_EQ(decoded.width, c.width);
        ASSERT_EQ(decoded.height, c.height);
        EXPECT_GT(psnr(image, decoded), 40.0);
    }
}

// At the tool's quality even noise keeps the fidelity of another baseline encoder.
TEST_P(RoundTrip, RandomImageAtQuality95IsAsCloseAsTurboJpegs) {
    const RgbxImage image = makeImage(64, 48, 0, randomPixels(9));
    const Encoded encoded = encodeToMemory(image, GetParam().processorClass, 95);
    ASSERT_EQ(encoded.status, 0);
    const Decoded ours = decodeWithTurbo(encoded.bytes);
    ASSERT_TRUE(ours.ok) << ours.message;

    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(handle, image.bytes.data(), 64, 256, 48, TJPF_RGBX, &jpeg, &size,
                          TJSAMP_444, 95, 0),
              0);
    const Decoded theirs = decodeWithTurbo(Bytes(jpeg, jpeg + size));
    tjFree(jpeg);
    tjDestroy(handle);
    ASSERT_TRUE(theirs.ok);
    EXPECT_GT(psnr(image, ours), psnr(image, theirs) - 0.5);
}

INSTANTIATE_TEST_SUITE_P(Sets, RoundTrip, ::testing::ValuesIn(kEveryKernelSet), routineSetName);

// The vector processor classes share one routine set and give identical streams; the plain
// classes likewise.
TEST(RoutineSets, ClassesOfOneSetGiveIdenticalStreams) {
    const RgbxImage image = makeImage(40, 24, 0, photoLike(40, 24, 13));
    const Bytes plain = encodeToMemory(image, "0").bytes;
    for (const char* cpu : {"1", "2"}) {
        EXPECT_EQ(encodeToMemory(image, cpu).bytes, plain) << cpu;
    }
    const Bytes vector = encodeToMemory(image, "6").bytes;
    for (const char* cpu : {"3", "4", "5"}) {
        EXPECT_EQ(encodeToMemory(image, cpu).bytes, vector) << cpu;
    }
}

} // namespace
