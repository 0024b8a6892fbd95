// OutputFile and writeWholeFile: what ends up on disk for each kind of output path, with which
// permissions, and what is left when a write is abandoned.
#include "util/outputFile.h"

#include "support/printAsName.h"

#include "support/testFiles.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testing_support::Bytes;
using testing_support::readFile;
using testing_support::ScratchDir;
using testing_support::writeFile;

const Bytes kOld{'o', 'l', 'd'};
const Bytes kNew{'n', 'e', 'w', ' ', 'c', 'o', 'n', 't', 'e', 'n', 't'};

std::size_t entryCount(const std::filesystem::path& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++n;
    }
    return n;
}

mode_t permissionsOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Sets the umask for the life of the object.
class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : saved_(::umask(mask)) {}
    ~UmaskScope() { ::umask(saved_); }

private:
    mode_t saved_;
};

enum class Path { New, Existing, SymlinkToExisting, DanglingSymlink, Folder, MissingFolder };

struct PathCase {
    const char* name;
    Path kind;
    bool written;        // writeWholeFile succeeds
    std::size_t entries; // files in the scratch folder afterwards
};
PRINT_CASE_AS_NAME(PathCase)

class OutputPathTest : public ::testing::TestWithParam<PathCase> {
protected:
    ScratchDir dir;
};

TEST_P(OutputPathTest, WritesTheWholeContentOrChangesNothing) {
    const PathCase& c = GetParam();
    std::string output = dir.file("out.jpg");
    std::string target = output; // the file whose content is replaced
    switch (c.kind) {
    case Path::New:
        break;
    case Path::Existing:
        writeFile(output, kOld);
        break;
    case Path::SymlinkToExisting:
        target = dir.file("target.jpg");
        writeFile(target, kOld);
        std::filesystem::create_symlink("target.jpg", output);
        break;
    case Path::DanglingSymlink:
        target = dir.file("target.jpg");
        std::filesystem::create_symlink("target.jpg", output);
        break;
    case Path::Folder:
        std::filesystem::create_directory(output);
        break;
    case Path::MissingFolder:
        output = dir.file("missing/out.jpg");
        break;
    }
    EXPECT_EQ(writeWholeFile(output, kNew.data(), kNew.size()).ok(), c.written);
    if (c.written) {
        EXPECT_EQ(readFile(target), kNew);
    }
    if (c.kind == Path::SymlinkToExisting || c.kind == Path::DanglingSymlink) {
        EXPECT_TRUE(std::filesystem::is_symlink(output)) << "the link is kept";
    }
    if (c.kind == Path::Folder) {
        EXPECT_TRUE(std::filesystem::is_empty(output));
    }
    EXPECT_EQ(entryCount(dir.path()), c.entries);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, OutputPathTest,
    ::testing::Values(PathCase{"newFile", Path::New, true, 1},
                      PathCase{"existingFile", Path::Existing, true, 1},
                      PathCase{"symlinkToExisting", Path::SymlinkToExisting, true, 2},
                      PathCase{"danglingSymlink", Path::DanglingSymlink, true, 2},
                      PathCase{"folder", Path::Folder, false, 1},
                      PathCase{"missingFolder", Path::MissingFolder, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OutputFileTest, NewFileGetsTheUmaskPermissionsAndAReplacedFileKeepsItsOwn) {
    ScratchDir dir;
    const std::string fresh = dir.file("fresh.jpg");
    const std::string kept = dir.file("kept.jpg");
    writeFile(kept, kOld);
    ::chmod(kept.c_str(), 0640);
    {
        UmaskScope mask(027);
        ASSERT_TRUE(writeWholeFile(fresh, kNew.data(), kNew.size()));
        ASSERT_TRUE(writeWholeFile(kept, kNew.data(), kNew.size()));
    }
    EXPECT_EQ(permissionsOf(fresh), 0640u); // 0666 less the umask
    {
        UmaskScope mask(0);
        ASSERT_TRUE(writeWholeFile(kept, kNew.data(), kNew.size()));
    }
    EXPECT_EQ(permissionsOf(kept), 0640u) << "not the umask's 0666";
    EXPECT_EQ(readFile(kept), kNew);
}

TEST(OutputFileTest, ContentGoesToAHiddenFileBesideTheOutputUntilCommitted) {
    ScratchDir dir;
    const std::string output = dir.file("out.jpg");
    writeFile(output, kOld);
    struct stat before {};
    ASSERT_EQ(::stat(output.c_str(), &before), 0);
    OutputFile file(output);
    ASSERT_TRUE(file.prepare());
    const std::filesystem::path temp(file.writePath());
    EXPECT_EQ(temp.parent_path(), dir.path());
    EXPECT_TRUE(temp.filename().string().starts_with(".qmjpeg-"));
    EXPECT_TRUE(std::filesystem::exists(temp));
    writeFile(file.writePath(), kNew);
    EXPECT_EQ(readFile(output), kOld) << "untouched until the commit";
    ASSERT_TRUE(file.commit());
    EXPECT_EQ(readFile(output), kNew);
    EXPECT_FALSE(std::filesystem::exists(temp));
    struct stat after {};
    ASSERT_EQ(::stat(output.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "a new file took the old one's place";
}

TEST(OutputFileTest, AbandonedWriteRemovesItsTemporaryFileAndKeepsTheOutput) {
    ScratchDir dir;
    const std::string output = dir.file("out.jpg");
    writeFile(output, kOld);
    std::string temp;
    {
        OutputFile file(output);
        ASSERT_TRUE(file.prepare());
        temp = file.writePath();
        writeFile(temp, kNew);
    }
    EXPECT_FALSE(std::filesystem::exists(temp));
    EXPECT_EQ(readFile(output), kOld);
    EXPECT_EQ(entryCount(dir.path()), 1u);
}

TEST(OutputFileTest, ReplacedTemporaryFileIsNotCommitted) {
    // The name must still lead to the file created for it; a file put in its place is not
    // renamed over the output.
    ScratchDir dir;
    const std::string output = dir.file("out.jpg");
    writeFile(output, kOld);
    OutputFile file(output);
    ASSERT_TRUE(file.prepare());
    std::filesystem::remove(file.writePath());
    writeFile(file.writePath(), kNew);
    EXPECT_FALSE(file.commit());
    EXPECT_EQ(readFile(output), kOld);
    EXPECT_EQ(entryCount(dir.path()), 1u);
}

TEST(OutputFileTest, TwoWritersOfOneOutputGetDifferentTemporaryFiles) {
    ScratchDir dir;
    OutputFile first(dir.file("out.jpg"));
    OutputFile second(dir.file("out.jpg"));
    ASSERT_TRUE(first.prepare());
    ASSERT_TRUE(second.prepare());
    EXPECT_NE(first.writePath(), second.writePath());
}

TEST(OutputFileTest, DevicesAreWrittenInPlace) {
    OutputFile null("/dev/null");
    ASSERT_TRUE(null.prepare());
    EXPECT_EQ(null.writePath(), "/dev/null");
    EXPECT_TRUE(null.commit());
    EXPECT_TRUE(writeWholeFile("/dev/null", kNew.data(), kNew.size()));
    if (::access("/dev/full", W_OK) == 0) {
        EXPECT_FALSE(writeWholeFile("/dev/full", kNew.data(), kNew.size()));
        struct stat info {};
        ASSERT_EQ(::stat("/dev/full", &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode)) << "the device is never removed";
    }
}

TEST(OutputFileTest, EmptyPathIsRefused) {
    OutputFile file("");
    EXPECT_FALSE(file.prepare());
    EXPECT_FALSE(file.commit());
}

} // namespace
