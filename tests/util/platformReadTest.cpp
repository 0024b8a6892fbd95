// Reading through the platform layer: positional reads at any offset, short only at the end,
// the file position untouched; streams front to back; facts of open files.
#include "support/testFiles.h"
#include "util/platformFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using testing_support::Bytes;
using testing_support::ScratchDir;
using testing_support::writeFile;

TEST(PlatformReadTest, ReadsAtOffsetsAndStopsAtTheEnd) {
    ScratchDir dir;
    Bytes content;
    for (int i = 0; i < 5000; ++i) {
        content.push_back(static_cast<std::uint8_t>(i * 7));
    }
    writeFile(dir.file("f"), content);
    const platform::FileHandle file = platform::openForReading(dir.file("f"));
    ASSERT_NE(file, platform::kNoFile);
    platform::FileFacts facts;
    ASSERT_TRUE(platform::fileFacts(file, facts));
    EXPECT_EQ(facts.kind, platform::FileKind::Regular);
    EXPECT_EQ(facts.size, 5000u);
    Bytes buffer(100);
    ASSERT_EQ(platform::readAt(file, 4000, buffer.data(), 100), 100);
    EXPECT_EQ(Bytes(content.begin() + 4000, content.begin() + 4100), buffer);
    ASSERT_EQ(platform::readAt(file, 4950, buffer.data(), 100), 50);
    EXPECT_EQ(Bytes(content.begin() + 4950, content.end()),
              Bytes(buffer.begin(), buffer.begin() + 50));
    EXPECT_EQ(platform::readAt(file, 6000, buffer.data(), 100), 0);
    // The positional reads left the file position at the start.
    ASSERT_EQ(platform::readNext(file, buffer.data(), 3), 3);
    EXPECT_EQ(Bytes(content.begin(), content.begin() + 3),
              Bytes(buffer.begin(), buffer.begin() + 3));
    EXPECT_TRUE(platform::closeFile(file));
}

TEST(PlatformReadTest, PipesFoldersAndMissingFiles) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "abc", 3), 3);
    ::close(fds[1]);
    platform::FileFacts facts;
    ASSERT_TRUE(platform::fileFacts(fds[0], facts));
    EXPECT_EQ(facts.kind, platform::FileKind::Other);
    char bytes[8] = {};
    EXPECT_EQ(platform::readAt(fds[0], 0, bytes, 1), -1); // a pipe cannot be read at an offset
    EXPECT_EQ(platform::readNext(fds[0], bytes, sizeof bytes), 3);
    EXPECT_EQ(std::string(bytes, 3), "abc");
    ::close(fds[0]);
    EXPECT_EQ(platform::openForReading("/nonexistent/file"), platform::kNoFile);
    const platform::FileHandle folder = platform::openForReading("/");
    ASSERT_NE(folder, platform::kNoFile);
    ASSERT_TRUE(platform::fileFacts(folder, facts));
    EXPECT_EQ(facts.kind, platform::FileKind::Directory);
    EXPECT_EQ(platform::readNext(folder, bytes, 1), -1);
    platform::closeFile(folder);
}

} // namespace
