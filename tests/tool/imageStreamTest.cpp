// The streamed -i pipeline against the whole-image one: for every bitmap form and a table of
// sizes, bitmaps read band by band (BmpBandReader), turned into ratio bands (RatioBandSource)
// and fed to the encoder through its row source give exactly the bytes that loadBmpFile,
// computeShadingRatio and writeJpegFile give, for both routine sets and both thread counts.
// Also: inputs that cannot seek, and the order of the checks through the binary.
#include "support/dibBuilder.h"
#include "support/printAsName.h"
#include "support/runProcess.h"
#include "support/scopedEnv.h"
#include "support/testFiles.h"
#include "tool/bmpBandReader.h"
#include "tool/bmpLoader.h"
#include "tool/jpegFileWriter.h"
#include "tool/ratioBands.h"
#include "tool/shadingRatio.h"

#include <gtest/gtest.h>
#include <ostream>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

using dib_builder::buildBmpFile;
using dib_builder::Bytes;
using dib_builder::DibFields;
using testing_support::readFile;
using testing_support::runQmjpeg;
using testing_support::ScopedEnv;
using testing_support::ScratchDir;
using testing_support::writeFile;

// A deterministic byte for pixel (x, y) of picture `seed`.
std::uint8_t texture(int x, int y, int seed, int channel) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^
                      static_cast<std::uint32_t>(y) * 19349663u ^
                      static_cast<std::uint32_t>(seed * 4 + channel) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    // Mostly smooth, with some texture and some zeros (the ratio's special case).
    const int smooth = (x * (3 + seed) + y * (5 + channel)) & 0xFF;
    return static_cast<std::uint8_t>((h & 31) == 0 ? 0 : (smooth + (h & 15)) & 0xFF);
}

// Uncompressed rows as stored, `bits` per pixel, each row padded to 4 bytes; `pixelBytes`
// gives the stored bytes of one pixel (for bits >= 8) or its index (bits < 8).
Bytes storedRows(int width, int height, int bits, const std::function<Bytes(int, int)>& pixel) {
    Bytes rows;
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
    for (int y = 0; y < height; ++y) {
        Bytes row(rowBytes, 0);
        for (int x = 0; x < width; ++x) {
            const Bytes p = pixel(x, y);
            if (bits >= 8) {
                std::copy(p.begin(), p.end(), row.begin() + static_cast<long>(x) * (bits / 8));
            } else {
                const int perByte = 8 / bits;
                const int shift = 8 - bits * (x % perByte + 1);
                row[static_cast<std::size_t>(x / perByte)] |=
                    static_cast<std::uint8_t>(p[0] << shift);
            }
        }
        rows.insert(rows.end(), row.begin(), row.end());
    }
    return rows;
}

// Run-length data for a picture of indices: literal blocks and runs, a delta inside some
// rows, a delta from a row's end that passes over the next row, and an end of bitmap in the
// middle of the last row (the rest of it stays unset).
Bytes runLengthData(int width, int height, bool fourBit, int seed) {
    Bytes d;
    const auto index = [&](int x, int y) {
        return static_cast<unsigned>(texture(x, y, seed, 0) % (fourBit ? 16 : 256));
    };
    int y = 0;
    while (y < height) {
        int x = 0;
        if (y == height - 1 && height > 1) {
            const int n = std::min(width, 3);
            d.insert(d.end(), {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(0x5A)});
            break;
        }
        while (x < width) {
            int n = std::min(width - x, 1 + (x * 7 + y * 3 + seed) % 200);
            if ((x + y) % 5 == 1 && width - x > 2) {
                d.insert(d.end(), {0, 2, 2, 0}); // delta within the row
                x += 2;
                continue;
            }
            if (n >= 3 && (x + y) % 3 == 0) {
                d.insert(d.end(), {0, static_cast<std::uint8_t>(n)});
                Bytes literal;
                for (int i = 0; i < n; ++i) {
                    if (!fourBit) {
                        literal.push_back(static_cast<std::uint8_t>(index(x + i, y)));
                    } else if (i % 2 == 0) {
                        literal.push_back(static_cast<std::uint8_t>(index(x + i, y) << 4));
                    } else {
                        literal.back() |= static_cast<std::uint8_t>(index(x + i, y));
                    }
                }
                if (literal.size() % 2 != 0) {
                    literal.push_back(0);
                }
                d.insert(d.end(), literal.begin(), literal.end());
            } else {
                const unsigned value = fourBit ? (index(x, y) << 4) | index(x + 1, y) : index(x, y);
                d.insert(d.end(), {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(value)});
            }
            x += n;
        }
        if (y % 4 == 2 && y + 2 < height) {
            d.insert(d.end(), {0, 2, 0, 1}); // on to the next row at its end: that row stays unset
            ++y;
        }
        d.insert(d.end(), {0, 0});
        ++y;
    }
    d.insert(d.end(), {0, 1});
    return d;
}

