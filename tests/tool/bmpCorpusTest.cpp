// The bmpsuite corpus: every good bitmap loads and matches its reference rendering; every bad
// or questionable bitmap ends the tool cleanly (loaded, or refused with status 1 and one
// standard-error line saying why), the questionable ones that load are exactly the listed
// ones, and those that have a reference show its picture up to the bit-field widening rule.
#include "tool/bmpLoader.h"

#include "image/dibLayout.h"

#include "support/runProcess.h"
#include "support/testFiles.h"
#include "util/lastError.h"

#include <algorithm>
#include <array>
#include <bit>
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
    "pal1p1.bmp",        "pal4rletrns.bmp",    "pal8offs.bmp",    "pal8os2v2.bmp",
    "pal8rletrns.bmp",   "rgb16-231.bmp",      "rgb16-3103.bmp",  "rgb16faketrns.bmp",
    "rgb24largepal.bmp", "rgb24lprof.bmp",     "rgb24prof.bmp",   "rgb24prof2.bmp",
    "rgb32-111110.bmp",  "rgb32-7187.bmp",     "rgb32-xbgr.bmp",  "rgb32fakealpha.bmp",
    "rgb32h52.bmp",      "rgba16-1924.bmp",    "rgba16-4444.bmp", "rgba16-5551.bmp",
    "rgba32-1.bmp",      "rgba32-1010102.bmp", "rgba32-2.bmp",    "rgba32-61754.bmp",
    "rgba32-81284.bmp",  "rgba32abf.bmp",      "rgba32h56.bmp",
};

// Questionable bitmaps in the header forms beyond the 40-byte one (and alpha bit fields) that
// load. rgb24prof2.bmp loads too, but its embedded profile exchanges red and green in the
// reference rendering, and profiles are ignored here.
const std::vector<std::string> kQuestionableFilesInOtherForms = {
    "pal8os2v2.bmp",    "rgb24lprof.bmp",     "rgb24prof.bmp",   "rgb32-xbgr.bmp",
    "rgb32h52.bmp",     "rgba16-1924.bmp",    "rgba16-4444.bmp", "rgba16-5551.bmp",
    "rgba32-1.bmp",     "rgba32-1010102.bmp", "rgba32-2.bmp",    "rgba32-61754.bmp",
    "rgba32-81284.bmp", "rgba32abf.bmp",      "rgba32h56.bmp",
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
    if (result.exitStatus == 0 || result.output == "Image dimensions cannot be zero\n") {
        EXPECT_EQ(result.errors, "") << relative;
    }
    if (result.exitStatus == 0) {
        EXPECT_EQ(result.output, "") << relative;
        EXPECT_TRUE(testing_support::fileExists(dir.file("out.jpg"))) << relative;
        return true;
    }
    // Refused by the loader (its message) or by the image library (no text).
    EXPECT_TRUE(result.output == "Unable to load src image\n" || result.output == "" ||
                result.output == "Image dimensions cannot be zero\n")
        << relative << ": " << result.output;
    if (result.output != "Image dimensions cannot be zero\n") {
        // One line naming the file as given and a reason.
        const std::string prefix = "qmjpeg: " + path + ": ";
        EXPECT_EQ(result.errors.rfind(prefix, 0), 0u) << relative << ": " << result.errors;
        EXPECT_GT(result.errors.size(), prefix.size() + 1) << relative;
        EXPECT_EQ(result.errors.find('\n'), result.errors.size() - 1) << relative;
    }
    EXPECT_FALSE(testing_support::fileExists(dir.file("out.jpg"))) << relative;
    return false;
}

// How far a loaded colour may be from the reference: bit fields narrower than 8 bits are
// shifted up here while the references replicate their high bits, and wider ones may round
// differently; everything else is exact.
int widening(std::uint32_t mask) {
    const int width = std::popcount(mask);
    return width == 0 ? 0 : width < 8 ? (1 << (8 - width)) - 1 : width > 8 ? 1 : 0;
}

std::array<int, 3> colourTolerances(const Bytes& file) {
    if (file.size() < 14) {
        return {0, 0, 0};
    }
    DibBlock block;
    block.data = file.data() + 14;
    block.size = static_cast<std::int64_t>(file.size()) - 14;
    DibLayout layout;
    if (!describeDib(block, layout).ok() || !checkDibExtent(block, layout).ok()) {
        return {0, 0, 0};
    }
    if (layout.bitFields) {
        return {widening(layout.masks.red), widening(layout.masks.green),
                widening(layout.masks.blue)};
    }
    return layout.bitCount == 16 ? std::array<int, 3>{7, 7, 7} : std::array<int, 3>{0, 0, 0};
}

