// MCU fetch and colour conversion: block values, edge replication, and the agreement of the
// plain and SSE2 versions.
#include "jpeg/mcuFetch.h"
#include "encoderTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

using namespace enc_test;

namespace {

using Blocks = std::array<std::int16_t, 192>; // Y, Cb, Cr

using FetchFn = void (*)(JpegEncoderState*, std::int32_t, std::int32_t);

struct FetchCase {
    const char* name;
    FetchFn fetch;
};
const FetchCase kFetchRoutines[] = {
    {"Plain", fetchMcuRgbxPlain},
#if defined(__SSE2__)
    {"Sse2", fetchMcuRgbxSse2},
#endif
};

// An encoder state laid out by a whole-image write of the image.
struct FetchState {
    Record p = newRecord();
    Bytes buffer;

    explicit FetchState(const RgbxImage& image)
        : buffer(1024 + static_cast<std::size_t>(image.width) * image.height * 8) {
        describe(*p, image);
        p->outputBuffer = buffer.data();
        p->outputBufferSize = static_cast<std::int32_t>(buffer.size());
        EXPECT_EQ(jpegWrite(p.get(), JPEG_WRITE_BUFFER_IMAGE), 0);
    }

    Blocks fetch(FetchFn routine, int column, int row) {
        routine(&p->state, column, row);
        Blocks blocks;
        std::copy(p->state.mcuBlocks, p->state.mcuBlocks + 192, blocks.begin());
        return blocks;
    }
};

struct Ycc {
    int y;
    int cb;
    int cr;
};

Ycc convert(const std::uint8_t* p) {
    const int r = p[0];
    const int g = p[1];
    const int b = p[2];
    return {(77 * r + 150 * g + 29 * b - 32640) >> 8, (128 * b - 43 * r - 85 * g + 128) >> 8,
            (128 * r - 107 * g - 21 * b + 128) >> 8};
}

struct ColourCase {
    std::uint8_t r, g, b;
    Ycc expected;
};

TEST(McuFetch, ConvertsKnownColours) {
    const std::vector<ColourCase> cases = {
        {255, 255, 255, {127, 0, 0}}, {0, 0, 0, {-128, 0, 0}},   {255, 0, 0, {-51, -43, 128}},
        {0, 0, 255, {-99, 128, -21}}, {64, 64, 64, {-64, 0, 0}}, {0, 255, 0, {21, -85, -107}},
    };
    for (const FetchCase& routine : kFetchRoutines) {
        for (const ColourCase& c : cases) {
            const RgbxImage image = makeImage(1, 1, 0, solid(c.r, c.g, c.b, 0xEE));
            FetchState state(image);
            const Blocks blocks = state.fetch(routine.fetch, 0, 0);
            for (int n = 0; n < 64; ++n) {
                ASSERT_EQ(blocks[n], c.expected.y) << routine.name << int(c.r) << "," << int(c.g);
                ASSERT_EQ(blocks[64 + n], c.expected.cb) << routine.name;
                ASSERT_EQ(blocks[128 + n], c.expected.cr) << routine.name;
            }
        }
    }
}

// Every block sample is the conversion of the source pixel at the clamped position.
void expectEdgeReplication(const RgbxImage& image, FetchFn routine, const char* name) {
    FetchState state(image);
    const int columns = (image.width + 7) / 8;
    const int rows = (image.height + 7) / 8;
    for (int my = 0; my < rows; ++my) {
        for (int mx = 0; mx < columns; ++mx) {
            const Blocks blocks = state.fetch(routine, mx, my);
            for (int r = 0; r < 8; ++r) {
                for (int c = 0; c < 8; ++c) {
                    const int x = std::min(mx * 8 + c, image.width - 1);
                    const int y = std::min(my * 8 + r, image.height - 1);
                    const Ycc expected = convert(image.pixel(x, y));
                    const int n = 8 * r + c;
                    ASSERT_EQ(blocks[n], expected.y)
                        << name << " mcu " << mx << "," << my << " at " << c << "," << r;
                    ASSERT_EQ(blocks[64 + n], expected.cb) << name;
                    ASSERT_EQ(blocks[128 + n], expected.cr) << name;
                }
            }
        }
    }
}

TEST(McuFetch, Width10RepeatsColumn9InTheSecondMcu) {
    for (const FetchCase& routine : kFetchRoutines) {
        expectEdgeReplication(makeImage(10, 8, 4, randomPixels(3)), routine.fetch, routine.name);
    }
}

TEST(McuFetch, Height1RepeatsRow0) {
    for (const FetchCase& routine : kFetchRoutines) {
        expectEdgeReplication(makeImage(16, 1, 0, randomPixels(4)), routine.fetch, routine.name);
    }
}

TEST(McuFetch, OddSizesReplicateBothEdges) {
    for (const FetchCase& routine : kFetchRoutines) {
        expectEdgeReplication(makeImage(17, 9, 8, randomPixels(5)), routine.fetch, routine.name);
        expectEdgeReplication(makeImage(7, 13, 0, randomPixels(6)), routine.fetch, routine.name);
        expectEdgeReplication(makeImage(24, 16, 0, randomPixels(7)), routine.fetch, routine.name);
    }
}

#if defined(__SSE2__)
TEST(McuFetch, PlainAndSse2VersionsGiveIdenticalBlocks) {
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{1, 1}, {33, 19}, {64, 48}}) {
        const RgbxImage image = makeImage(w, h, 4, randomPixels(static_cast<unsigned>(w * h)));
        FetchState state(image);
        for (int my = 0; my < (h + 7) / 8; ++my) {
            for (int mx = 0; mx < (w + 7) / 8; ++mx) {
                ASSERT_EQ(state.fetch(fetchMcuRgbxPlain, mx, my),
                          state.fetch(fetchMcuRgbxSse2, mx, my))
                    << w << "x" << h << " mcu " << mx << "," << my;
            }
        }
    }
}
#endif

