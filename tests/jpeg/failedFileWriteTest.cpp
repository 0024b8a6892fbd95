// A write to a named file that fails after the file was created leaves no file behind; a
// finished one keeps it.
#include "encoderTestSupport.h"
#include "jpeg/jpegRowSource.h"
#include "support/testFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string>

#ifndef _WIN32
#include <sys/resource.h>
#endif

using namespace enc_test;
using testing_support::fileExists;
using testing_support::ScratchDir;

namespace {

// Rows from a whole image, until the band that starts at `failAt` (then none).
class FailingRows final : public JpegRowSource {
public:
    FailingRows(const RgbxImage& image, int failAt) : image_(image), failAt_(failAt) {}
    const std::uint8_t* rows(int, std::int32_t firstRow, std::int32_t) override {
        return firstRow >= failAt_ ? nullptr : image_.pixel(0, firstRow);
    }

private:
    const RgbxImage& image_;
    int failAt_;
};

// Runs `write` with files limited to `bytes` bytes (no limit for 0); a write past the limit
// fails instead of raising its signal.
int withFileSizeLimit(std::uint64_t bytes, const std::function<int()>& write) {
#ifndef _WIN32
    if (bytes != 0) {
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limited);
        const int result = write();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        return result;
    }
#endif
    return write();
}

struct FailedWriteCase {
    const char* name;
    int request;
    int failAtRow;            // the row source's failing band; -1: the whole buffer
    std::uint64_t sizeLimit;  // bytes a file may reach; 0: no limit
    bool interruptAndRelease; // suspend after one MCU, then release unfinished
    bool existingFile;
    int expectedStatus;
    bool fileKept;
};

const FailedWriteCase kCases[] = {
    {"Finished", JPEG_WRITE_FILE_IMAGE, -1, 0, false, true, JPEG_SUCCESS, true},
    {"RowsFailMidway", JPEG_WRITE_FILE_IMAGE, 16, 0, false, false, JPEG_ERR_FILE, false},
    {"RowsFailOverAnOldFile", JPEG_WRITE_FILE_IMAGE, 24, 0, false, true, JPEG_ERR_FILE, false},
    {"ScanRowsFail", JPEG_WRITE_FILE_SCAN, 8, 0, false, false, JPEG_ERR_FILE, false},
    {"SuspendedThenReleased", JPEG_WRITE_FILE_IMAGE, -1, 0, true, false, JPEG_INTERRUPT_SUCCESS,
     false},
#ifndef _WIN32
    {"FileFullMidway", JPEG_WRITE_FILE_IMAGE, -1, 5000, false, false, JPEG_ERR_FILE, false},
    {"FileFullInTheTables", JPEG_WRITE_FILE_TABLES, -1, 300, false, true, JPEG_ERR_FILE, false},
#endif
};

TEST(FailedFileWrite, LeavesNoFileBehind) {
    const RgbxImage image = makeImage(64, 48, 0, randomPixels(9));
    for (const FailedWriteCase& c : kCases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string path = dir.file("out.jpg");
        if (c.existingFile) {
            testing_support::writeFile(path, Bytes(20000, 0x5A));
        }
        Record p = newRecord();
        describe(*p, image, 100);
        p->outputFileName = path.c_str();
        p->state.interruptFlag = c.interruptAndRelease ? 1 : 0;
        FailingRows rows(image, c.failAtRow);
        const int status = withFileSizeLimit(c.sizeLimit, [&] {
            return c.failAtRow < 0 ? jpegWrite(p.get(), c.request)
                                   : jpegWriteRows(p.get(), c.request, &rows);
        });
        EXPECT_EQ(status, c.expectedStatus);
        p.reset(); // jpegRelease
        EXPECT_EQ(fileExists(path), c.fileKept);
    }
}

// A device is written in place and never removed, even when the write fails.
TEST(FailedFileWrite, LeavesADeviceInPlace) {
#ifdef _WIN32
    GTEST_SKIP() << "no device path";
#else
    if (!fileExists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    const RgbxImage image = makeImage(16, 16, 0, randomPixels(10));
    Record p = newRecord();
    describe(*p, image);
    p->outputFileName = "/dev/full";
    EXPECT_EQ(jpegWrite(p.get(), JPEG_WRITE_FILE_IMAGE), JPEG_ERR_FILE);
    EXPECT_TRUE(fileExists("/dev/full"));
#endif
}

} // namespace
