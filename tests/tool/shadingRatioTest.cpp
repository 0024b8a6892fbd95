// Shading-ratio image: the constant, the worked values, every table entry against the
// double-precision formula, and the image-level rules (alpha, padding, sharing, sizes).
#include "tool/shadingRatio.h"
#include "tool/shadingRatioKernels.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

// The formula written out independently of the product code.
std::uint8_t referenceRatio(int f, int s) {
    if (s == 0) {
        return 64;
    }
    const double exponent = 1.51724135875701904296875; // the float 1.5172414, exactly
    double x = 64.0 * std::pow(static_cast<double>(f) / static_cast<double>(s), exponent);
    if (x > 255.0) {
        x = 255.0;
    }
    return static_cast<std::uint8_t>(static_cast<int>(x + 0.5));
}

TEST(ShadingRatioFormula, ExponentIsTheSinglePrecisionConstant) {
    EXPECT_EQ(std::bit_cast<std::uint32_t>(kShadingExponent), 0x3FC234F7u);
    EXPECT_EQ(static_cast<double>(kShadingExponent), 1.51724135875701904296875);
}

TEST(ShadingRatioFormula, WorkedValues) {
    struct Case {
        int f;
        int s;
        int expected;
    };
    const Case cases[] = {{100, 100, 64},  {0, 50, 0},     {50, 0, 64},     {0, 0, 64},
                          {200, 100, 183}, {100, 200, 22}, {255, 128, 182}, {10, 7, 110},
                          {7, 10, 37},     {3, 4, 41},     {255, 1, 255},   {1, 255, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(shadingRatioByte(static_cast<std::uint8_t>(c.f), static_cast<std::uint8_t>(c.s)),
                  c.expected)
            << c.f << "/" << c.s;
        EXPECT_EQ(shadingRatioTable()[static_cast<std::size_t>(c.f << 8 | c.s)], c.expected)
            << c.f << "/" << c.s;
    }
}

TEST(ShadingRatioFormula, RatiosAboveAbout2Point487Saturate) {
    // 64 x r^1.5172414 reaches 254.5 near r = 2.484, so every ratio from 2.49 on gives 255.
    for (int s = 1; s <= 102; ++s) {
        for (int f = 0; f < 256; ++f) {
            const double ratio = static_cast<double>(f) / s;
            if (ratio >= 2.49) {
                EXPECT_EQ(
                    shadingRatioByte(static_cast<std::uint8_t>(f), static_cast<std::uint8_t>(s)),
                    255)
                    << f << "/" << s;
            }
        }
    }
}

TEST(ShadingRatioFormula, EveryTableEntryEqualsTheFormula) {
    const auto& table = shadingRatioTable();
    int mismatches = 0;
    for (int f = 0; f < 256; ++f) {
        for (int s = 0; s < 256; ++s) {
            const std::uint8_t expected = referenceRatio(f, s);
            if (table[static_cast<std::size_t>(f << 8 | s)] != expected ||
                shadingRatioByte(static_cast<std::uint8_t>(f), static_cast<std::uint8_t>(s)) !=
                    expected) {
                ADD_FAILURE() << "final " << f << " source " << s;
                if (++mismatches > 10) {
                    return;
                }
            }
        }
    }
}

// ---- images -------------------------------------------------------------------------------

using Pixel = std::array<std::uint8_t, 4>;

QimImgT<Rgba8> imageOf(int width, int height, const std::vector<Pixel>& pixels) {
    QimImgT<Rgba8> image;
    image.create(width, height, true, false, 0.0);
    auto* data = reinterpret_cast<std::uint8_t*>(image.unshare());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::memcpy(data + std::int64_t{y} * image.widthStep() + 4 * x,
                        pixels[static_cast<std::size_t>(y * width + x)].data(), 4);
        }
    }
    return image;
}

Pixel at(const QimImgT<Rgba8>& image, int x, int y) {
    Pixel p;
    std::memcpy(p.data(), image.imageData() + std::int64_t{y} * image.widthStep() + 4 * x, 4);
    return p;
}

