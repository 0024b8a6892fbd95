// Replays every kept fuzz input (fuzz/regressions/<target>/ and the seeds in
// fuzz/seeds/<target>/) through the entry its fuzz target uses, so each input that once broken
// something stays checked in the normal test run.
#include "fuzzEntries.h"

#include "image/iplImage.h"
#include "support/printAsName.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Entry = const char* (*)(const std::uint8_t* data, std::size_t size);

struct Target {
    const char* name;
    Entry entry;
};
PRINT_CASE_AS_NAME(Target)

std::vector<std::filesystem::path> keptInputs(const std::string& target, const char* kind) {
    std::vector<std::filesystem::path> files;
    const std::filesystem::path dir =
        std::filesystem::path(QMJPEG_SOURCE_DIR) / "fuzz" / kind / target;
    if (std::filesystem::is_directory(dir)) {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::uint8_t> readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FuzzRegressionTest : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzRegressionTest, EveryKeptInputPassesTheTargetsChecks) {
    const std::string target = std::string(GetParam().name) + "Fuzz";
    int replayed = 0;
    for (const char* kind : {"regressions", "seeds"}) {
        for (const auto& file : keptInputs(target, kind)) {
            const std::vector<std::uint8_t> bytes = readAll(file);
            const char* failure = GetParam().entry(bytes.data(), bytes.size());
            EXPECT_EQ(failure, nullptr) << file << ": " << (failure != nullptr ? failure : "");
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0) << "no kept inputs for " << target;
}

TEST(FuzzRegressionTest, EntriesLeaveTheImageLibraryInItsFixedErrorMode) {
    const std::vector<std::uint8_t> notABitmap{'B', 'M', 0, 0};
    ASSERT_EQ(iplGetErrorMode(), IPL_ErrModeLeaf);
    EXPECT_EQ(fuzz_entry::runBmpLoad(notABitmap.data(), notABitmap.size()), nullptr);
    EXPECT_EQ(iplGetErrorMode(), IPL_ErrModeLeaf);
    EXPECT_EQ(iplGetStatus(), IPL_StsOk);
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegressionTest,
                         ::testing::Values(Target{"bmpLoad", fuzz_entry::runBmpLoad},
                                           Target{"imageRun", fuzz_entry::runImageRun},
                                           Target{"jpegEncode", fuzz_entry::runJpegEncode},
                                           Target{"qmModel", fuzz_entry::runQmModel}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
