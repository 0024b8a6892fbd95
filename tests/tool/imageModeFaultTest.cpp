// Whole-program fault handling of the -i mode: unusable bitmaps (source or final) and unusable
// outputs end with the documented message and status 1, leave nothing behind that the failed
// run wrote, and leave an existing output file alone when the run fails before encoding.
#include "support/dibBuilder.h"
#include "support/faultInputs.h"
#include "support/printAsName.h"
#include "support/runProcess.h"
#include "support/testFiles.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using dib_builder::buildBmpFile;
using dib_builder::solid24;
using testing_support::Bytes;
using testing_support::fileExists;
using testing_support::ProcessResult;
using testing_support::readFile;
using testing_support::runQmjpeg;
using testing_support::ScratchDir;
using testing_support::writeFile;

const Bytes kOldOutput{'o', 'l', 'd', ' ', 'o', 'u', 't', 'p', 'u', 't'};

using Input = testing_support::FaultyInput;
enum class Role { Source, Final };

struct InputCase {
    const char* name;
    Role role;
    Input kind;
};
PRINT_CASE_AS_NAME(InputCase)

// A usable bitmap in `dir`.
std::string goodBitmap(const ScratchDir& dir, const std::string& name) {
    const std::string path = dir.file(name);
    writeFile(path, buildBmpFile(solid24(16, 16, 0x336699)));
    return path;
}

std::string prepareInput(const ScratchDir& dir, Input kind) {
    return testing_support::prepareFaultyInput(dir, kind, buildBmpFile(solid24(16, 16, 0x336699)),
                                               "faulty.bmp");
}

ProcessResult run(const std::vector<std::string>& args, bool asUser, bool& skipped) {
    return testing_support::runQmjpegMaybeAsUser(args, asUser, skipped);
}

struct FileStamp {
    bool exists = false;
    ino_t inode = 0;
    timespec modified{};
    Bytes contents;
};

FileStamp stamp(const std::string& path) {
    FileStamp s;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        s.exists = true;
        s.inode = info.st_ino;
        s.modified = info.st_mtim;
        if (S_ISREG(info.st_mode)) {
            s.contents = readFile(path); // devices such as /dev/full never end
        }
    }
    return s;
}

void expectSame(const FileStamp& before, const FileStamp& after) {
    EXPECT_EQ(after.exists, before.exists);
    EXPECT_EQ(after.inode, before.inode);
    EXPECT_EQ(after.modified.tv_sec, before.modified.tv_sec);
    EXPECT_EQ(after.modified.tv_nsec, before.modified.tv_nsec);
    EXPECT_EQ(after.contents, before.contents);
}

class ImageInputFaultTest : public ::testing::TestWithParam<InputCase> {
protected:
    // Runs with the faulty bitmap in its role and a good one in the other.
    ProcessResult runWithFault(const std::string& output, bool& skipped) {
        ::chmod(dir.path().c_str(), 0777);
        const std::string good = goodBitmap(dir, "good.bmp");
        const std::string faulty = prepareInput(dir, GetParam().kind);
        const bool source = GetParam().role == Role::Source;
        return run({"-i", source ? faulty : good, source ? good : faulty, output},
                   GetParam().kind == Input::Unreadable, skipped);
    }
    std::string expectedMessage() const {
        return GetParam().role == Role::Source ? "Unable to load src image\n"
                                               : "Unable to load final image\n";
    }

    ScratchDir dir;
};

TEST_P(ImageInputFaultTest, FailsToLoadAndCreatesNoOutput) {
    const std::string output = dir.file("out.jpg");
    bool skipped = false;
    const ProcessResult result = runWithFault(output, skipped);
    if (skipped) {
        GTEST_SKIP() << testing_support::kAsUserSkipReason;
    }
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, expectedMessage());
    EXPECT_FALSE(fileExists(output));
}

