// The -i mode through the real binary: the order of its checks and their messages, the
// decided treatment of truncated, top-down, empty and oversized bitmaps, library refusals,
// and what is left on disk when the output cannot be written.
#include "support/dibBuilder.h"
#include "support/runProcess.h"
#include "support/scopedEnv.h"
#include "support/testFiles.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

using dib_builder::buildBmpFile;
using dib_builder::Bytes;
using dib_builder::DibFields;
using dib_builder::rows24;
using dib_builder::solid24;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::runQmjpeg;
using testing_support::ScopedEnv;
using testing_support::ScratchDir;
using testing_support::writeFile;

class ImageModeCliTest : public ::testing::Test {
protected:
    std::string bitmap(const std::string& name, const DibFields& spec) {
        return bitmap(name, buildBmpFile(spec));
    }
    std::string bitmap(const std::string& name, const Bytes& bytes) {
        const std::string path = dir.file(name);
        writeFile(path, bytes);
        return path;
    }
    // `refused`: the bitmap whose load fails, which standard error names in its one line;
    // empty when no load fails and standard error stays empty.
    void expectRun(const std::string& source, const std::string& finalImage, int status,
                   const std::string& text, const std::string& refused = "") {
        const auto result = runQmjpeg({"-i", source, finalImage, output});
        EXPECT_EQ(result.exitStatus, status) << source << " / " << finalImage;
        EXPECT_EQ(result.output, text) << source << " / " << finalImage;
        if (refused.empty()) {
            EXPECT_EQ(result.errors, "");
            return;
        }
        const std::string prefix = "qmjpeg: " + refused + ": ";
        EXPECT_EQ(result.errors.rfind(prefix, 0), 0u) << result.errors;
        EXPECT_GT(result.errors.size(), prefix.size() + 1) << result.errors;
        EXPECT_EQ(result.errors.find('\n'), result.errors.size() - 1) << result.errors;
    }

    ScratchDir dir;
    std::string output = dir.file("out.jpg");
};

// A picture with some structure, so that the JPEG has real content.
DibFields gradient(int width, int height) {
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.push_back(static_cast<std::uint32_t>(((x * 37 + y * 11) & 0xFF) << 16 |
                                                        ((x * y) & 0xFF) << 8 | ((y * 53) & 0xFF)));
        }
    }
    DibFields spec;
    spec.width = width;
    spec.height = height;
    spec.pixels = rows24(width, pixels);
    return spec;
}

TEST_F(ImageModeCliTest, LoadFailuresNameTheImage) {
    const std::string good = bitmap("good.bmp", solid24(4, 4, 0x808080));
    const std::string missing = dir.file("missing.bmp");
    expectRun(missing, dir.file("missing-too.bmp"), 1, "Unable to load src image\n", missing);
    expectRun(good, missing, 1, "Unable to load final image\n", missing);
    Bytes notBmp = buildBmpFile(solid24(4, 4, 0));
    notBmp[1] = 'A';
    expectRun(bitmap("notbmp.bmp", notBmp), good, 1, "Unable to load src image\n",
              dir.file("notbmp.bmp"));
    expectRun(good, bitmap("short.bmp", Bytes{'B', 'M', 1}), 1, "Unable to load final image\n",
              dir.file("short.bmp"));
    EXPECT_FALSE(fileExists(output));
}

TEST_F(ImageModeCliTest, BitmapsExtendingPastTheirFileFailTheLoad) {
    const std::string good = bitmap("good.bmp", solid24(4, 4, 0x808080));
    DibFields truncatedRows = solid24(4, 4, 0x808080);
    truncatedRows.pixels.resize(truncatedRows.pixels.size() - 1);
    expectRun(bitmap("rows.bmp", truncatedRows), good, 1, "Unable to load src image\n",
              dir.file("rows.bmp"));
    DibFields truncatedTable;
    truncatedTable.width = 4;
    truncatedTable.height = 4;
    truncatedTable.bitCount = 8;
    truncatedTable.table.assign(16, 0); // 256 entries promised
    expectRun(good, bitmap("table.bmp", truncatedTable), 1, "Unable to load final image\n",
              dir.file("table.bmp"));
    const Bytes full = buildBmpFile(solid24(4, 4, 0));
    expectRun(bitmap("header.bmp", Bytes(full.begin(), full.begin() + 30)), good, 1,
              "Unable to load src image\n", dir.file("header.bmp"));
    EXPECT_FALSE(fileExists(output));
}