// A palette of `entries` colours.
std::vector<std::uint32_t> palette(int entries, int seed) {
    std::vector<std::uint32_t> table;
    for (int i = 0; i < entries; ++i) {
        table.push_back(static_cast<std::uint32_t>(texture(i, 0, seed, 1)) |
                        static_cast<std::uint32_t>(texture(i, 1, seed, 2)) << 8 |
                        static_cast<std::uint32_t>(texture(i, 2, seed, 3)) << 16);
    }
    return table;
}

struct Form {
    const char* name;
    DibFields (*build)(int width, int height, int seed);
};

DibFields rgb24(int width, int height, int seed) {
    DibFields spec;
    spec.width = width;
    spec.height = height;
    spec.pixels = storedRows(width, height, 24, [&](int x, int y) {
        return Bytes{texture(x, y, seed, 0), texture(x, y, seed, 1), texture(x, y, seed, 2)};
    });
    return spec;
}

DibFields rgb24TopDown(int width, int height, int seed) {
    DibFields spec = rgb24(width, height, seed);
    spec.height = -height;
    return spec;
}

DibFields rgb32(int width, int height, int seed) {
    DibFields spec;
    spec.width = width;
    spec.height = height;
    spec.bitCount = 32;
    spec.pixels = storedRows(width, height, 32, [&](int x, int y) {
        return Bytes{texture(x, y, seed, 0), texture(x, y, seed, 1), texture(x, y, seed, 2),
                     static_cast<std::uint8_t>(x % 3 == 0 ? 7 : 0)};
    });
    return spec;
}

DibFields fields32(int width, int height, int seed) {
    DibFields spec = rgb32(width, height, seed);
    spec.compression = 3;
    spec.table = {0x000000FF, 0x0000FF00, 0x00FF0000}; // red, green, blue swapped around
    return spec;
}

DibFields rgb16(int width, int height, int seed) {
    DibFields spec;
    spec.width = width;
    spec.height = height;
    spec.bitCount = 16;
    spec.pixels = storedRows(width, height, 16, [&](int x, int y) {
        return Bytes{texture(x, y, seed, 0), texture(x, y, seed, 1)};
    });
    return spec;
}

DibFields fields16(int width, int height, int seed) {
    DibFields spec = rgb16(width, height, seed);
    spec.compression = 3;
    spec.table = {0xF800, 0x07E0, 0x001F};
    return spec;
}

// A palette bitmap of `bits` per pixel with `entries` table entries (clrUsed when fewer than
// the bits allow: indices beyond the table read the bytes that follow it).
DibFields paletted(int width, int height, int seed, int bits, int entries) {
    DibFields spec;
    spec.width = width;
    spec.height = height;
    spec.bitCount = static_cast<std::uint16_t>(bits);
    spec.clrUsed = entries < (1 << bits) ? static_cast<std::uint32_t>(entries) : 0;
    spec.table = palette(entries, seed);
    spec.pixels = storedRows(width, height, bits, [&](int x, int y) {
        return Bytes{static_cast<std::uint8_t>(texture(x, y, seed, 0) & ((1 << bits) - 1))};
    });
    return spec;
}

DibFields pal8Short(int width, int height, int seed) {
    return paletted(width, height, seed, 8, 16);
}

DibFields pal4(int width, int height, int seed) {
    return paletted(width, height, seed, 4, 16);
}

DibFields pal1(int width, int height, int seed) {
    return paletted(width, height, seed, 1, 2);
}

DibFields rle8(int width, int height, int seed) {
    DibFields spec;
    spec.width = width;
    spec.height = height;
    spec.bitCount = 8;
    spec.compression = 1;
    spec.clrUsed = 40; // indices beyond the table read the run-length data
    spec.table = palette(40, seed);
    spec.pixels = runLengthData(width, height, false, seed);
    return spec;
}

