// The bmpsuite corpus: every good bitmap with a 40-byte info header loads and matches its
// reference rendering; every bad or questionable bitmap ends the tool cleanly (loaded, or
// refused with status 1), and the questionable ones that load are exactly the listed ones.
#include "tool/bmpLoader.h"

#include "support/runProcess.h"
#include "support/testFiles.h"
#include "util/lastError.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

namespace {

using testing_support::Bytes;
using testing_support::corpusPath;
using testing_support::readFile;
using testing_support::runQmjpeg;
using testing_support::ScratchDir;

// Questionable bitmaps that the tool loads; every other one is refused.
const std::set<std::string> kLoadingQuestionableFiles = {
    "pal1p1.bmp",       "pal4rletrns.bmp", "pal8offs.bmp",       "pal8rletrns.bmp",
    "rgb16-231.bmp",    "rgb16-3103.bmp",  "rgb16faketrns.bmp",  "rgb24largepal.bmp",
    "rgb32-111110.bmp", "rgb32-7187.bmp",  "rgb32fakealpha.bmp",
};

// Bad bitmaps that the tool loads: their faults lie in fields it does not use (image size,
// resolution) or in palette indexes beyond the table, which read the bytes after it.
const std::set<std::string> kLoadingBadFiles = {
    "badbitssize.bmp",
    "baddens1.bmp",
    "baddens2.bmp",
    "pal8badindex.bmp",
};

std::vector<std::string> bitmapsIn(const std::string& folder) {
    return testing_support::corpusFiles("bmpsuite/" + folder, ".bmp");
}

// A missing folder leaves its suite without cases; this says so.
TEST(BmpCorpus, FoldersArePresent) {
    for (const char* folder : {"bmpsuite/g", "bmpsuite/q", "bmpsuite/b", "bmpsuite/ref"}) {
        EXPECT_TRUE(testing_support::corpusDataPresent(folder));
    }
}

std::uint32_t infoHeaderSize(const Bytes& file) {
    if (file.size() < 18) {
        return 0;
    }
    return static_cast<std::uint32_t>(file[14] | file[15] << 8 | file[16] << 16 | file[17] << 24);
}

std::map<std::string, std::string> references() {
    std::map<std::string, std::string> map;
    std::ifstream in(corpusPath("bmpsuite/REFERENCES.txt"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        std::string bitmap;
        std::string reference;
        fields >> bitmap >> reference;
        map[bitmap] = reference;
    }
    return map;
}

struct Rendering {
    int width = 0;
    int height = 0;
    Bytes rgba; // top row first
};

// Reads a P7 RGB_ALPHA file of 8-bit samples.
bool readPam(const std::string& path, Rendering& out) {
    const Bytes bytes = readFile(path);
    const std::string text(bytes.begin(), bytes.end());
    const std::size_t end = text.find("ENDHDR\n");
    if (text.rfind("P7\n", 0) != 0 || end == std::string::npos) {
        return false;
    }
    std::istringstream header(text.substr(3, end - 3));
    std::string key;
    int depth = 0;
    int maxValue = 0;
    std::string tupleType;
    while (header >> key) {
        if (key == "WIDTH") {
            header >> out.width;
        } else if (key == "HEIGHT") {
            header >> out.height;
        } else if (key == "DEPTH") {
            header >> depth;
        } else if (key == "MAXVAL") {
            header >> maxValue;
        } else if (key == "TUPLTYPE") {
            header >> tupleType;
        }
    }
    const std::size_t dataStart = end + 7;
    const std::size_t dataSize = static_cast<std::size_t>(out.width) * out.height * 4;
    if (depth != 4 || maxValue != 255 || tupleType != "RGB_ALPHA" ||
        bytes.size() < dataStart + dataSize) {
        return false;
    }
    out.rgba.assign(bytes.begin() + static_cast<long>(dataStart),
                    bytes.begin() + static_cast<long>(dataStart + dataSize));
    return true;
}

std::string testName(const std::string& file) {
    std::string name = file.substr(0, file.size() - 4);
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

// Runs the tool with the bitmap as both images; true when it loaded (and wrote the JPEG).
bool toolLoads(const std::string& relative) {
    ScratchDir dir;
    const std::string path = corpusPath("bmpsuite/" + relative);
    const auto result = runQmjpeg({"-i", path, path, dir.file("out.jpg")});
    EXPECT_TRUE(result.exitStatus == 0 || result.exitStatus == 1)
        << relative << " ended with status " << result.exitStatus;
    EXPECT_EQ(result.errors, "") << relative;
    if (result.exitStatus == 0) {
        EXPECT_EQ(result.output, "") << relative;
        EXPECT_TRUE(testing_support::fileExists(dir.file("out.jpg"))) << relative;
        return true;
    }
    // Refused by the loader (its message) or by the image library (no text).
    EXPECT_TRUE(result.output == "Unable to load src image\n" || result.output == "" ||
                result.output == "Image dimensions cannot be zero\n")
        << relative << ": " << result.output;
    EXPECT_FALSE(testing_support::fileExists(dir.file("out.jpg"))) << relative;
    return false;
}

// ---- good bitmaps against their references ------------------------------------------------------

class GoodBitmapTest : public ::testing::TestWithParam<std::string> {};

TEST_P(GoodBitmapTest, MatchesItsReference) {
    const std::string relative = "g/" + GetParam();
    const Bytes file = readFile(corpusPath("bmpsuite/" + relative));
    if (infoHeaderSize(file) != 40) {
        // OS/2 and larger info headers are refused by the conversion, ending the tool cleanly.
        EXPECT_FALSE(toolLoads(relative));
        return;
    }
    const auto refs = references();
    ASSERT_TRUE(refs.count(relative)) << relative;
    // The listed rendering of the non-square-pixel bitmap is resampled for display; its
    // pixel-for-pixel rendering is the "-e" file beside it.
    const std::string reference =
        relative == "g/pal8nonsquare.bmp" ? "ref/pal8nonsquare-e.pam" : refs.at(relative);
    Rendering expected;
    ASSERT_TRUE(readPam(corpusPath("bmpsuite/" + reference), expected)) << reference;

    clearLastError();
    QimImgT<Rgba8> image;
    image.create(0, 0, false, false, 0.0);
    ASSERT_TRUE(loadBmpFile(corpusPath("bmpsuite/" + relative).c_str(), image))
        << lastError().code << " " << lastError().message;
    ASSERT_EQ(image.width(), expected.width);
    ASSERT_EQ(image.height(), expected.height);

    // 5- and 6-bit fields are shifted to 8 bits here while the references replicate their
    // high bits: those may differ by up to 7. Everything else is exact.
    const int bitCount = file[28] | file[29] << 8;
    const int colourTolerance = bitCount == 16 ? 7 : 0;
    int reported = 0;
    for (int y = 0; y < expected.height && reported < 5; ++y) {
        const auto* row = reinterpret_cast<const std::uint8_t*>(image.imageData()) +
                          std::int64_t{y} * image.widthStep();
        for (int x = 0; x < expected.width && reported < 5; ++x) {
            for (int c = 0; c < 4; ++c) {
                const int got = row[4 * x + c];
                const int want = expected.rgba[(static_cast<std::size_t>(y) * expected.width +
                                                static_cast<std::size_t>(x)) *
                                                   4 +
                                               static_cast<std::size_t>(c)];
                const int tolerance = c == 3 ? 0 : colourTolerance;
                if (std::abs(got - want) > tolerance) {
                    ADD_FAILURE() << relative << " pixel (" << x << ", " << y << ") channel " << c
                                  << ": " << got << " instead of " << want;
                    ++reported;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, GoodBitmapTest, ::testing::ValuesIn(bitmapsIn("g")),
                         [](const auto& info) { return testName(info.param); });

// ---- bad and questionable bitmaps through the real binary ---------------------------------------

class QuestionableBitmapTest : public ::testing::TestWithParam<std::string> {};

TEST_P(QuestionableBitmapTest, EndsCleanlyAsListed) {
    EXPECT_EQ(toolLoads("q/" + GetParam()), kLoadingQuestionableFiles.count(GetParam()) == 1);
}

INSTANTIATE_TEST_SUITE_P(Corpus, QuestionableBitmapTest, ::testing::ValuesIn(bitmapsIn("q")),
                         [](const auto& info) { return testName(info.param); });

class BadBitmapTest : public ::testing::TestWithParam<std::string> {};

TEST_P(BadBitmapTest, EndsCleanlyAsListed) {
    EXPECT_EQ(toolLoads("b/" + GetParam()), kLoadingBadFiles.count(GetParam()) == 1);
}

INSTANTIATE_TEST_SUITE_P(Corpus, BadBitmapTest, ::testing::ValuesIn(bitmapsIn("b")),
                         [](const auto& info) { return testName(info.param); });

} // namespace