QimImgT<Rgba8> blankResult(int width, int height) {
    QimImgT<Rgba8> result;
    result.create(width, height, true, true, 0xEE);
    return result;
}

TEST(ShadingRatioImage, IdenticalImagesGive64AndAlphaZero) {
    std::vector<Pixel> pixels;
    for (int i = 0; i < 6; ++i) {
        pixels.push_back({static_cast<std::uint8_t>(i * 40 + 1), static_cast<std::uint8_t>(200 - i),
                          static_cast<std::uint8_t>(i * 3 + 9), static_cast<std::uint8_t>(i * 50)});
    }
    auto source = imageOf(3, 2, pixels);
    auto finalImage = imageOf(3, 2, pixels);
    auto result = blankResult(3, 2);
    ASSERT_TRUE(computeShadingRatio(source, finalImage, result));
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(at(result, x, y), (Pixel{64, 64, 64, 0}));
        }
    }
}

TEST(ShadingRatioImage, BlackSourceGives64AndBlackFinalGivesZero) {
    auto source = imageOf(2, 1, {{0, 0, 0, 255}, {10, 200, 255, 255}});
    auto finalImage = imageOf(2, 1, {{255, 13, 1, 255}, {0, 0, 0, 255}});
    auto result = blankResult(2, 1);
    ASSERT_TRUE(computeShadingRatio(source, finalImage, result));
    EXPECT_EQ(at(result, 0, 0), (Pixel{64, 64, 64, 0}));
    EXPECT_EQ(at(result, 1, 0), (Pixel{0, 0, 0, 0}));
}

TEST(ShadingRatioImage, ChannelsStayInTheirPlaces) {
    // Each channel pairs its own bytes: (200,100) -> 183, (100,200) -> 22, (10,7) -> 110.
    auto source = imageOf(1, 1, {{100, 200, 7, 0}});
    auto finalImage = imageOf(1, 1, {{200, 100, 10, 0}});
    auto result = blankResult(1, 1);
    ASSERT_TRUE(computeShadingRatio(source, finalImage, result));
    EXPECT_EQ(at(result, 0, 0), (Pixel{183, 22, 110, 0}));
}

TEST(ShadingRatioImage, InputAlphaDoesNotMatter) {
    auto opaque = imageOf(1, 1, {{30, 60, 90, 255}});
    auto clear = imageOf(1, 1, {{30, 60, 90, 0}});
    auto finalOpaque = imageOf(1, 1, {{90, 60, 30, 255}});
    auto finalClear = imageOf(1, 1, {{90, 60, 30, 0}});
    auto a = blankResult(1, 1);
    auto b = blankResult(1, 1);
    ASSERT_TRUE(computeShadingRatio(opaque, finalClear, a));
    ASSERT_TRUE(computeShadingRatio(clear, finalOpaque, b));
    EXPECT_EQ(at(a, 0, 0), at(b, 0, 0));
    EXPECT_EQ(at(a, 0, 0)[3], 0);
}

TEST(ShadingRatioImage, RowPaddingIsNotWrittenAndRowsAdvanceByTheRowStep) {
    std::vector<Pixel> s(9, Pixel{50, 50, 50, 0});
    std::vector<Pixel> f(9, Pixel{100, 25, 0, 0});
    f[8] = {50, 50, 50, 0};
    auto source = imageOf(3, 3, s);
    auto finalImage = imageOf(3, 3, f);
    auto result = blankResult(3, 3); // rows of 16 bytes, 12 used
    ASSERT_EQ(result.widthStep(), 16);
    ASSERT_TRUE(computeShadingRatio(source, finalImage, result));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(result.imageData());
    for (int y = 0; y < 3; ++y) {
        for (int i = 12; i < 16; ++i) {
            EXPECT_EQ(bytes[y * 16 + i], 0xEE) << "row " << y << " byte " << i;
        }
    }
    EXPECT_EQ(at(result, 0, 2), (Pixel{183, 22, 0, 0}));
    EXPECT_EQ(at(result, 2, 2), (Pixel{64, 64, 64, 0}));
}