DibFields rle4(int width, int height, int seed) {
    DibFields spec;
    spec.width = width;
    spec.height = height;
    spec.bitCount = 4;
    spec.compression = 2;
    spec.table = palette(16, seed);
    spec.pixels = runLengthData(width, height, true, seed);
    return spec;
}

constexpr Form kForms[] = {
    {"Rgb24", rgb24},
    {"Rgb24TopDown", rgb24TopDown},
    {"Rgb32", rgb32},
    {"Fields32", fields32},
    {"Rgb16", rgb16},
    {"Fields16", fields16},
    {"Pal8ShortTable", pal8Short},
    {"Pal4", pal4},
    {"Pal1", pal1},
    {"Rle8", rle8},
    {"Rle4", rle4},
};

struct Size {
    int width;
    int height;
};

constexpr Size kSizes[] = {{1, 1},  {7, 9},   {8, 8},   {9, 17},    {15, 16},  {16, 15},
                           {17, 8}, {23, 24}, {33, 41}, {65535, 1}, {1, 65535}};

struct Case {
    Form form;
    Size size;
    const char* processorClass;
};
inline void PrintTo(const Case& row, std::ostream* out) {
    *out << row.form.name << " " << row.size.width << "x" << row.size.height << " class "
         << row.processorClass;
}

std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (const Form& form : kForms) {
        for (const Size& size : kSizes) {
            for (const char* processorClass : {"0", "6"}) {
                cases.push_back({form, size, processorClass});
            }
        }
    }
    return cases;
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    return std::string(c.form.name) + "_" + std::to_string(c.size.width) + "x" +
           std::to_string(c.size.height) + "_Class" + c.processorClass;
}

// The whole-image path: both bitmaps loaded whole, the ratio image, one encoder write.
Bytes encodeWhole(const std::string& source, const std::string& finalImage,
                  const std::string& output) {
    QimImgT<Rgba8> s;
    QimImgT<Rgba8> f;
    s.create(0, 0, false, false, 0.0);
    f.create(0, 0, false, false, 0.0);
    EXPECT_TRUE(loadBmpFile(source.c_str(), s));
    EXPECT_TRUE(loadBmpFile(finalImage.c_str(), f));
    QimImgT<Rgba8> ratio;
    ratio.create(s.width(), s.height(), true, false, 0.0);
    EXPECT_TRUE(computeShadingRatio(s, f, ratio));
    EXPECT_TRUE(writeJpegFile(output, ratio, 95));
    return readFile(output);
}

// The streamed path with the given number of threads.
Bytes encodeStreamed(const std::string& source, const std::string& finalImage,
                     const std::string& output, int threads) {
    BmpBandReader s;
    BmpBandReader f;
    EXPECT_TRUE(s.open(source));
    EXPECT_TRUE(f.open(finalImage));
    RatioBandSource ratio(s, f, threads);
    EXPECT_TRUE(ratio.valid());
    EXPECT_TRUE(
        writeJpegRows(output, s.width(), s.height(), ratio.rowStep(), ratio.anyRow(), 95, ratio));
    return readFile(output);
}

class StreamedEqualsWholeTest : public ::testing::TestWithParam<Case> {
protected:
    ScratchDir dir;
};

TEST_P(StreamedEqualsWholeTest, SameJpegBytes) {
    const Case& c = GetParam();
    ScopedEnv processorClass("QMJPEG_USECPU", c.processorClass);
    const std::string source = dir.file("s.bmp");
    const std::string finalImage = dir.file("f.bmp");
    writeFile(source, buildBmpFile(c.form.build(c.size.width, c.size.height, 1)));
    writeFile(finalImage, buildBmpFile(c.form.build(c.size.width, c.size.height, 2)));

    const Bytes whole = encodeWhole(source, finalImage, dir.file("whole.jpg"));
    ASSERT_GT(whole.size(), 600u);
    EXPECT_EQ(encodeStreamed(source, finalImage, dir.file("one.jpg"), 1), whole);
    EXPECT_EQ(encodeStreamed(source, finalImage, dir.file("two.jpg"), 2), whole);
}

INSTANTIATE_TEST_SUITE_P(FormsAndSizes, StreamedEqualsWholeTest, ::testing::ValuesIn(allCases()),
                         caseName);

