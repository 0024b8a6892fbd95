// Positional reads: bytes at any offset, short only at the end, the file position untouched.
#include "util/positionalRead.h"
#include "support/testFiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using testing_support::Bytes;
using testing_support::ScratchDir;
using testing_support::writeFile;

TEST(PositionalReadTest, ReadsAtOffsetsAndStopsAtTheEnd) {
    ScratchDir dir;
    Bytes content;
    for (int i = 0; i < 5000; ++i) {
        content.push_back(static_cast<std::uint8_t>(i * 7));
    }
    writeFile(dir.file("f"), content);
    InputFile file(dir.file("f"));
    ASSERT_TRUE(file.isOpen());
    EXPECT_EQ(file.seekableSize(), 5000);
    Bytes buffer(100);
    ASSERT_EQ(readAt(file.descriptor(), 4000, buffer.data(), 100), 100);
    EXPECT_EQ(Bytes(content.begin() + 4000, content.begin() + 4100), buffer);
    ASSERT_EQ(readAt(file.descriptor(), 4950, buffer.data(), 100), 50);
    EXPECT_EQ(Bytes(content.begin() + 4950, content.end()),
              Bytes(buffer.begin(), buffer.begin() + 50));
    EXPECT_EQ(readAt(file.descriptor(), 6000, buffer.data(), 100), 0);
    // The stream position stays at the start.
    ASSERT_EQ(file.readNext(buffer.data(), 3), 3);
    EXPECT_EQ(Bytes(content.begin(), content.begin() + 3),
              Bytes(buffer.begin(), buffer.begin() + 3));
}

TEST(PositionalReadTest, PipesAreNotSeekableAndErrorsAreReported) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[1]);
    char byte = 0;
    EXPECT_EQ(readAt(fds[0], 0, &byte, 1), -1);
    ::close(fds[0]);
    InputFile missing("/nonexistent/file");
    EXPECT_FALSE(missing.isOpen());
    EXPECT_FALSE(missing.seekableSize().has_value());
    InputFile folder("/");
    ASSERT_TRUE(folder.isOpen());
    EXPECT_FALSE(folder.seekableSize().has_value());
    EXPECT_EQ(folder.readNext(&byte, 1), -1);
}

} // namespace
