// Real bitmaps from the test corpus: renderings against the references, and every file of
// the corpus (good, questionable, bad) converted without crashing or reading past its block.
#include "image/iplImage.h"
#include "reportCapture.h"
#include "support/testFiles.h"
#include "testImage.h"

#include <gtest/gtest.h>
#include <ostream>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

using image_test::Bytes;
using image_test::ReportCapture;
using image_test::TestImage;
using testing_support::corpusPath;
using testing_support::readFile;

struct Pam {
    int width = 0;
    int height = 0;
    Bytes rgba; // top row first
};

bool readPam(const std::string& path, Pam& pam) {
    const Bytes file = readFile(path);
    const std::string text(file.begin(), file.end());
    const std::size_t end = text.find("ENDHDR\n");
    if (end == std::string::npos) {
        return false;
    }
    std::istringstream header(text.substr(0, end));
    std::string key;
    while (header >> key) {
        if (key == "WIDTH") {
            header >> pam.width;
        } else if (key == "HEIGHT") {
            header >> pam.height;
        }
    }
    const std::size_t start = end + 7;
    const std::size_t size = static_cast<std::size_t>(pam.width) * pam.height * 4;
    if (file.size() < start + size) {
        return false;
    }
    pam.rgba.assign(file.begin() + static_cast<std::ptrdiff_t>(start),
                    file.begin() + static_cast<std::ptrdiff_t>(start + size));
    return true;
}

// The bitmap block of a BMP file: everything after its 14-byte file header.
Bytes dibBlock(const std::string& path) {
    const Bytes file = readFile(path);
    return file.size() > 14 ? Bytes(file.begin() + 14, file.end()) : Bytes();
}

std::int32_t headerField(const Bytes& dib, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | dib[offset + static_cast<std::size_t>(i)];
    }
    return static_cast<std::int32_t>(value);
}

struct ReferenceCase {
    const char* bitmap;
    const char* reference;
    int tolerance; // fields narrower than 8 bits are shifted, not replicated
};
inline void PrintTo(const ReferenceCase& row, std::ostream* out) {
    *out << row.bitmap << " against " << row.reference << " within " << row.tolerance;
}

class CorpusReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(CorpusReference, MatchesTheIntendedRendering) {
    const ReferenceCase& c = GetParam();
    ASSERT_TRUE(testing_support::corpusDataPresent(c.bitmap));
    const Bytes dib = dibBlock(corpusPath(c.bitmap));
    ASSERT_GE(dib.size(), 40u);
    Pam pam;
    ASSERT_TRUE(readPam(corpusPath(c.reference), pam));
    const int width = headerField(dib, 4);
    const int height = std::abs(headerField(dib, 8));
    ASSERT_EQ(width, pam.width);
    ASSERT_EQ(height, pam.height);