// The ratio rows of every pair of forms, source and final (the rows of bitmaps that store
// blue-green-red pixels are taken as stored, the others converted first), against the ratio
// image of the two bitmaps loaded whole, band by band in any order and on any lane.
TEST(RatioRowsTest, EveryPairOfFormsGivesTheWholeImageRatio) {
    ScratchDir dir;
    for (const Size size : {Size{23, 24}, Size{9, 17}}) {
        for (const Form& sourceForm : kForms) {
            for (const Form& finalForm : kForms) {
                SCOPED_TRACE(std::string(sourceForm.name) + " / " + finalForm.name + " " +
                             std::to_string(size.width) + "x" + std::to_string(size.height));
                const std::string source = dir.file("s.bmp");
                const std::string finalImage = dir.file("f.bmp");
                writeFile(source, buildBmpFile(sourceForm.build(size.width, size.height, 5)));
                writeFile(finalImage, buildBmpFile(finalForm.build(size.width, size.height, 6)));
                QimImgT<Rgba8> s;
                QimImgT<Rgba8> f;
                s.create(0, 0, false, false, 0.0);
                f.create(0, 0, false, false, 0.0);
                ASSERT_TRUE(loadBmpFile(source.c_str(), s));
                ASSERT_TRUE(loadBmpFile(finalImage.c_str(), f));
                QimImgT<Rgba8> whole;
                whole.create(s.width(), s.height(), true, false, 0.0);
                ASSERT_TRUE(computeShadingRatio(s, f, whole));

                BmpBandReader sourceBands;
                BmpBandReader finalBands;
                ASSERT_TRUE(sourceBands.open(source));
                ASSERT_TRUE(finalBands.open(finalImage));
                RatioBandSource ratio(sourceBands, finalBands, 2);
                ASSERT_TRUE(ratio.valid());
                const auto* wholeRows = reinterpret_cast<const std::uint8_t*>(whole.imageData());
                const int bands = (size.height + kBandRows - 1) / kBandRows;
                for (int band = bands - 1; band >= 0; --band) { // last band first
                    const int first = band * kBandRows;
                    const int count = std::min(kBandRows, size.height - first);
                    const std::uint8_t* rows = ratio.rows(band % 2, first, count);
                    ASSERT_NE(rows, nullptr);
                    for (int y = 0; y < count; ++y) {
                        const std::uint8_t* expected = wholeRows + (first + y) * whole.widthStep();
                        ASSERT_EQ(Bytes(rows + y * ratio.rowStep(),
                                        rows + y * ratio.rowStep() + 4 * size.width),
                                  Bytes(expected, expected + 4 * size.width))
                            << "row " << first + y;
                    }
                }
            }
        }
    }
}

// The bmpsuite corpus as source, against a textured final bitmap of the same size: every file
// that loads whole loads streamed with the same JPEG bytes, and every file that is refused
// whole is refused streamed (the library's refusals return here instead of ending the run).
TEST(StreamedCorpusTest, LoadsAndRefusesLikeTheWholeImagePath) {
    ScratchDir dir;
    const int previousMode = iplGetErrorMode();
    iplSetErrorMode(IPL_ErrModeParent);
    int loaded = 0;
    for (const char* folder : {"g", "q", "b"}) {
        for (const auto& entry : std::filesystem::directory_iterator(
                 testing_support::corpusPath(std::string("bmpsuite/") + folder))) {
            const std::string source = entry.path().string();
            SCOPED_TRACE(source);
            QimImgT<Rgba8> whole;
            whole.create(0, 0, false, false, 0.0);
            const bool wholeLoads =
                loadBmpFile(source.c_str(), whole) && whole.width() > 0 && whole.height() > 0;
            iplSetStatus(IPL_StsOk);
            BmpBandReader streamed;
            const bool streamedLoads =
                streamed.open(source) && streamed.width() > 0 && streamed.height() > 0;
            iplSetStatus(IPL_StsOk);
            ASSERT_EQ(streamedLoads, wholeLoads);
            if (!wholeLoads) {
                continue;
            }
            ++loaded;
            const std::string finalImage = dir.file("f.bmp");
            writeFile(finalImage, buildBmpFile(rgb24(whole.width(), whole.height(), 3)));
            for (const char* processorClass : {"0", "6"}) {
                ScopedEnv cls("QMJPEG_USECPU", processorClass);
                EXPECT_EQ(encodeStreamed(source, finalImage, dir.file("s.jpg"), 2),
                          encodeWhole(source, finalImage, dir.file("w.jpg")));
            }
        }
    }
    iplSetErrorMode(previousMode);
    EXPECT_GT(loaded, 30);
}