TEST_F(ImageModeCliTest, SizeChecksComeInOrder) {
    expectRun(bitmap("a.bmp", solid24(10, 20, 0x101010)), bitmap("b.bmp", solid24(20, 10, 0)), 1,
              "Image dimensions don't match\n", dir.file("b.bmp"));
    expectRun(bitmap("c.bmp", solid24(10, 20, 0x101010)), bitmap("d.bmp", solid24(10, 21, 0)), 1,
              "Image dimensions don't match\n", dir.file("d.bmp"));
    // Empty bitmaps load; the size match is checked before the zero size.
    expectRun(bitmap("w0.bmp", solid24(0, 5, 0)), bitmap("w3.bmp", solid24(3, 5, 0)), 1,
              "Image dimensions don't match\n", dir.file("w3.bmp"));
    expectRun(bitmap("w0a.bmp", solid24(0, 5, 0)), bitmap("w0b.bmp", solid24(0, 5, 0)), 1,
              "Image dimensions cannot be zero\n", dir.file("w0b.bmp"));
    expectRun(bitmap("h0a.bmp", solid24(4, 0, 0)), bitmap("h0b.bmp", solid24(4, 0, 0)), 1,
              "Image dimensions cannot be zero\n", dir.file("h0b.bmp"));
    EXPECT_FALSE(fileExists(output));
}

// The standard-error line of a size failure gives both sizes.
TEST_F(ImageModeCliTest, SizeFailuresGiveBothSizes) {
    const std::string a = bitmap("a.bmp", solid24(640, 48, 0x101010));
    const std::string b = bitmap("b.bmp", solid24(320, 24, 0));
    EXPECT_EQ(runQmjpeg({"-i", a, b, output}).errors,
              "qmjpeg: " + b + ": 320x24, but " + a + " is 640x48\n");
    const std::string empty = bitmap("e.bmp", solid24(0, 5, 0));
    EXPECT_EQ(runQmjpeg({"-i", empty, empty, output}).errors,
              "qmjpeg: " + empty + ": 0x5, and " + empty + " is 0x5: no pixels to encode\n");
}

TEST_F(ImageModeCliTest, UnsupportedDimensionsFailTheLoad) {
    const std::string good = bitmap("good.bmp", solid24(1, 1, 0));
    DibFields negativeWidth = solid24(1, 1, 0);
    negativeWidth.width = -1;
    expectRun(bitmap("neg.bmp", negativeWidth), good, 1, "Unable to load src image\n",
              dir.file("neg.bmp"));
    DibFields tooWide = solid24(1, 1, 0);
    tooWide.width = 70000;
    expectRun(good, bitmap("wide.bmp", tooWide), 1, "Unable to load final image\n",
              dir.file("wide.bmp"));
    DibFields tooTall = solid24(1, 1, 0);
    tooTall.height = -70000;
    expectRun(bitmap("tall.bmp", tooTall), good, 1, "Unable to load src image\n",
              dir.file("tall.bmp"));
}

TEST_F(ImageModeCliTest, TopDownAndBottomUpBitmapsOfOnePictureMatch) {
    DibFields bottomUp = gradient(9, 5);
    DibFields topDown = bottomUp;
    topDown.height = -5;
    topDown.pixels.clear();
    const std::size_t rowBytes = bottomUp.pixels.size() / 5;
    for (int y = 4; y >= 0; --y) {
        topDown.pixels.insert(topDown.pixels.end(),
                              bottomUp.pixels.begin() + static_cast<long>(y * rowBytes),
                              bottomUp.pixels.begin() + static_cast<long>((y + 1) * rowBytes));
    }
    // Same picture twice: the ratio image is 64 everywhere.
    const std::string bottomUpFile = bitmap("bu.bmp", bottomUp);
    expectRun(bottomUpFile, bottomUpFile, 0, "");
    // The top-down file gives the same all-64 image only if its rows land in the same places.
    const std::string mixedOutput = dir.file("mixed.jpg");
    const auto mixed = runQmjpeg({"-i", bitmap("td.bmp", topDown), bottomUpFile, mixedOutput});
    EXPECT_EQ(mixed.exitStatus, 0);
    EXPECT_EQ(mixed.output, "");
    EXPECT_EQ(readFile(mixedOutput), readFile(output));
    // Rows in the wrong order would not: the picture is not symmetric.
    DibFields flipped = topDown;
    flipped.height = 5;
    const std::string flippedOutput = dir.file("flipped.jpg");
    runQmjpeg({"-i", bitmap("flip.bmp", flipped), bottomUpFile, flippedOutput});
    EXPECT_NE(readFile(flippedOutput), readFile(output));
}

