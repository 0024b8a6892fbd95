// The output file through the real binary, in both modes: it is replaced whole on success and
// left exactly as it was on every failure (a full disk, an unwritable folder, an input that
// does not load, an interruption), with no temporary file left behind; and the output may be
// one of the run's own inputs.
#include "model/qmFileBuilder.h"

#include "support/dibBuilder.h"
#include "support/faultInputs.h"
#include "support/printAsName.h"
#include "support/runProcess.h"
#include "support/testFiles.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using testing_support::Bytes;
using testing_support::ProcessResult;
using testing_support::readFile;
using testing_support::runQmjpeg;
using testing_support::ScratchDir;
using testing_support::writeFile;

const Bytes kOldOutput{'o', 'l', 'd', ' ', 'o', 'u', 't', 'p', 'u', 't'};

// A 24-bit bitmap of noise: it compresses badly, so its JPEG is large.
Bytes noiseBitmap(int width, int height, std::uint32_t seed) {
    dib_builder::DibFields spec;
    spec.width = width;
    spec.height = height;
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    spec.pixels.resize(rowBytes * static_cast<std::size_t>(height));
    for (auto& byte : spec.pixels) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    return dib_builder::buildBmpFile(spec);
}

Bytes modelWithImage(std::size_t imageSize) {
    qm_test::QmFileSpec spec;
    spec.vectors = {{{1000}, {}, {}, {}}};
    spec.records.push_back(qm_test::QmRecordSpec{{{{3000}, {}, {}, {}}}, 7});
    spec.imageFlag = 1;
    spec.image.resize(imageSize);
    for (std::size_t i = 0; i < imageSize; ++i) {
        spec.image[i] = static_cast<std::uint8_t>(i * 131 + i / 7);
    }
    return qm_test::buildQmFile(spec);
}