    ReportCapture capture;
    TestImage image(width, height);
    image_test::convert(dib, image.get());
    ASSERT_TRUE(capture.empty()) << capture.last().message;
    int worst = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const image_test::Rgba pixel = image.rgba(x, y);
            for (int channel = 0; channel < 3; ++channel) {
                const int expected =
                    pam.rgba[(static_cast<std::size_t>(y) * width + x) * 4 + channel];
                worst = std::max(worst, std::abs(pixel[channel] - expected));
            }
        }
    }
    EXPECT_LE(worst, c.tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Good, CorpusReference,
    ::testing::Values(ReferenceCase{"bmpsuite/g/pal1.bmp", "bmpsuite/ref/pal1.pam", 0},
                      ReferenceCase{"bmpsuite/g/pal1wb.bmp", "bmpsuite/ref/pal1.pam", 0},
                      ReferenceCase{"bmpsuite/g/pal1bg.bmp", "bmpsuite/ref/pal1bg.pam", 0},
                      ReferenceCase{"bmpsuite/g/pal4.bmp", "bmpsuite/ref/pal4.pam", 0},
                      ReferenceCase{"bmpsuite/g/pal4gs.bmp", "bmpsuite/ref/pal4gs.pam", 0},
                      ReferenceCase{"bmpsuite/g/pal4rle.bmp", "bmpsuite/ref/pal4.pam", 0},
                      ReferenceCase{"bmpsuite/g/pal8.bmp", "bmpsuite/ref/pal8.pam", 0},
                      ReferenceCase{"bmpsuite/g/pal8-0.bmp", "bmpsuite/ref/pal8.pam", 0},
                      ReferenceCase{"bmpsuite/g/pal8gs.bmp", "bmpsuite/ref/pal8gs.pam", 0},
                      ReferenceCase{"bmpsuite/g/pal8rle.bmp", "bmpsuite/ref/pal8.pam", 0},
                      ReferenceCase{"bmpsuite/g/pal8topdown.bmp", "bmpsuite/ref/pal8.pam", 0},
                      ReferenceCase{"bmpsuite/g/pal8w124.bmp", "bmpsuite/ref/pal8w124.pam", 0},
                      ReferenceCase{"bmpsuite/g/pal8w125.bmp", "bmpsuite/ref/pal8w125.pam", 0},
                      ReferenceCase{"bmpsuite/g/pal8w126.bmp", "bmpsuite/ref/pal8w126.pam", 0},
                      ReferenceCase{"bmpsuite/g/rgb16.bmp", "bmpsuite/ref/rgb16.pam", 7},
                      ReferenceCase{"bmpsuite/g/rgb16bfdef.bmp", "bmpsuite/ref/rgb16.pam", 7},
                      ReferenceCase{"bmpsuite/g/rgb16-565.bmp", "bmpsuite/ref/rgb16-565.pam", 7},
                      ReferenceCase{"bmpsuite/g/rgb24.bmp", "bmpsuite/ref/rgb24.pam", 0},
                      ReferenceCase{"bmpsuite/g/rgb32.bmp", "bmpsuite/ref/rgb24.pam", 0},
                      ReferenceCase{"bmpsuite/g/rgb32bf.bmp", "bmpsuite/ref/rgb24.pam", 0},
                      ReferenceCase{"bmpsuite/g/rgb32bfdef.bmp", "bmpsuite/ref/rgb24.pam", 0}),
    [](const auto& info) {
        // The bitmap's file name without folder and extension, "-" written as "_".
        std::string name = std::filesystem::path(info.param.bitmap).stem().string();
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// Every corpus file, converted in the returning error mode into an image of the size its header
// names (when that is sensible): it either converts without a report or is refused with one.
// Under the address sanitizer this also shows that nothing is read outside the block.
TEST(CorpusRobustness, EveryFileConvertsOrIsRefusedCleanly) {
    int files = 0;
    int converted = 0;
    for (const char* folder : {"bmpsuite/g", "bmpsuite/q", "bmpsuite/b"}) {
        EXPECT_TRUE(testing_support::corpusDataPresent(folder));
        for (const std::string& name : testing_support::corpusFiles(folder, ".bmp")) {
            const std::string path = corpusPath(std::string(folder) + "/" + name);
            ++files;
            const Bytes dib = dibBlock(path);
            int width = 1;
            int height = 1;
            if (dib.size() >= 12) {
                const std::int64_t w = headerField(dib, 4);
                const std::int64_t h = std::abs(std::int64_t{headerField(dib, 8)});
                if (w > 0 && h > 0 && w <= 4096 && h <= 4096) {
                    width = static_cast<int>(w);
                    height = static_cast<int>(h);
                }
            }
            ReportCapture capture;
            TestImage image(width, height);
            iplConvertFromDIB(reinterpret_cast<const BITMAPINFOHEADER*>(dib.data()),
                              static_cast<std::int64_t>(dib.size()), image.get());
            if (capture.empty()) {
                ++converted;
                EXPECT_EQ(iplGetStatus(), 0) << path;
            } else {
                EXPECT_LT(iplGetStatus(), 0) << path;
            }
        }
    }
    EXPECT_GT(files, 80);
    EXPECT_GT(converted, 20);
}

} // namespace