// Loads the bitmap and compares it with its reference rendering; alpha is compared only when
// `withAlpha` is set.
void expectReferencePicture(const std::string& relative, const std::string& reference,
                            bool withAlpha) {
    Rendering expected;
    ASSERT_TRUE(readPam(corpusPath("bmpsuite/" + reference), expected)) << reference;
    const Bytes file = readFile(corpusPath("bmpsuite/" + relative));
    clearLastError();
    QimImgT<Rgba8> image;
    image.create(0, 0, false, false, 0.0);
    ASSERT_TRUE(loadBmpFile(corpusPath("bmpsuite/" + relative).c_str(), image))
        << lastError().code << " " << lastError().message;
    ASSERT_EQ(image.width(), expected.width);
    ASSERT_EQ(image.height(), expected.height);

    const std::array<int, 3> tolerance = colourTolerances(file);
    const int channels = withAlpha ? 4 : 3;
    int reported = 0;
    std::int64_t compared = 0;
    for (int y = 0; y < expected.height && reported < 5; ++y) {
        const auto* row = reinterpret_cast<const std::uint8_t*>(image.imageData()) +
                          std::int64_t{y} * image.widthStep();
        for (int x = 0; x < expected.width && reported < 5; ++x) {
            const std::size_t at =
                (static_cast<std::size_t>(y) * expected.width + static_cast<std::size_t>(x)) * 4;
            // Without alpha, only the reference's opaque pixels show the stored colour.
            if (!withAlpha && expected.rgba[at + 3] != 255) {
                continue;
            }
            ++compared;
            for (int c = 0; c < channels; ++c) {
                const int got = row[4 * x + c];
                const int want = expected.rgba[(static_cast<std::size_t>(y) * expected.width +
                                                static_cast<std::size_t>(x)) *
                                                   4 +
                                               static_cast<std::size_t>(c)];
                const int allowed = c == 3 ? 0 : tolerance[static_cast<std::size_t>(c)];
                if (std::abs(got - want) > allowed) {
                    ADD_FAILURE() << relative << " pixel (" << x << ", " << y << ") channel " << c
                                  << ": " << got << " instead of " << want;
                    ++reported;
                }
            }
        }
    }
    EXPECT_GE(compared * 2, std::int64_t{expected.width} * expected.height)
        << relative << ": too few opaque pixels to compare";
}

// ---- good bitmaps against their references ------------------------------------------------------

class GoodBitmapTest : public ::testing::TestWithParam<std::string> {};

TEST_P(GoodBitmapTest, MatchesItsReference) {
    const std::string relative = "g/" + GetParam();
    const auto refs = references();
    ASSERT_TRUE(refs.count(relative)) << relative;
    // The listed rendering of the non-square-pixel bitmap is resampled for display; its
    // pixel-for-pixel rendering is the "-e" file beside it.
    const std::string reference =
        relative == "g/pal8nonsquare.bmp" ? "ref/pal8nonsquare-e.pam" : refs.at(relative);
    expectReferencePicture(relative, reference, true);
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

// Questionable bitmaps that load show their reference's colours (alpha follows the rules of
// the 40-byte form, which the tool's output does not use).
class LoadingQuestionableBitmapTest : public ::testing::TestWithParam<std::string> {};

TEST_P(LoadingQuestionableBitmapTest, ShowsItsReferencePicture) {
    const std::string relative = "q/" + GetParam();
    const auto refs = references();
    ASSERT_TRUE(refs.count(relative) == 1 && refs.at(relative) != "-") << relative;
    expectReferencePicture(relative, refs.at(relative), false);
}

INSTANTIATE_TEST_SUITE_P(Corpus, LoadingQuestionableBitmapTest,
                         ::testing::ValuesIn(kQuestionableFilesInOtherForms),
                         [](const auto& info) { return testName(info.param); });

class BadBitmapTest : public ::testing::TestWithParam<std::string> {};

TEST_P(BadBitmapTest, EndsCleanlyAsListed) {
    EXPECT_EQ(toolLoads("b/" + GetParam()), kLoadingBadFiles.count(GetParam()) == 1);
}

INSTANTIATE_TEST_SUITE_P(Corpus, BadBitmapTest, ::testing::ValuesIn(bitmapsIn("b")),
                         [](const auto& info) { return testName(info.param); });

} // namespace