TEST(ShadingRatioImage, RandomImagesMatchTheFormulaPixelByPixel) {
    std::mt19937 random(12345);
    const int width = 37;
    const int height = 11;
    std::vector<Pixel> s(width * height);
    std::vector<Pixel> f(width * height);
    for (std::size_t i = 0; i < s.size(); ++i) {
        for (int c = 0; c < 4; ++c) {
            s[i][c] = static_cast<std::uint8_t>(random() % 256);
            f[i][c] = static_cast<std::uint8_t>(random() % 256);
        }
    }
    auto source = imageOf(width, height, s);
    auto finalImage = imageOf(width, height, f);
    auto result = blankResult(width, height);
    ASSERT_TRUE(computeShadingRatio(source, finalImage, result));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto& sp = s[static_cast<std::size_t>(y * width + x)];
            const auto& fp = f[static_cast<std::size_t>(y * width + x)];
            const Pixel expected{referenceRatio(fp[0], sp[0]), referenceRatio(fp[1], sp[1]),
                                 referenceRatio(fp[2], sp[2]), 0};
            ASSERT_EQ(at(result, x, y), expected) << x << "," << y;
        }
    }
}

// ---- rows of every width: the blocked loop and the pixels after it ---------------------------

class ShadingRatioRowWidths : public ::testing::TestWithParam<int> {};

// Three rows of random pixels with one pixel of padding; the buffers end right after the last
// row's pixels. Every channel is checked against the direct formula, the padding is left alone,
// and a result written over its own source gives the same pixels.
TEST_P(ShadingRatioRowWidths, EveryChannelMatchesTheFormula) {
    const int width = GetParam();
    constexpr int kRows = 3;
    const std::int64_t step = 4 * (width + 1);
    const auto size = static_cast<std::size_t>(step * (kRows - 1) + 4 * width);
    std::mt19937 random(static_cast<unsigned>(width));
    std::vector<std::uint8_t> source(size);
    std::vector<std::uint8_t> finalRows(size);
    for (std::size_t i = 0; i < size; ++i) {
        source[i] = static_cast<std::uint8_t>(random());
        finalRows[i] = static_cast<std::uint8_t>(random());
    }
    std::vector<std::uint8_t> result(size, 0xEE);
    shadingRatioRows(source.data(), finalRows.data(), result.data(), width, kRows, step);
    for (std::size_t i = 0; i < size; ++i) {
        const bool padding = static_cast<std::int64_t>(i) % step >= 4 * width;
        const std::uint8_t expected = padding      ? 0xEE
                                      : i % 4 == 3 ? 0
                                                   : shadingRatioByte(finalRows[i], source[i]);
        ASSERT_EQ(result[i], expected) << "byte " << i;
    }
    std::vector<std::uint8_t> inPlace = source;
    shadingRatioRows(inPlace.data(), finalRows.data(), inPlace.data(), width, kRows, step);
    for (std::size_t i = 0; i < size; ++i) {
        const bool padding = static_cast<std::int64_t>(i) % step >= 4 * width;
        ASSERT_EQ(inPlace[i], padding ? source[i] : result[i]) << "byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, ShadingRatioRowWidths,
                         ::testing::Values(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                           17, 31, 64, 67),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "width" + std::to_string(info.param);
                         });

TEST(ShadingRatioImage, ResultSharingTheSourceBodyLeavesTheSourceAlone) {
    auto source = imageOf(2, 1, {{10, 20, 30, 40}, {50, 60, 70, 80}});
    auto finalImage = imageOf(2, 1, {{20, 40, 60, 0}, {0, 0, 0, 0}});
    QimImgT<Rgba8> result(source); // shares the source's pixels until written
    ASSERT_TRUE(computeShadingRatio(source, finalImage, result));
    EXPECT_EQ(at(source, 0, 0), (Pixel{10, 20, 30, 40}));
    EXPECT_EQ(at(source, 1, 0), (Pixel{50, 60, 70, 80}));
    EXPECT_EQ(at(result, 1, 0), (Pixel{0, 0, 0, 0}));
    EXPECT_EQ(at(result, 0, 0)[0], referenceRatio(20, 10));
    EXPECT_EQ(source.useCount(), 1);
}

