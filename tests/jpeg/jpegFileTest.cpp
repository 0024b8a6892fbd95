#include "support/testFiles.h"

#include "jpeg/jpegFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using testing_support::Bytes;
using testing_support::readFile;
using testing_support::ScratchDir;

Bytes pattern(std::size_t size) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) {
        b[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    }
    return b;
}

TEST(JpegFile, CreatesWritesAndClosesAFile) {
    ScratchDir dir;
    const std::string path = dir.file("new.jpg");
    const JpegFileHandle file = jpegFileOpen(path.c_str());
    ASSERT_NE(file, kNoJpegFile);
    const Bytes data = pattern(3 << 20);
    std::uint32_t written = 0;
    EXPECT_TRUE(
        jpegFileWrite(file, data.data(), static_cast<std::uint32_t>(data.size()), &written));
    EXPECT_EQ(written, data.size());
    EXPECT_TRUE(jpegFileWrite(file, data.data(), 0, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(jpegFileClose(file));
    EXPECT_EQ(readFile(path), data);
}

TEST(JpegFile, CutsALongerExistingFileToTheNewContent) {
    ScratchDir dir;
    const std::string path = dir.file("old.jpg");
    testing_support::writeFile(path, pattern(10000));
    const JpegFileHandle file = jpegFileOpen(path.c_str());
    ASSERT_NE(file, kNoJpegFile);
    const Bytes data = {1, 2, 3, 4, 5};
    std::uint32_t written = 0;
    ASSERT_TRUE(jpegFileWrite(file, data.data(), 5, &written));
    ASSERT_TRUE(jpegFileClose(file));
    EXPECT_EQ(readFile(path), data);
}

TEST(JpegFile, OpeningLeavesAnEmptyFileEvenWithoutWrites) {
    ScratchDir dir;
    const std::string path = dir.file("old.jpg");
    testing_support::writeFile(path, pattern(100));
    const JpegFileHandle file = jpegFileOpen(path.c_str());
    ASSERT_NE(file, kNoJpegFile);
    ASSERT_TRUE(jpegFileClose(file));
    EXPECT_TRUE(readFile(path).empty());
}

TEST(JpegFile, RefusesPathsThatCannotBeCreated) {
    ScratchDir dir;
    const std::string inMissingFolder = dir.file("missing/out.jpg");
    EXPECT_EQ(jpegFileOpen(inMissingFolder.c_str()), kNoJpegFile);
    EXPECT_EQ(jpegFileOpen(""), kNoJpegFile);
    EXPECT_EQ(jpegFileOpen(dir.path().string().c_str()), kNoJpegFile); // a folder
    EXPECT_EQ(jpegFileOpen(nullptr), kNoJpegFile);
}

TEST(JpegFile, WriteToAFullDeviceFails) {
    const JpegFileHandle file = jpegFileOpen("/dev/full");
    ASSERT_NE(file, kNoJpegFile);
    const Bytes data = pattern(4096);
    std::uint32_t written = 12345;
    EXPECT_FALSE(jpegFileWrite(file, data.data(), 4096, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(jpegFileClose(file));
}

TEST(JpegFile, WriteAndCloseOfAClosedHandleFail) {
    ScratchDir dir;
    const JpegFileHandle file = jpegFileOpen(dir.file("x.jpg").c_str());
    ASSERT_NE(file, kNoJpegFile);
    ASSERT_TRUE(jpegFileClose(file));
    const std::uint8_t byte = 0;
    std::uint32_t written = 0;
    EXPECT_FALSE(jpegFileWrite(file, &byte, 1, &written));
    EXPECT_FALSE(jpegFileClose(file));
    EXPECT_FALSE(jpegFileClose(kNoJpegFile));
}

} // namespace
