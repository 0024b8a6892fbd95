// Output paths that name one of the tool's open descriptors, through the real binary: the JPEG
// goes through that descriptor at its current position, after what the file already held, and
// the file is neither cut nor replaced ({ echo A; qmjpeg ... /dev/stdout; echo B; } > f).
#include "model/qmFileBuilder.h"

#include "support/dibBuilder.h"
#include "support/runProcess.h"
#include "support/testFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

using testing_support::Bytes;
using testing_support::readFile;
using testing_support::ScratchDir;
using testing_support::writeFile;

enum class Mode { Model, Image };
enum class Opening { Append, Positioned }; // '>> f' on a file holding "A\n", or '> f' after "A\n"

inline void PrintTo(Mode mode, std::ostream* out) {
    *out << (mode == Mode::Model ? "-f" : "-i");
}
inline void PrintTo(Opening opening, std::ostream* out) {
    *out << (opening == Opening::Append ? "appending" : "positioned");
}

using DescriptorCase = std::tuple<Mode, const char*, Opening>;

// Runs the tool with standard output on `fd`; its exit status.
int runWithStdout(int fd, const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fd, 1);
        std::vector<std::string> argv{QMJPEG_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        testing_support::execTarget(QMJPEG_BINARY, argv);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class OutputDescriptorTest : public ::testing::TestWithParam<DescriptorCase> {};

TEST_P(OutputDescriptorTest, WritesAtTheDescriptorsPositionWithoutCutting) {
    const auto [mode, path, opening] = GetParam();
    ScratchDir dir;
    std::vector<std::string> args;
    if (mode == Mode::Model) {
        qm_test::QmFileSpec spec;
        spec.imageFlag = 1;
        spec.image = Bytes{0xFF, 0xD8, 1, 2, 3, 0xFF, 0xD9};
        writeFile(dir.file("m.qm"), qm_test::buildQmFile(spec));
        args = {"-f", dir.file("m.qm")};
    } else {
        writeFile(dir.file("a.bmp"),
                  dib_builder::buildBmpFile(dib_builder::solid24(9, 5, 0x406080)));
        writeFile(dir.file("b.bmp"),
                  dib_builder::buildBmpFile(dib_builder::solid24(9, 5, 0x80A0C0)));
        args = {"-i", dir.file("a.bmp"), dir.file("b.bmp")};
    }
    std::vector<std::string> plain = args;
    plain.push_back(dir.file("plain.jpg"));
    ASSERT_EQ(testing_support::runQmjpeg(plain).exitStatus, 0);
    const Bytes jpeg = readFile(dir.file("plain.jpg"));

    const std::string log = dir.file("log");
    int fd = -1;
    if (opening == Opening::Append) {
        writeFile(log, std::string("A\n"));
        fd = ::open(log.c_str(), O_WRONLY | O_APPEND);
    } else {
        fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_EQ(::write(fd, "A\n", 2), 2);
    }
    ASSERT_GE(fd, 0);
    args.push_back(path);
    EXPECT_EQ(runWithStdout(fd, args), 0);
    ASSERT_EQ(::write(fd, "B\n", 2), 2); // what the shell writes next lands after the JPEG
    ::close(fd);

    Bytes expected{'A', '\n'};
    expected.insert(expected.end(), jpeg.begin(), jpeg.end());
    expected.insert(expected.end(), {'B', '\n'});
    EXPECT_EQ(readFile(log), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, OutputDescriptorTest,
    ::testing::Combine(::testing::Values(Mode::Model, Mode::Image),
                       ::testing::Values("/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"),
                       ::testing::Values(Opening::Append, Opening::Positioned)),
    [](const ::testing::TestParamInfo<DescriptorCase>& info) {
        std::string name = std::get<0>(info.param) == Mode::Model ? "model_" : "image_";
        for (const char* c = std::get<1>(info.param); *c != '\0'; ++c) {
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        }
        return name + (std::get<2>(info.param) == Opening::Append ? "_append" : "_positioned");
    });

} // namespace