TEST(McuFetch, FourthByteHasNoInfluence) {
    const RgbxImage a = makeImage(12, 10, 0, randomPixels(8));
    RgbxImage b = a;
    for (int y = 0; y < b.height; ++y) {
        for (int x = 0; x < b.width; ++x) {
            b.pixel(x, y)[3] ^= 0xFF;
        }
    }
    for (const FetchCase& routine : kFetchRoutines) {
        FetchState sa(a);
        FetchState sb(b);
        for (int my = 0; my < 2; ++my) {
            for (int mx = 0; mx < 2; ++mx) {
                EXPECT_EQ(sa.fetch(routine.fetch, mx, my), sb.fetch(routine.fetch, mx, my))
                    << routine.name;
            }
        }
    }
}

} // namespace

// The routine for the other layouts, at chosen samples of an MCU: byte order, conversions,
// the rounded cell means (halves up) and the edge repeated before the mean is taken.
struct LayoutSample {
    int block;
    int index; // 8 x row + column
    int value;
};
struct LayoutFetchCase {
    const char* name;
    int inputColor, bytesPerPixel, inputSampling, outputColor, outputChannels, sampling;
    int width, height, mcuColumn;
    std::vector<std::vector<std::uint8_t>> pixels; // row 0 from its left; every other pixel 0
    std::vector<LayoutSample> expected;
};