TEST_F(ImageModeCliTest, LibraryRefusalEndsWithStatusOneAndOnlyItsReason) {
    const std::string good = bitmap("good.bmp", solid24(1, 1, 0));
    DibFields twoBit = solid24(1, 1, 0);
    twoBit.bitCount = 2;
    twoBit.table = {0, 0, 0, 0};
    expectRun(bitmap("twobit.bmp", twoBit), good, 1, "", dir.file("twobit.bmp"));
    DibFields runLengthTopDown;
    runLengthTopDown.width = 1;
    runLengthTopDown.height = -1;
    runLengthTopDown.bitCount = 8;
    runLengthTopDown.compression = 1;
    runLengthTopDown.clrUsed = 1;
    runLengthTopDown.table = {0};
    runLengthTopDown.pixels = {1, 0, 0, 1};
    expectRun(good, bitmap("rletd.bmp", runLengthTopDown), 1, "", dir.file("rletd.bmp"));
    EXPECT_FALSE(fileExists(output));
}

TEST_F(ImageModeCliTest, SuccessWritesAJpegAndNothingElse) {
    const std::string source = bitmap("s.bmp", gradient(17, 9));
    const std::string finalImage = bitmap("f.bmp", solid24(17, 9, 0x406080));
    const auto result = runQmjpeg({"-i", source, finalImage, output, "extra", "args"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "");
    const Bytes jpeg = readFile(output);
    ASSERT_GT(jpeg.size(), 4u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
    EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);
}

// The kernel-set switch chooses among vector sets that write the same bytes: every value,
// known or not, gives the file written without it, and the plain routines of class 0 stay.
TEST_F(ImageModeCliTest, KernelSetSwitchLeavesTheBytesAlone) {
    const std::string source = bitmap("s.bmp", gradient(67, 45));
    const std::string finalImage = bitmap("f.bmp", solid24(67, 45, 0x406080));
    const auto run = [&](const char* processorClass, const char* kernels) {
        const ScopedEnv forcedClass("QMJPEG_USECPU", processorClass);
        const ScopedEnv forcedKernels("QMJPEG_KERNELS", kernels);
        const auto result = runQmjpeg({"-i", source, finalImage, output});
        EXPECT_EQ(result.exitStatus, 0) << result.output << result.errors;
        EXPECT_EQ(result.errors, "");
        return readFile(output);
    };
    const Bytes vector = run("6", nullptr);
    const Bytes plain = run("0", nullptr);
    ASSERT_NE(vector, plain); // the picture tells the two routine sets apart
    for (const char* kernels : {"portable", "sse2", "avx2", "avx512", "plain", "bogus"}) {
        EXPECT_EQ(run("6", kernels), vector) << kernels;
        EXPECT_EQ(run("0", kernels), plain) << kernels;
    }
}

TEST_F(ImageModeCliTest, IdenticalOnePixelBitmapsGiveTheKnownFile) {
    const std::string pixel = bitmap("p.bmp", solid24(1, 1, 0x336699));
    expectRun(pixel, pixel, 0, "");
    const Bytes jpeg = readFile(output);
    ASSERT_EQ(jpeg.size(), 666u);
    // The entropy-coded data sits between the end of the SOS segment and EOI.
    const Bytes tail(jpeg.end() - 7, jpeg.end());
    EXPECT_EQ(tail, (Bytes{0xFC, 0xFF, 0x00, 0xA0, 0x0F, 0xFF, 0xD9}));
}

TEST_F(ImageModeCliTest, OutputThatCannotBeCreated) {
    const std::string pixel = bitmap("p.bmp", solid24(2, 2, 0x336699));
    const auto noDir = runQmjpeg({"-i", pixel, pixel, dir.file("no/such/dir/out.jpg")});
    EXPECT_EQ(noDir.exitStatus, 1);
    EXPECT_EQ(noDir.output, "Unable to create output file.\n");
    const auto isDir = runQmjpeg({"-i", pixel, pixel, dir.path().string()});
    EXPECT_EQ(isDir.exitStatus, 1);
    EXPECT_EQ(isDir.output, "Unable to create output file.\n");
    EXPECT_TRUE(std::filesystem::is_directory(dir.path()));
}

TEST_F(ImageModeCliTest, OutputFailingPartWayLeavesTheOlderFileAsItWas) {
    const std::string source = bitmap("s.bmp", gradient(256, 256));
    const std::string finalImage = bitmap("f.bmp", solid24(256, 256, 0x203040));
    writeFile(output, Bytes(5000, 0xAB)); // an older file in the way
    // Files may grow to 1000 bytes only; beyond that writes fail instead of killing the child.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    const auto result = runQmjpeg({"-i", source, finalImage, output});
    std::signal(SIGXFSZ, previous);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Unable to create output file.\n");
    // The partial file was a temporary one beside the output; it is gone, the output intact.
    EXPECT_EQ(readFile(output), Bytes(5000, 0xAB));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 3u); // the two bitmaps and the output
}

} // namespace
