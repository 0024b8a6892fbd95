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

using FetchFn = void (*)(ScanCoderState*, std::int32_t, std::int32_t);

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
        routine(&p->state.coder, column, row);
        Blocks blocks;
        std::copy(p->state.coder.mcuBlocks, p->state.coder.mcuBlocks + 192, blocks.begin());
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

// The routine for the other layouts, at chosen samples of an MCU: the rounded cell means
// (halves up), the edge repeated before the mean is taken, packed pairs and the inverted
// fourth component of YCCK.
struct LayoutFields {
    int inputColor, bytesPerPixel, inputSampling, outputColor, outputChannels, sampling;
};
constexpr LayoutFields kYccH2V1 = {JPEG_COLOR_YCBCR, 3, 0, JPEG_COLOR_YCBCR, 3, 2};
constexpr LayoutFields kYccH2V2 = {JPEG_COLOR_YCBCR, 3, 0, JPEG_COLOR_YCBCR, 3, 1};
constexpr LayoutFields kPacked = {JPEG_COLOR_YCBCR, 2, 2, JPEG_COLOR_YCBCR, 3, 0};
constexpr LayoutFields kYcck = {JPEG_COLOR_FOUR_CHANNEL, 4, 0, JPEG_COLOR_YCC_FOUR_CHANNEL, 4, 0};

struct LayoutSample {
    int block;
    int index; // 8 x row + column
    int value;
};
struct McuPlace {
    int width, height; // of the image
    int mcuColumn;
    int firstPixel; // where the listed pixels of row 0 start
};
struct LayoutFetchCase {
    const char* name;
    LayoutFields layout;
    McuPlace place;
    std::vector<std::vector<std::uint8_t>> pixels; // every other pixel is 0
    std::vector<LayoutSample> expected;
};

const std::vector<LayoutFetchCase> kLayoutFetchCases = {
    {"H2V1Halves",
     kYccH2V1,
     {16, 8, 0, 0},
     {{0, 10, 127}, {0, 11, 128}},
     {{2, 0, -117}, {3, 0, 0}}},
    {"H2V2Quarters",
     kYccH2V2,
     {16, 1, 0, 0},
     {{0, 129, 128}, {0, 128, 127}},
     {{4, 0, 1}, {5, 0, 0}}},
    {"RightEdge", kYccH2V1, {17, 8, 1, 16}, {{0, 200, 55}}, {{2, 0, 72}, {2, 7, 72}, {3, 0, -73}}},
    {"PackedPairs",
     kPacked,
     {16, 8, 0, 0},
     {{10, 20}, {30, 40}},
     {{0, 1, -98}, {2, 0, -108}, {3, 0, -88}}},
    {"Ycck", kYcck, {8, 8, 0, 0}, {{255, 255, 255, 0}}, {{0, 0, -128}, {1, 0, 0}, {3, 0, 127}}},
};

TEST(LayoutFetch, GivesTheConvertedAndAveragedSamples) {
    std::vector<std::pair<const char*, FetchFn>> routines = {{"Plain", fetchMcuLayoutsPlain}};
#if defined(__SSE2__)
    routines.emplace_back("Sse2", fetchMcuLayoutsSse2);
#endif
    for (const LayoutFetchCase& c : kLayoutFetchCases) {
        const LayoutFields& l = c.layout;
        Bytes source(static_cast<std::size_t>(c.place.width * l.bytesPerPixel * c.place.height), 0);
        for (std::size_t i = 0; i < c.pixels.size(); ++i) {
            std::copy(c.pixels[i].begin(), c.pixels[i].end(),
                      source.begin() +
                          (c.place.firstPixel + static_cast<int>(i)) * l.bytesPerPixel);
        }
        Record p = newRecord();
        p->inputPixels = source.data();
        p->inputWidth = p->outputWidth = c.place.width;
        p->inputHeight = p->outputHeight = c.place.height;
        setLayoutFields(*p, l, l.sampling);
        Bytes buffer(65536);
        p->outputBuffer = buffer.data();
        p->outputBufferSize = static_cast<std::int32_t>(buffer.size());
        ASSERT_EQ(jpegWrite(p.get(), JPEG_WRITE_BUFFER_IMAGE), 0) << c.name;
        for (const auto& [routineName, routine] : routines) {
            routine(&p->state.coder, c.place.mcuColumn, 0);
            for (const LayoutSample& e : c.expected) {
                EXPECT_EQ(p->state.coder.mcuBlocks[64 * e.block + e.index], e.value)
                    << c.name << " " << routineName << " block " << e.block << " at " << e.index;
            }
        }
    }
}