const std::vector<LayoutFetchCase> kLayoutFetchCases = {
    {"BgrKeepsRedFirst",
     JPEG_COLOR_BGR,
     3,
     0,
     JPEG_COLOR_YCBCR,
     3,
     0,
     8,
     8,
     0,
     {{0, 0, 255}},
     {{0, 0, -51}, {1, 0, -43}, {2, 0, 128}}},
    {"BgrToGrayIsTheLuminance",
     JPEG_COLOR_BGR,
     3,
     0,
     JPEG_COLOR_GRAY,
     1,
     0,
     8,
     8,
     0,
     {{255, 0, 0}},
     {{0, 0, -99}}},
    {"GrayToYCbCrHasFlatChroma",
     JPEG_COLOR_GRAY,
     1,
     0,
     JPEG_COLOR_YCBCR,
     3,
     1,
     16,
     16,
     0,
     {{200}, {200}},
     {{0, 0, 72}, {0, 1, 72}, {0, 2, -128}, {4, 0, 0}, {5, 0, 0}}},
    {"FourToYcckInvertsEveryByte",
     JPEG_COLOR_FOUR_CHANNEL,
     4,
     0,
     JPEG_COLOR_YCC_FOUR_CHANNEL,
     4,
     0,
     8,
     8,
     0,
     {{255, 255, 255, 0}},
     {{0, 0, -128}, {1, 0, 0}, {2, 0, 0}, {3, 0, 127}}},
    {"FourKeptAsStored",
     JPEG_COLOR_FOUR_CHANNEL,
     4,
     0,
     JPEG_COLOR_FOUR_CHANNEL,
     4,
     4,
     16,
     8,
     0,
     {{10, 20, 30, 40}, {10, 21, 30, 50}},
     {{0, 0, -118}, {2, 0, -107}, {3, 0, -98}, {4, 0, -88}, {4, 1, -78}}},
    {"H2V1MeansRoundHalvesUp",
     JPEG_COLOR_YCBCR,
     3,
     0,
     JPEG_COLOR_YCBCR,
     3,
     2,
     16,
     8,
     0,
     {{0, 10, 127}, {0, 11, 128}},
     {{2, 0, -117}, {3, 0, 0}}},
    {"H2V2MeansOfFour",
     JPEG_COLOR_YCBCR,
     3,
     0,
     JPEG_COLOR_YCBCR,
     3,
     1,
     16,
     1,
     0,
     {{0, 129, 128}, {0, 128, 127}},
     {{4, 0, 1}, {5, 0, 0}}},
    {"RightEdgeRepeatedBeforeTheMean",
     JPEG_COLOR_YCBCR,
     3,
     0,
     JPEG_COLOR_YCBCR,
     3,
     2,
     17,
     8,
     1,
     {{}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {0, 200, 55}},
     {{2, 0, 72}, {2, 7, 72}, {3, 0, -73}, {0, 7, -128}}},
    {"PackedPairsShareTheirChroma",
     JPEG_COLOR_YCBCR,
     2,
     2,
     JPEG_COLOR_YCBCR,
     3,
     0,
     16,
     8,
     0,
     {{10, 20}, {30, 40}},
     {{0, 0, -118}, {0, 1, -98}, {2, 0, -108}, {3, 0, -88}}},
};

TEST(LayoutFetch, GivesTheConvertedAndAveragedSamples) {
    std::vector<std::pair<const char*, FetchFn>> routines = {{"Plain", fetchMcuLayoutsPlain}};
#if defined(__SSE2__)
    routines.emplace_back("Sse2", fetchMcuLayoutsSse2);
#endif
    for (const LayoutFetchCase& c : kLayoutFetchCases) {
        const int rowBytes = c.width * c.bytesPerPixel;
        Bytes source(static_cast<std::size_t>(rowBytes) * c.height, 0);
        for (std::size_t i = 0; i < c.pixels.size(); ++i) {
            std::copy(c.pixels[i].begin(), c.pixels[i].end(),
                      source.begin() + static_cast<std::ptrdiff_t>(i * c.bytesPerPixel));
        }
        Record p = newRecord();
        p->inputPixels = source.data();
        p->inputWidth = p->outputWidth = c.width;
        p->inputHeight = p->outputHeight = c.height;
        p->inputChannels = c.inputSampling == 2 ? 3 : c.bytesPerPixel;
        p->inputColor = c.inputColor;
        p->inputSampling = c.inputSampling;
        p->outputChannels = c.outputChannels;
        p->outputColor = c.outputColor;
        p->outputSampling = c.sampling;
        Bytes buffer(65536);
        p->outputBuffer = buffer.data();
        p->outputBufferSize = static_cast<std::int32_t>(buffer.size());
        ASSERT_EQ(jpegWrite(p.get(), JPEG_WRITE_BUFFER_IMAGE), 0) << c.name;
        for (const auto& [routineName, routine] : routines) {
            routine(&p->state, c.mcuColumn, 0);
            for (const LayoutSample& s : c.expected) {
                EXPECT_EQ(p->state.mcuBlocks[64 * s.block + s.index], s.value)
                    << c.name << " " << routineName << " block " << s.block << " at " << s.index;
            }
        }
    }
}