// Everything in a folder except `ignored`: the file names, to show that nothing was left.
std::vector<std::string> entriesOf(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool holdsTemporaryFile(const std::filesystem::path& folder) {
    for (const auto& name : entriesOf(folder)) {
        if (name.starts_with(".qmjpeg-")) {
            return true;
        }
    }
    return false;
}

// A small file system of `bytes` mounted on a fresh folder while alive (root only).
class SmallFileSystem {
public:
    SmallFileSystem(const ScratchDir& dir, std::size_t bytes) : path_(dir.file("small")) {
        std::filesystem::create_directory(path_);
        const std::string options = "size=" + std::to_string(bytes);
        mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallFileSystem() {
        if (mounted_) {
            ::umount2(path_.c_str(), MNT_DETACH);
        }
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    bool mounted() const { return mounted_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    bool mounted_ = false;
};

std::size_t pagesAbove(std::size_t bytes) {
    return (bytes + 4095) / 4096 * 4096 + 4096;
}

// --- Failures: the existing output survives ---------------------------------------------------

enum class Mode { Model, Image };
// DiskFullThroughProc names the output through /proc/self/root, a path of the process's own.
enum class Fault { DiskFull, DiskFullThroughProc, UnwritableFolder, LoadError };

struct FaultCase {
    const char* name;
    Mode mode;
    Fault fault;
    const char* message;
};
PRINT_CASE_AS_NAME(FaultCase)

class OutputFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(OutputFaultTest, ExistingOutputSurvivesAndNothingIsLeft) {
    const FaultCase& c = GetParam();
    ScratchDir dir;
    ::chmod(dir.path().c_str(), 0777);
    const std::string model = dir.file("model.qm");
    const std::string source = dir.file("source.bmp");
    const std::string finalImage = dir.file("final.bmp");
    const bool diskFull = c.fault == Fault::DiskFull || c.fault == Fault::DiskFullThroughProc;
    writeFile(model, modelWithImage(diskFull ? 200000 : 3000));
    writeFile(source, noiseBitmap(256, 256, 1));
    writeFile(finalImage, noiseBitmap(256, 256, 2));

    std::optional<SmallFileSystem> small;
    std::string folder = dir.file("out");
    bool asUser = false;
    switch (c.fault) {
    case Fault::DiskFull:
    case Fault::DiskFullThroughProc:
        small.emplace(dir, 64 * 1024);
        if (!small->mounted()) {
            GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
        }
        folder = small->path();
        break;
    case Fault::UnwritableFolder:
        std::filesystem::create_directory(folder);
        asUser = true;
        break;
    case Fault::LoadError:
        std::filesystem::create_directory(folder);
        writeFile(c.mode == Mode::Model ? model : finalImage, Bytes{'B', 'M', 0});
        break;
    }
    const std::string output = folder + "/out.jpg";
    writeFile(output, kOldOutput);
    ::chmod(output.c_str(), 0666);
    if (c.fault == Fault::UnwritableFolder) {
        ::chmod(folder.c_str(), 0555); // the output itself stays writable
    }
    struct stat before {};
    ASSERT_EQ(::stat(output.c_str(), &before), 0);

    const std::string named =
        c.fault == Fault::DiskFullThroughProc ? "/proc/self/root" + output : output;
    const std::vector<std::string> args =
        c.mode == Mode::Model ? std::vector<std::string>{"-f", model, named}
                              : std::vector<std::string>{"-i", source, finalImage, named};
    bool skipped = false;
    const ProcessResult result = testing_support::runQmjpegMaybeAsUser(args, asUser, skipped);
    if (skipped) {
        GTEST_SKIP() << testing_support::kAsUserSkipReason;
    }
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, c.message);
    EXPECT_EQ(readFile(output), kOldOutput);
    struct stat after {};
    ASSERT_EQ(::stat(output.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(entriesOf(folder), std::vector<std::string>{"out.jpg"});
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OutputFaultTest,
    ::testing::Values(
        FaultCase{"modelDiskFull", Mode::Model, Fault::DiskFull, "Unable to create output file.\n"},
        FaultCase{"imageDiskFull", Mode::Image, Fault::DiskFull, "Unable to create output file.\n"},
        FaultCase{"modelDiskFullThroughProc", Mode::Model, Fault::DiskFullThroughProc,
                  "Unable to create output file.\n"},
        FaultCase{"imageDiskFullThroughProc", Mode::Image, Fault::DiskFullThroughProc,
                  "Unable to create output file.\n"},
        FaultCase{"modelUnwritableFolder", Mode::Model, Fault::UnwritableFolder,
                  "Unable to create output file.\n"},
        FaultCase{"imageUnwritableFolder", Mode::Image, Fault::UnwritableFolder,
                  "Unable to create output file.\n"},
        FaultCase{"modelLoadError", Mode::Model, Fault::LoadError, "Unable to load QM file.\n"},
        FaultCase{"imageLoadError", Mode::Image, Fault::LoadError, "Unable to load final image\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The output is one of the inputs -----------------------------------------------------------

enum class Alias { Source, Final, SymlinkToSource, HardLinkToSource, Model };

struct AliasCase {
    const char* name;
    Alias alias;
};
PRINT_CASE_AS_NAME(AliasCase)

class OutputIsInputTest : public ::testing::TestWithParam<AliasCase> {
protected:
    void SetUp() override {
        writeFile(model, modelWithImage(5000));
        writeFile(source, noiseBitmap(64, 48, 3));
        writeFile(finalImage, noiseBitmap(64, 48, 4));
    }
    bool modelMode() const { return GetParam().alias == Alias::Model; }
    // The JPEG that a run with a separate output writes.
    Bytes reference() {
        const std::string separate = dir.file("separate.jpg");
        const ProcessResult run = modelMode() ? runQmjpeg({"-f", model, separate})
                                              : runQmjpeg({"-i", source, finalImage, separate});
        EXPECT_EQ(run.exitStatus, 0);
        const Bytes bytes = readFile(separate);
        std::filesystem::remove(separate);
        return bytes;
    }
    // Makes the output path for the case; `replaced` is the file whose content changes.
    std::string outputFor(Alias alias, std::string& replaced) {
        replaced = source;
        switch (alias) {
        case Alias::Source:
            return source;
        case Alias::Final:
            replaced = finalImage;
            return finalImage;
        case Alias::SymlinkToSource:
            std::filesystem::create_symlink("source.bmp", dir.file("link.jpg"));
            return dir.file("link.jpg");
        case Alias::HardLinkToSource:
            std::filesystem::create_hard_link(source, dir.file("hard.jpg"));
            replaced = dir.file("hard.jpg");
            return replaced;
        case Alias::Model:
            replaced = model;
            return model;
        }
        return {};
    }

    ScratchDir dir;
    std::string model = dir.file("model.qm");
    std::string source = dir.file("source.bmp");
    std::string finalImage = dir.file("final.bmp");
};

TEST_P(OutputIsInputTest, SucceedsWithTheSameBytesAsASeparateOutput) {
    const Bytes expected = reference();
    ASSERT_FALSE(expected.empty());
    const Bytes sourceBefore = readFile(source);
    std::string replaced;
    const std::string output = outputFor(GetParam().alias, replaced);
    const ProcessResult run = modelMode() ? runQmjpeg({"-f", model, output})
                                          : runQmjpeg({"-i", source, finalImage, output});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(readFile(replaced), expected);
    switch (GetParam().alias) {
    case Alias::SymlinkToSource:
        EXPECT_TRUE(std::filesystem::is_symlink(output)) << "the link is kept";
        break;
    case Alias::HardLinkToSource:
        EXPECT_EQ(readFile(source), sourceBefore) << "the other name keeps the old file";
        break;
    default:
        break;
    }
    EXPECT_FALSE(holdsTemporaryFile(dir.path()));
}

INSTANTIATE_TEST_SUITE_P(Aliases, OutputIsInputTest,
                         ::testing::Values(AliasCase{"source", Alias::Source},
                                           AliasCase{"final", Alias::Final},
                                           AliasCase{"symlinkToSource", Alias::SymlinkToSource},
                                           AliasCase{"hardLinkToSource", Alias::HardLinkToSource},
                                           AliasCase{"model", Alias::Model}),
                         [](const auto& info) { return std::string(info.param.name); });

struct FullDiskAliasCase {
    const char* name;
    Mode mode;
};
PRINT_CASE_AS_NAME(FullDiskAliasCase)

class OutputIsInputOnAFullDiskTest : public ::testing::TestWithParam<FullDiskAliasCase> {};

TEST_P(OutputIsInputOnAFullDiskTest, InputSurvivesIntact) {
    ScratchDir dir;
    const bool modelMode = GetParam().mode == Mode::Model;
    const Bytes input = modelMode ? modelWithImage(40000) : noiseBitmap(128, 128, 5);
    // Room for the input and one page more: too little for the output.
    SmallFileSystem small(dir, pagesAbove(input.size()));
    if (!small.mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    }
    const std::string path = small.file(modelMode ? "model.qm" : "source.bmp");
    writeFile(path, input);
    ASSERT_EQ(readFile(path), input);
    const std::string finalImage = dir.file("final.bmp");
    writeFile(finalImage, noiseBitmap(128, 128, 6));
    const ProcessResult run =
        modelMode ? runQmjpeg({"-f", path, path}) : runQmjpeg({"-i", path, finalImage, path});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.output, "Unable to create output file.\n");
    EXPECT_EQ(readFile(path), input);
    EXPECT_EQ(entriesOf(small.path()),
              std::vector<std::string>{modelMode ? "model.qm" : "source.bmp"});
}

INSTANTIATE_TEST_SUITE_P(Modes, OutputIsInputOnAFullDiskTest,
                         ::testing::Values(FullDiskAliasCase{"model", Mode::Model},
                                           FullDiskAliasCase{"source", Mode::Image}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Interruption --------------------------------------------------------------------------------

struct SignalCase {
    const char* name;
    int signal;
};
PRINT_CASE_AS_NAME(SignalCase)

class OutputInterruptTest : public ::testing::TestWithParam<SignalCase> {
protected:
    // One large pair for every signal: about 0.1 s of plain-set encoding, long enough to
    // interrupt once the temporary file has appeared.
    static void SetUpTestSuite() {
        pair_ = new ScratchDir;
        writeFile(pair_->file("source.bmp"), noiseBitmap(3072, 3072, 7));
        writeFile(pair_->file("final.bmp"), noiseBitmap(3072, 3072, 8));
    }
    static void TearDownTestSuite() {
        delete pair_;
        pair_ = nullptr;
    }
    static ScratchDir* pair_;
};

ScratchDir* OutputInterruptTest::pair_ = nullptr;

TEST_P(OutputInterruptTest, RemovesTheTemporaryFileAndEndsByTheSignal) {
    ScratchDir dir;
    const std::string output = dir.file("out.jpg");
    writeFile(output, kOldOutput);
    const std::string source = pair_->file("source.bmp");
    const std::string finalImage = pair_->file("final.bmp");

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv("QMJPEG_USECPU", "0", 1); // the slower plain set widens the window
        testing_support::execTarget(QMJPEG_BINARY,
                                    {QMJPEG_BINARY, "-i", source, finalImage, output});
    }
    bool sent = false;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(child, &status, WNOHANG) == child) {
            break;
        }
        if (!sent && holdsTemporaryFile(dir.path())) {
            ::kill(child, GetParam().signal);
            sent = true;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!WIFSIGNALED(status) && !WIFEXITED(status)) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    ASSERT_TRUE(sent) << "the temporary file never appeared";
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before the signal arrived";
    EXPECT_EQ(WTERMSIG(status), GetParam().signal); // a shell reports 128 + the number
    EXPECT_EQ(readFile(output), kOldOutput);
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"out.jpg"});
}

INSTANTIATE_TEST_SUITE_P(Signals, OutputInterruptTest,
                         ::testing::Values(SignalCase{"terminate", SIGTERM},
                                           SignalCase{"interrupt", SIGINT},
                                           SignalCase{"hangUp", SIGHUP}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
