// Whole-program fault handling: unusable inputs and outputs end with the documented message
// and status, and leave nothing behind.
#include "model/qmFileBuilder.h"
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
using testing_support::runQmjpegAsUser;
using testing_support::ScratchDir;
using testing_support::writeFile;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

Bytes modelWithImage() {
    qm_test::QmFileSpec spec;
    spec.imageFlag = 1;
    spec.image = Bytes(3000, 0x5A);
    return qm_test::buildQmFile(spec);
}

enum class Input { Folder, Empty, DevNull, DanglingLink, Unreadable };

struct InputCase {
    const char* name;
    Input kind;
};

// Prepares the faulty input in `dir` and returns its path; "" when it cannot be set up here.
std::string prepareInput(const ScratchDir& dir, Input kind) {
    const std::string path = dir.file("input");
    switch (kind) {
    case Input::Folder:
        std::filesystem::create_directory(path);
        return path;
    case Input::Empty:
        writeFile(path, Bytes{});
        return path;
    case Input::DevNull:
        return "/dev/null";
    case Input::DanglingLink:
        writeFile(dir.file("gone"), Bytes{1});
        std::filesystem::create_symlink(dir.file("gone"), path);
        std::filesystem::remove(dir.file("gone"));
        return path;
    case Input::Unreadable:
        writeFile(path, modelWithImage());
        ::chmod(path.c_str(), 0);
        return path;
    }
    return "";
}

class ModelInputFaultTest : public ::testing::TestWithParam<InputCase> {};

TEST_P(ModelInputFaultTest, FailsToLoadAndCreatesNoOutput) {
    ScratchDir dir;
    const std::string input = prepareInput(dir, GetParam().kind);
    const std::string output = dir.file("out.jpg");
    testing_support::ProcessResult result;
    if (GetParam().kind == Input::Unreadable) {
        // Root reads any file; the permission only bites for an ordinary user.
        ::chmod(dir.path().c_str(), 0777);
        result = runQmjpegAsUser(kNobody, kNogroup, {"-f", input, output});
        if (result.exitStatus == -2) {
            result = runQmjpeg({"-f", input, output});
            if (::geteuid() == 0) {
                GTEST_SKIP() << "cannot drop privileges here";
            }
        }
    } else {
        result = runQmjpeg({"-f", input, output});
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

TEST(ModelOutputFaultTest, ReadOnlyOutputFileIsReportedAndKept) {
    ScratchDir dir;
    ::chmod(dir.path().c_str(), 0777);
    const std::string model = dir.file("model.qm");
    const std::string output = dir.file("out.jpg");
    writeFile(model, modelWithImage());
    writeFile(output, std::string("read only"));
    ::chmod(output.c_str(), 0444);
    auto result = runQmjpegAsUser(kNobody, kNogroup, {"-f", model, output});
    if (result.exitStatus == -2) {
        if (::geteuid() == 0) {
            GTEST_SKIP() << "cannot drop privileges here";
        }
        result = runQmjpeg({"-f", model, output});
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
