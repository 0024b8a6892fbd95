// Command-line behaviour of the real binary: usage, option handling, the -f mode and its
// failure messages and exit statuses.
#include "model/qmFileBuilder.h"

#include "support/printAsName.h"
#include "support/runProcess.h"
#include "support/testFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testing_support::Bytes;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::runProcess;
using testing_support::runQmjpeg;
using testing_support::ScratchDir;
using testing_support::writeFile;

const std::string kUsageTail = " <-f <qmFile>.qm | -i <srcImg>.bmp <finalImg>.bmp> <output>.jpg\n";

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
};
PRINT_CASE_AS_NAME(UsageCase)

class UsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageTest, PrintsUsageWithTheProgramNameAsInvoked) {
    // argv[0] is passed through unchanged, whatever it looks like.
    for (const std::string& argv0 : {std::string(QMJPEG_BINARY), std::string("odd dir/qm jpeg")}) {
        std::vector<std::string> argv{argv0};
        argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
        const auto result = runProcess(QMJPEG_BINARY, argv);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.output, argv0 + kUsageTail);
        EXPECT_EQ(result.errors, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Arguments, UsageTest,
                         ::testing::Values(UsageCase{"none", {}}, UsageCase{"one", {"-f"}},
                                           UsageCase{"two", {"-f", "model.qm"}},
                                           UsageCase{"upperF", {"-F", "a", "b", "c"}},
                                           UsageCase{"doubleDash", {"--f", "a", "b", "c"}},
                                           UsageCase{"longerOption", {"-ff", "a", "b"}},
                                           UsageCase{"plainWord", {"f", "a", "b"}},
                                           UsageCase{"imageWithTwoFiles",
                                                     {"-i", "missing-src.bmp", "missing-fin.bmp"}}),
                         [](const auto& info) { return std::string(info.param.name); });

class ModelModeTest : public ::testing::Test {
protected:
    ScratchDir dir;
    std::string model = dir.file("model.qm");
    std::string output = dir.file("out.jpg");
};

Bytes jpegLikePayload() {
    Bytes payload{0xFF, 0xD8};
    for (int i = 0; i < 5000; ++i) {
        payload.push_back(static_cast<std::uint8_t>(i * 37));
    }
    payload.push_back(0xFF);
    payload.push_back(0xD9);
    return payload;
}

TEST_F(ModelModeTest, WritesTheEmbeddedImageByteForByteAndSaysNothing) {
    qm_test::QmFileSpec spec;
    spec.vectors = {{{1, 2}, {3}, {}, {4}}};
    spec.records.push_back(qm_test::QmRecordSpec{{{{5, 6}, {7}, {}, {8}}}, 9});
    spec.imageFlag = 1;
    spec.image = jpegLikePayload();
    writeFile(model, qm_test::buildQmFile(spec));
    const auto result = runQmjpeg({"-f", model, output, "ignored", "extra"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(readFile(output), spec.image);
}

TEST_F(ModelModeTest, ModelWithoutImageWritesAnEmptyFile) {
    writeFile(model, qm_test::buildQmFile(qm_test::QmFileSpec{}));
    writeFile(output, std::string("previous content"));
    const auto result = runQmjpeg({"-f", model, output});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_TRUE(fileExists(output));
    EXPECT_TRUE(readFile(output).empty());
}

TEST_F(ModelModeTest, ModelThatFailsToLoadCreatesNoOutput) {
    writeFile(model, std::string("VXQM0001 too short"));
    const auto result = runQmjpeg({"-f", model, output});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Unable to load QM file.\n");
    EXPECT_FALSE(fileExists(output));
}

TEST_F(ModelModeTest, ExistingOutputIsUntouchedWhenTheModelFails) {
    writeFile(output, std::string("keep me"));
    const auto result = runQmjpeg({"-f", dir.file("absent.qm"), output});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Unable to load QM file.\n");
    EXPECT_EQ(readFile(output), (Bytes{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
}

struct BadOutput {
    const char* name;
    std::string path; // relative to the scratch folder unless absolute
};

class ModelModeBadOutputTest : public ModelModeTest,
                               public ::testing::WithParamInterface<BadOutput> {};

TEST_P(ModelModeBadOutputTest, ReportsUnableToCreateAndLeavesNothing) {
    const std::string target =
        GetParam().path[0] == '/' ? GetParam().path : dir.file(GetParam().path);
    if (GetParam().path == "/dev/full" && ::access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    ::mkdir(dir.file("a-folder").c_str(), 0755);
    qm_test::QmFileSpec spec;
    spec.imageFlag = 1;
    spec.image = jpegLikePayload();
    writeFile(model, qm_test::buildQmFile(spec));
    const auto result = runQmjpeg({"-f", model, target});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Unable to create output file.\n");
    if (GetParam().path == "/dev/full") {
        struct stat info {};
        EXPECT_EQ(::stat("/dev/full", &info), 0); // the device is never removed
        EXPECT_TRUE(S_ISCHR(info.st_mode));
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, ModelModeBadOutputTest,
                         ::testing::Values(BadOutput{"missingFolder", "no-such-folder/out.jpg"},
                                           BadOutput{"folder", "a-folder"},
                                           BadOutput{"fullDevice", "/dev/full"},
                                           BadOutput{"emptyName", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