TEST(ShadingRatioImage, MismatchedOrMissingImagesAreRefusedUntouched) {
    auto source = imageOf(2, 2, std::vector<Pixel>(4, Pixel{1, 2, 3, 4}));
    auto wide = imageOf(3, 2, std::vector<Pixel>(6, Pixel{1, 2, 3, 4}));
    auto tall = imageOf(2, 3, std::vector<Pixel>(6, Pixel{1, 2, 3, 4}));
    auto result = blankResult(2, 2);
    EXPECT_FALSE(computeShadingRatio(source, wide, result));
    EXPECT_FALSE(computeShadingRatio(source, tall, result));
    auto wideResult = blankResult(3, 2);
    EXPECT_FALSE(computeShadingRatio(source, source, wideResult));
    QimImgT<Rgba8> empty;
    empty.create(2, 2, false, false, 0.0);
    EXPECT_FALSE(computeShadingRatio(source, empty, result));
    EXPECT_FALSE(computeShadingRatio(source, source, empty));
    EXPECT_EQ(at(result, 1, 1), (Pixel{0xEE, 0xEE, 0xEE, 0xEE}));
}

constexpr PixelKernelSet kRatioSets[] = {PixelKernelSet::Plain, PixelKernelSet::Sse2,
                                         PixelKernelSet::Avx2, PixelKernelSet::Avx512};

// The pixels a set's kernel takes of a row: whole groups of its width (none for the plain set).
int takenPixels(PixelKernelSet set, bool stored, int width) {
    const int group = set == PixelKernelSet::Plain    ? 0
                      : set == PixelKernelSet::Avx512 ? (stored ? 64 : 16)
                                                      : 8;
    return group == 0 ? 0 : width / group * group;
}

// Each set's kernel takes the leading pixels of a row through the table: every colour byte the
// formula's, the fourth byte 0; the plain set's takes none.
TEST(ShadingRatioKernels, EverySetGivesTheFormulaForItsLeadingPixels) {
    std::mt19937 rng(4);
    const std::uint8_t* table = shadingRatioTable().data();
    for (const PixelKernelSet set : kRatioSets) {
        const std::optional<ShadeRowKernel> kernel = shadeRowKernelFor(set);
        if (!kernel) {
            EXPECT_NE(set, widestPixelKernelSet());
            continue;
        }
        for (const int width : {0, 7, 8, 13, 16, 24, 47}) {
            SCOPED_TRACE(testing::Message()
                         << "set " << static_cast<int>(set) << " width " << width);
            std::vector<std::uint8_t> source(4 * static_cast<std::size_t>(width));
            std::vector<std::uint8_t> finalRow(source.size());
            for (std::size_t i = 0; i < source.size(); ++i) {
                source[i] = static_cast<std::uint8_t>(rng());
                finalRow[i] = static_cast<std::uint8_t>(rng());
            }
            std::vector<std::uint8_t> result(source.size(), 0xA5);
            const int done = (*kernel)(table, source.data(), finalRow.data(), result.data(), width);
            EXPECT_EQ(done, takenPixels(set, false, width));
            for (std::size_t i = 0; i < result.size(); ++i) {
                const bool taken = i < 4 * static_cast<std::size_t>(done);
                const std::uint8_t expected =
                    !taken ? 0xA5 : (i % 4 == 3 ? 0 : referenceRatio(finalRow[i], source[i]));
                ASSERT_EQ(result[i], expected) << "byte " << i;
            }
        }
    }
}