TEST_P(ImageInputFaultTest, FailsToLoadAndLeavesAnExistingOutputAlone) {
    const std::string output = dir.file("out.jpg");
    writeFile(output, kOldOutput);
    ::chmod(output.c_str(), 0666);
    const FileStamp before = stamp(output);
    bool skipped = false;
    const ProcessResult result = runWithFault(output, skipped);
    if (skipped) {
        GTEST_SKIP() << testing_support::kAsUserSkipReason;
    }
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, expectedMessage());
    expectSame(before, stamp(output));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ImageInputFaultTest,
    ::testing::Values(InputCase{"sourceFolder", Role::Source, Input::Folder},
                      InputCase{"sourceEmptyFile", Role::Source, Input::Empty},
                      InputCase{"sourceDevNull", Role::Source, Input::DevNull},
                      InputCase{"sourceVanishedFile", Role::Source, Input::DanglingLink},
                      InputCase{"sourceUnreadableFile", Role::Source, Input::Unreadable},
                      InputCase{"finalFolder", Role::Final, Input::Folder},
                      InputCase{"finalEmptyFile", Role::Final, Input::Empty},
                      InputCase{"finalDevNull", Role::Final, Input::DevNull},
                      InputCase{"finalVanishedFile", Role::Final, Input::DanglingLink},
                      InputCase{"finalUnreadableFile", Role::Final, Input::Unreadable}),
    [](const auto& info) { return std::string(info.param.name); });

enum class Output { DevFull, Folder, MissingFolder, BelowAFile, ReadOnlyFile };

struct OutputCase {
    const char* name;
    Output kind;
};
PRINT_CASE_AS_NAME(OutputCase)

class ImageOutputFaultTest : public ::testing::TestWithParam<OutputCase> {};

TEST_P(ImageOutputFaultTest, IsReportedAndLeavesNothingBehind) {
    ScratchDir dir;
    ::chmod(dir.path().c_str(), 0777);
    const std::string source = goodBitmap(dir, "source.bmp");
    const std::string finalImage = goodBitmap(dir, "final.bmp");
    std::string output;
    bool asUser = false;
    switch (GetParam().kind) {
    case Output::DevFull:
        output = "/dev/full";
        break;
    case Output::Folder:
        output = dir.file("folder");
        std::filesystem::create_directory(output);
        break;
    case Output::MissingFolder:
        output = dir.file("missing/out.jpg");
        break;
    case Output::BelowAFile:
        writeFile(dir.file("plain"), Bytes{1});
        output = dir.file("plain/out.jpg");
        break;
    case Output::ReadOnlyFile:
        output = dir.file("out.jpg");
        writeFile(output, kOldOutput);
        ::chmod(output.c_str(), 0444);
        asUser = true;
        break;
    }
    const FileStamp before = stamp(output);
    bool skipped = false;
    const ProcessResult result = run({"-i", source, finalImage, output}, asUser, skipped);
    if (skipped) {
        GTEST_SKIP() << testing_support::kAsUserSkipReason;
    }
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Unable to create output file.\n");

    switch (GetParam().kind) {
    case Output::DevFull: {
        struct stat info {};
        ASSERT_EQ(::stat("/dev/full", &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << "the device must never be removed";
        break;
    }
    case Output::Folder:
        EXPECT_TRUE(std::filesystem::is_directory(output));
        EXPECT_TRUE(std::filesystem::is_empty(output));
        break;
    case Output::MissingFolder:
        EXPECT_FALSE(fileExists(dir.file("missing")));
        break;
    case Output::BelowAFile:
        EXPECT_EQ(readFile(dir.file("plain")), Bytes{1});
        break;
    case Output::ReadOnlyFile:
        expectSame(before, stamp(output));
        break;
    }
    // The inputs are never touched, and nothing else appears beside them.
    EXPECT_EQ(readFile(source), buildBmpFile(solid24(16, 16, 0x336699)));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
    }
    const std::size_t expected =
        GetParam().kind == Output::DevFull || GetParam().kind == Output::MissingFolder ? 2 : 3;
    EXPECT_EQ(entries, expected);
}

INSTANTIATE_TEST_SUITE_P(Outputs, ImageOutputFaultTest,
                         ::testing::Values(OutputCase{"devFull", Output::DevFull},
                                           OutputCase{"folder", Output::Folder},
                                           OutputCase{"missingFolder", Output::MissingFolder},
                                           OutputCase{"belowAFile", Output::BelowAFile},
                                           OutputCase{"readOnlyFile", Output::ReadOnlyFile}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