// Whatever the number of threads, the same file: many bands, so that the producer runs ahead
// of the encoder and waits for it, at both routine sets, through the binary. Every lane count
// QMJPEG_THREADS may give, on pictures with fewer MCU rows than lanes and with parts enough for
// sixteen lanes; values it does not take leave the lanes to the processors, with the same file.
struct ThreadCase {
    const char* name;
    Size size;
};
PRINT_CASE_AS_NAME(ThreadCase)

constexpr ThreadCase kThreadCases[] = {{"OneBand", {40, 8}},
                                       {"TwoBands", {33, 9}},
                                       {"ManyBands", {301, 403}},
                                       {"Tall", {3, 2001}},
                                       {"ManyParts", {517, 1030}}};
constexpr const char* kLaneCounts[] = {"2", "3", "5", "8", "16", "64", "0", "65", "2x"};

class ThreadCountTest : public ::testing::TestWithParam<ThreadCase> {
protected:
    ScratchDir dir;
};

TEST_P(ThreadCountTest, OutputDoesNotDependOnTheThreads) {
    const Size size = GetParam().size;
    const std::string source = dir.file("s.bmp");
    const std::string finalImage = dir.file("f.bmp");
    writeFile(source, buildBmpFile(rgb24(size.width, size.height, 3)));
    writeFile(finalImage, buildBmpFile(rle8(size.width, size.height, 4)));
    for (const char* processorClass : {"0", "6"}) {
        ScopedEnv cls("QMJPEG_USECPU", processorClass);
        Bytes single;
        {
            ScopedEnv threads("QMJPEG_THREADS", "1");
            const auto run = runQmjpeg({"-i", source, finalImage, dir.file("one.jpg")});
            ASSERT_EQ(run.exitStatus, 0);
            single = readFile(dir.file("one.jpg"));
        }
        const auto run = runQmjpeg({"-i", source, finalImage, dir.file("default.jpg")});
        ASSERT_EQ(run.exitStatus, 0);
        EXPECT_EQ(readFile(dir.file("default.jpg")), single) << processorClass;
        for (const char* lanes : kLaneCounts) {
            ScopedEnv threads("QMJPEG_THREADS", lanes);
            const auto laned = runQmjpeg({"-i", source, finalImage, dir.file("lanes.jpg")});
            ASSERT_EQ(laned.exitStatus, 0) << lanes << " lanes";
            EXPECT_EQ(laned.output, "");
            EXPECT_EQ(readFile(dir.file("lanes.jpg")), single)
                << processorClass << ", QMJPEG_THREADS=" << lanes;
        }
        EXPECT_EQ(encodeStreamed(source, finalImage, dir.file("two.jpg"), 2), single);
        EXPECT_EQ(encodeWhole(source, finalImage, dir.file("whole.jpg")), single);
    }
}

INSTANTIATE_TEST_SUITE_P(Bands, ThreadCountTest, ::testing::ValuesIn(kThreadCases),
                         [](const ::testing::TestParamInfo<ThreadCase>& info) {
                             return std::string(info.param.name);
                         });

// Inputs that cannot seek are read whole first and give the same file.
TEST(ImageStreamInputTest, FifoInputsGiveTheSameFile) {
    ScratchDir dir;
    const std::string source = dir.file("s.bmp");
    const std::string finalImage = dir.file("f.bmp");
    const Bytes sourceBytes = buildBmpFile(rle4(37, 29, 5));
    writeFile(source, sourceBytes);
    writeFile(finalImage, buildBmpFile(rgb24(37, 29, 6)));
    ASSERT_EQ(runQmjpeg({"-i", source, finalImage, dir.file("file.jpg")}).exitStatus, 0);

    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The writer blocks until the program opens the FIFO, then writes the whole bitmap.
    std::thread writer([&] { writeFile(fifo, sourceBytes); });
    const auto run = runQmjpeg({"-i", fifo, finalImage, dir.file("fifo.jpg")});
    writer.join();
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(readFile(dir.file("fifo.jpg")), readFile(dir.file("file.jpg")));
}