// The same for the stored-row kernels: 3-byte blue-green-red pixels in, RGBA out, reading no
// byte past the row (the rows here end right after their last pixel).
TEST(ShadingRatioKernels, EveryStoredRowKernelGivesTheFormulaForItsLeadingPixels) {
    std::mt19937 rng(5);
    const std::uint8_t* table = shadingRatioTable().data();
    for (const PixelKernelSet set : kRatioSets) {
        const std::optional<ShadeRowKernel> kernel = shadeStoredBgr24KernelFor(set);
        if (!kernel) {
            EXPECT_NE(set, widestPixelKernelSet());
            continue;
        }
        for (const int width : {0, 1, 7, 8, 13, 24, 33, 64, 130}) {
            SCOPED_TRACE(testing::Message()
                         << "set " << static_cast<int>(set) << " width " << width);
            std::vector<std::uint8_t> source(3 * static_cast<std::size_t>(width));
            std::vector<std::uint8_t> finalRow(source.size());
            for (std::size_t i = 0; i < source.size(); ++i) {
                source[i] = static_cast<std::uint8_t>(rng());
                finalRow[i] = static_cast<std::uint8_t>(rng());
            }
            std::vector<std::uint8_t> result(4 * static_cast<std::size_t>(width), 0xA5);
            const int done = (*kernel)(table, source.data(), finalRow.data(), result.data(), width);
            EXPECT_EQ(done, takenPixels(set, true, width));
            for (std::size_t i = 0; i < result.size(); ++i) {
                const std::size_t pixel = i / 4;
                const std::size_t stored = 3 * pixel + 2 - i % 4; // red is the third stored byte
                const std::uint8_t expected =
                    pixel >= static_cast<std::size_t>(done) ? 0xA5
                    : i % 4 == 3                            ? 0
                                 : referenceRatio(finalRow[stored], source[stored]);
                ASSERT_EQ(result[i], expected) << "byte " << i;
            }
        }
    }
}

// Every (final, source) byte pair through every kernel, stored and RGBA, as the table has
// it: the kernels that compute the ratio rather than look it up must agree everywhere,
// including the few pairs whose product lies near a rounding boundary.
TEST(ShadingRatioKernels, EveryKernelGivesTheTableForEveryBytePair) {
    const std::uint8_t* table = shadingRatioTable().data();
    constexpr int kWidth = 21888; // 3 colour bytes a pixel cover the 65,536 pairs; 342 x 64
    for (const bool stored : {true, false}) {
        const int pixelBytes = stored ? 3 : 4;
        std::vector<std::uint8_t> source(static_cast<std::size_t>(pixelBytes) * kWidth);
        std::vector<std::uint8_t> finalRow(source.size());
        std::vector<int> pairOf(4 * static_cast<std::size_t>(kWidth), -1); // per result byte
        int pair = 0;
        for (int x = 0; x < kWidth; ++x) {
            for (int c = 0; c < 3; ++c, ++pair) {
                const std::size_t at = static_cast<std::size_t>(pixelBytes * x + c);
                source[at] = static_cast<std::uint8_t>(pair & 0xFF);
                finalRow[at] = static_cast<std::uint8_t>((pair >> 8) & 0xFF);
                // Stored pixels are blue, green, red; RGBA results keep the byte order.
                pairOf[static_cast<std::size_t>(4 * x + (stored ? 2 - c : c))] = pair & 0xFFFF;
            }
        }
        for (const PixelKernelSet set : kRatioSets) {
            const std::optional<ShadeRowKernel> kernel =
                stored ? shadeStoredBgr24KernelFor(set) : shadeRowKernelFor(set);
            if (!kernel || set == PixelKernelSet::Plain) {
                continue;
            }
            SCOPED_TRACE(testing::Message()
                         << "set " << static_cast<int>(set) << (stored ? " stored" : " RGBA"));
            std::vector<std::uint8_t> result(4 * static_cast<std::size_t>(kWidth), 0xA5);
            ASSERT_EQ((*kernel)(table, source.data(), finalRow.data(), result.data(), kWidth),
                      kWidth);
            for (std::size_t i = 0; i < result.size(); ++i) {
                const int p = pairOf[i];
                ASSERT_EQ(result[i], p < 0 ? 0 : table[p])
                    << "final " << (p >> 8) << " source " << (p & 0xFF);
            }
        }
    }
}

} // namespace
