// The one standard-error line of every failure, through the real binary: which path it names
// and the reason, for model loads, outputs and bitmap fields. Standard output and the exit
// status are those the failure always had. In the table, '@' stands for the scratch folder.
#include "model/qmFileBuilder.h"

#include "support/dibBuilder.h"
#include "support/printAsName.h"
#include "support/runProcess.h"
#include "support/testFiles.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using testing_support::Bytes;
using testing_support::ScratchDir;
using testing_support::writeFile;

// A model of 40 records of 24 bytes after a 60-byte start (header and one vector of 10), and
// an embedded image of 100 bytes.
Bytes fortyRecords() {
    qm_test::QmFileSpec spec;
    spec.vectors = {{std::vector<std::int16_t>(10, 5), {}, {}, {}}};
    for (int i = 0; i < 40; ++i) {
        spec.records.push_back(qm_test::QmRecordSpec{{{std::vector<std::int16_t>(10, 7)}}, 1});
    }
    spec.imageFlag = 1;
    spec.image = Bytes(100, 0x55);
    return qm_test::buildQmFile(spec);
}

Bytes prefix(const Bytes& bytes, std::size_t size) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
}

Bytes withSizeField(std::uint32_t value) {
    Bytes file = dib_builder::buildBmpFile(dib_builder::solid24(4, 4, 0x123456));
    for (int i = 0; i < 4; ++i) {
        file[2 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return file;
}

struct LineCase {
    const char* name;
    const char* file; // written into the scratch folder as `content`, when set
    Bytes (*content)();
    std::vector<std::string> args;
    const char* output; // standard output
    const char* line;   // standard error
};
PRINT_CASE_AS_NAME(LineCase)

const Bytes kGood = dib_builder::buildBmpFile(dib_builder::solid24(4, 4, 0x808080));

const LineCase kCases[] = {
    {"modelSignature",
     "m.qm",
     [] {
         Bytes b = fortyRecords();
         b[7] = '2';
         return b;
     },
     {"-f", "@m.qm", "@o.jpg"},
     "Unable to load QM file.\n",
     "qmjpeg: @m.qm: signature is \"VXQM0002\", not \"VXQM0001\"\n"},
    {"modelInSignature",
     "m.qm",
     [] { return prefix(fortyRecords(), 5); },
     {"-f", "@m.qm", "@o.jpg"},
     "Unable to load QM file.\n",
     "qmjpeg: @m.qm: file ends at byte 5 inside the 8-byte signature\n"},
    {"modelInHeader",
     "m.qm",
     [] { return prefix(fortyRecords(), 20); },
     {"-f", "@m.qm", "@o.jpg"},
     "Unable to load QM file.\n",
     "qmjpeg: @m.qm: file ends at byte 20 inside the 40-byte header\n"},
    {"modelInVector",
     "m.qm",
     [] { return prefix(fortyRecords(), 51); },
     {"-f", "@m.qm", "@o.jpg"},
     "Unable to load QM file.\n",
     "qmjpeg: @m.qm: file ends at byte 51 inside coefficient vector 1 of 4\n"},
    {"modelInRecord",
     "m.qm",
     [] { return prefix(fortyRecords(), 60 + 11 * 24 + 5); },
     {"-f", "@m.qm", "@o.jpg"},
     "Unable to load QM file.\n",
     "qmjpeg: @m.qm: file ends at byte 329 inside record 12 of 40\n"},
    {"modelMissing",
     nullptr,
     nullptr,
     {"-f", "@none.qm", "@o.jpg"},
     "Unable to load QM file.\n",
     "qmjpeg: @none.qm: No such file or directory\n"},
    {"nameWithNewline",
     nullptr,
     nullptr,
     {"-f", "@a\nb\x01.qm", "@o.jpg"},
     "Unable to load QM file.\n",
     "qmjpeg: @a\\nb\\x01.qm: No such file or directory\n"},
    {"outputDeviceFull",
     "m.qm",
     fortyRecords,
     {"-f", "@m.qm", "/dev/full"},
     "Unable to create output file.\n",
     "qmjpeg: /dev/full: No space left on device\n"},
    {"outputInMissingFolder",
     "m.qm",
     fortyRecords,
     {"-f", "@m.qm", "@none/o.jpg"},
     "Unable to create output file.\n",
     "qmjpeg: @none/o.jpg: No such file or directory\n"},
    {"outputIsAFolder",
     "m.qm",
     fortyRecords,
     {"-f", "@m.qm", "@"},
     "Unable to create output file.\n",
     "qmjpeg: @: Is a directory\n"},
    {"imageOutputDeviceFull",
     "a.bmp",
     [] { return kGood; },
     {"-i", "@a.bmp", "@a.bmp", "/dev/full"},
     "Unable to create output file.\n",
     "qmjpeg: /dev/full: No space left on device\n"},
    {"sizeFieldEndsBitmapEarly",
     "s.bmp",
     [] { return withSizeField(54 + 40); },
     {"-i", "@s.bmp", "@s.bmp", "@o.jpg"},
     "Unable to load src image\n",
     "qmjpeg: @s.bmp: file size field ends the bitmap at byte 94 but its pixel rows need 102\n"},
    {"sizeFieldAllOnes",
     "s.bmp",
     [] { return withSizeField(0xFFFFFFFF); },
     {"-i", "@s.bmp", "@s.bmp", "@o.jpg"},
     "Unable to load src image\n",
     "qmjpeg: @s.bmp: file size field 4294967295 is larger than 2147483647 bytes\n"},
};

std::string inFolder(std::string text, const ScratchDir& dir) {
    for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at)) {
        text.replace(at, 1, dir.path().string() + "/");
        at += dir.path().string().size() + 1;
    }
    return text;
}

class FailureLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(FailureLineTest, SaysWhyInOneLine) {
    const LineCase& c = GetParam();
    ScratchDir dir;
    if (c.file != nullptr) {
        writeFile(dir.file(c.file), c.content());
    }
    std::vector<std::string> args;
    for (const std::string& arg : c.args) {
        args.push_back(inFolder(arg, dir));
    }
    const auto result = testing_support::runQmjpeg(args);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, c.output);
    EXPECT_EQ(result.errors, inFolder(c.line, dir));
}

INSTANTIATE_TEST_SUITE_P(Failures, FailureLineTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FailureLineTest, SuccessLeavesStandardErrorEmpty) {
    ScratchDir dir;
    writeFile(dir.file("m.qm"), fortyRecords());
    writeFile(dir.file("a.bmp"), kGood);
    const auto model = testing_support::runQmjpeg({"-f", dir.file("m.qm"), dir.file("o.jpg")});
    const auto image =
        testing_support::runQmjpeg({"-i", dir.file("a.bmp"), dir.file("a.bmp"), dir.file("p.jpg")});
    EXPECT_EQ(model.exitStatus, 0);
    EXPECT_EQ(model.errors, "");
    EXPECT_EQ(image.exitStatus, 0);
    EXPECT_EQ(image.errors, "");
}

} // namespace
