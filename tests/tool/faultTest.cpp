// Whole-program fault handling: unusable inputs and outputs end with the documented message
// and status, and leave nothing behind.
#include "model/qmFileBuilder.h"

#include "support/faultInputs.h"
#include "support/printAsName.h"
#include "support/runProcess.h"
#include "support/testFiles.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testing_support::Bytes;
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::runQmjpeg;
using testing_support::ScratchDir;
using testing_support::writeFile;

Bytes modelWithImage() {
    qm_test::QmFileSpec spec;
    spec.imageFlag = 1;
    spec.image = Bytes(3000, 0x5A);
    return qm_test::buildQmFile(spec);
}

using Input = testing_support::FaultyInput;

struct InputCase {
    const char* name;
    Input kind;
};
PRINT_CASE_AS_NAME(InputCase)

class ModelInputFaultTest : public ::testing::TestWithParam<InputCase> {};

TEST_P(ModelInputFaultTest, FailsToLoadAndCreatesNoOutput) {
    ScratchDir dir;
    const std::string input =
        testing_support::prepareFaultyInput(dir, GetParam().kind, modelWithImage(), "input");
    const std::string output = dir.file("out.jpg");
    ::chmod(dir.path().c_str(), 0777);
    bool skipped = false;
    const auto result = testing_support::runQmjpegMaybeAsUser(
        {"-f", input, output}, GetParam().kind == Input::Unreadable, skipped);
    if (skipped) {
        GTEST_SKIP() << testing_support::kAsUserSkipReason;
    }
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Unable to load QM file.\n");
    EXPECT_FALSE(fileExists(output));
}

INSTANTIATE_TEST_SUITE_P(Inputs, ModelInputFaultTest,
                         ::testing::Values(InputCase{"folder", Input::Folder},
                                           InputCase{"emptyFile", Input::Empty},
                                           InputCase{"devNull", Input::DevNull},
                                           InputCase{"vanishedFile", Input::DanglingLink},
                                           InputCase{"unreadableFile", Input::Unreadable}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ModelInputStreamTest, ModelThroughStandardInputLoads) {
    ScratchDir dir;
    const std::string model = dir.file("model.qm");
    const std::string output = dir.file("out.jpg");
    writeFile(model, modelWithImage());
    std::string emulator; // the cross build's emulator, if any, runs the binary in the pipe
    for (const std::string& word : testing_support::emulatorWords()) {
        emulator += "'" + word + "' ";
    }
    const auto result = testing_support::runProcess(
        "/bin/sh", {"sh", "-c", "cat \"$1\" | " + emulator + "\"$2\" -f /dev/stdin \"$3\"", "sh",
                    model, QMJPEG_BINARY, output});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(readFile(output), Bytes(3000, 0x5A));
}

TEST(ModelOutputFaultTest, ReadOnlyOutputFileIsReportedAndKept) {
    ScratchDir dir;
    ::chmod(dir.path().c_str(), 0777);
    const std::string model = dir.file("model.qm");
    const std::string output = dir.file("out.jpg");
    writeFile(model, modelWithImage());
    writeFile(output, std::string("read only"));
    ::chmod(output.c_str(), 0444);
    bool skipped = false;
    const auto result = testing_support::runQmjpegMaybeAsUser({"-f", model, output}, true, skipped);
    if (skipped) {
        GTEST_SKIP() << testing_support::kAsUserSkipReason;
    }
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Unable to create output file.\n");
    EXPECT_EQ(readFile(output), (Bytes{'r', 'e', 'a', 'd', ' ', 'o', 'n', 'l', 'y'}));
}

TEST(ModelOutputFaultTest, OutputBelowARegularFileIsReported) {
    ScratchDir dir;
    const std::string model = dir.file("model.qm");
    writeFile(model, modelWithImage());
    writeFile(dir.file("plain"), Bytes{1});
    const auto result = runQmjpeg({"-f", model, dir.file("plain/out.jpg")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Unable to create output file.\n");
}

} // namespace