TEST(ImageStreamInputTest, ShortFifoInputFailsTheLoad) {
    ScratchDir dir;
    const std::string finalImage = dir.file("f.bmp");
    writeFile(finalImage, buildBmpFile(rgb24(5, 5, 6)));
    Bytes truncated = buildBmpFile(rgb24(5, 5, 7));
    truncated.resize(truncated.size() - 3);
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { writeFile(fifo, truncated); });
    const auto run = runQmjpeg({"-i", finalImage, fifo, dir.file("out.jpg")});
    writer.join();
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.output, "Unable to load final image\n");
    EXPECT_FALSE(testing_support::fileExists(dir.file("out.jpg")));
}

// An input that shrinks after its checks: the write fails and names that input.
TEST(ImageStreamInputTest, InputCutShortAfterItsChecksIsReported) {
    ScratchDir dir;
    for (const int threads : {1, 2}) {
        for (const bool cutSource : {true, false}) {
            const std::string source = dir.file("s.bmp");
            const std::string finalImage = dir.file("f.bmp");
            writeFile(source, buildBmpFile(rgb24(64, 64, 1)));
            writeFile(finalImage, buildBmpFile(rgb32(64, 64, 2)));
            BmpBandReader s;
            BmpBandReader f;
            ASSERT_TRUE(s.open(source));
            ASSERT_TRUE(f.open(finalImage));
            std::filesystem::resize_file(cutSource ? source : finalImage, 100);
            RatioBandSource ratio(s, f, threads);
            EXPECT_FALSE(writeJpegRows(dir.file("o.jpg"), 64, 64, ratio.rowStep(), ratio.anyRow(),
                                       95, ratio));
            EXPECT_EQ(ratio.failedInput(), cutSource ? RatioBandSource::FailedInput::Source
                                                     : RatioBandSource::FailedInput::Final);
        }
    }
}

// Rows are read while the output is written: an output that replaces an input still gets
// the picture of the inputs as they were.
TEST(ImageStreamInputTest, OutputReplacingAnInputGetsTheSameFile) {
    ScratchDir dir;
    const Bytes sourceBytes = buildBmpFile(rgb24(41, 67, 8));
    const Bytes finalBytes = buildBmpFile(rle8(41, 67, 9));
    writeFile(dir.file("s.bmp"), sourceBytes);
    writeFile(dir.file("f.bmp"), finalBytes);
    ASSERT_EQ(runQmjpeg({"-i", dir.file("s.bmp"), dir.file("f.bmp"), dir.file("o.jpg")}).exitStatus,
              0);
    const Bytes expected = readFile(dir.file("o.jpg"));
    for (const char* replaced : {"s.bmp", "f.bmp"}) {
        writeFile(dir.file("s.bmp"), sourceBytes);
        writeFile(dir.file("f.bmp"), finalBytes);
        const auto run =
            runQmjpeg({"-i", dir.file("s.bmp"), dir.file("f.bmp"), dir.file(replaced)});
        EXPECT_EQ(run.exitStatus, 0) << replaced;
        EXPECT_EQ(readFile(dir.file(replaced)), expected) << replaced;
    }
}

// Run-length codes are checked whole before anything else happens: a refusal near the end of
// the source's data ends the run before the final bitmap is opened, and one in the final
// bitmap comes before the size checks.
TEST(ImageStreamInputTest, RunLengthRefusalsComeBeforeLaterChecks) {
    ScratchDir dir;
    DibFields badEnd = rle8(16, 16, 1);
    badEnd.pixels.resize(badEnd.pixels.size() - 2); // no end of bitmap
    badEnd.pixels.insert(badEnd.pixels.end(), {0, 0});
    const std::string bad = dir.file("bad.bmp");
    writeFile(bad, buildBmpFile(badEnd));
    const std::string other = dir.file("other.bmp");
    writeFile(other, buildBmpFile(rgb24(9, 9, 1)));

    const auto sourceFirst = runQmjpeg({"-i", bad, dir.file("missing.bmp"), dir.file("o.jpg")});
    EXPECT_EQ(sourceFirst.exitStatus, 1);
    EXPECT_EQ(sourceFirst.output, "");
    const auto beforeSizes = runQmjpeg({"-i", other, bad, dir.file("o.jpg")});
    EXPECT_EQ(beforeSizes.exitStatus, 1);
    EXPECT_EQ(beforeSizes.output, "");
    EXPECT_FALSE(testing_support::fileExists(dir.file("o.jpg")));
}

} // namespace
