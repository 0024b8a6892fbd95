#include "util/binaryFile.h"
#include "util/lastError.h"

#include "support/pipeInput.h"
#include "support/testFiles.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

using testing_support::Bytes;
using testing_support::ScratchDir;
using testing_support::writeFile;

Bytes withHeader(const std::string& first8, const Bytes& rest = {}) {
    Bytes bytes(first8.begin(), first8.end());
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}

class BinaryFileTest : public ::testing::Test {
protected:
    void SetUp() override { clearLastError(); }
    void TearDown() override { clearLastError(); }
    ScratchDir dir;
};

struct OpenCase {
    const char* name;
    Bytes header;
    bool opens;
    int code;        // expected last error when it does not open
    bool textIsName; // the last error's text is the file name (else empty)
};

class BinaryFileOpenTest : public BinaryFileTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(BinaryFileOpenTest, ChecksSignatureAndFormatDigit) {
    const OpenCase& c = GetParam();
    const std::string path = dir.file("model.qm");
    writeFile(path, c.header);
    BinaryFile reader("VXQM0001");
    EXPECT_EQ(reader.openRead(path), c.opens);
    EXPECT_EQ(reader.isOpen(), c.opens);
    if (c.opens) {
        EXPECT_EQ(lastError().code, 0);
        EXPECT_EQ(reader.fileName(), path);
        EXPECT_EQ(reader.signature()[5], static_cast<char>(c.header[5]));
    } else {
        EXPECT_EQ(lastError().code, c.code);
        EXPECT_EQ(std::string(lastError().message), c.textIsName ? path : "");
        EXPECT_EQ(reader.fileName(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Headers, BinaryFileOpenTest,
    ::testing::Values(
        OpenCase{"exact", withHeader("VXQM0001"), true, 0, false},
        OpenCase{"digit0x2F", Bytes{'V', 'X', 'Q', 'M', '0', 0x2F, '0', '1'}, true, 0, false},
        OpenCase{"digit0xFF", Bytes{'V', 'X', 'Q', 'M', '0', 0xFF, '0', '1'}, true, 0, false},
        OpenCase{"digitZero", Bytes{'V', 'X', 'Q', 'M', '0', 0x00, '0', '1'}, true, 0, false},
        OpenCase{"digit1", withHeader("VXQM0101"), false, 4, true},
        OpenCase{"digit0x7F", Bytes{'V', 'X', 'Q', 'M', '0', 0x7F, '0', '1'}, false, 4, true},
        OpenCase{"otherLetter", withHeader("VXQN0001"), false, 2, true},
        OpenCase{"zeroAtStart", Bytes{0, 'X', 'Q', 'M', '0', '0', '0', '1'}, false, 2, true},
        OpenCase{"zeroAtEnd", Bytes{'V', 'X', 'Q', 'M', '0', '0', '0', 0}, false, 2, true},
        OpenCase{"sevenBytes", Bytes{'V', 'X', 'Q', 'M', '0', '0', '0'}, false, 1, false},
        OpenCase{"empty", Bytes{}, false, 1, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BinaryFileTest, MissingFileRecordsCode4WithTheName) {
    BinaryFile reader("VXQM0001");
    const std::string path = dir.file("absent.qm");
    EXPECT_FALSE(reader.openRead(path));
    EXPECT_EQ(lastError().code, 4);
    EXPECT_EQ(std::string(lastError().message), path);
}

TEST_F(BinaryFileTest, ReadOfZeroElementsSucceedsWithoutConsuming) {
    const std::string path = dir.file("m.qm");
    writeFile(path, withHeader("VXQM0001", {1, 2, 3, 4}));
    BinaryFile reader("VXQM0001");
    ASSERT_TRUE(reader.openRead(path));
    std::uint8_t byte = 0;
    EXPECT_TRUE(reader.read(&byte, 1, 0));
    EXPECT_TRUE(reader.read(&byte, 1, 1));
    EXPECT_EQ(byte, 1);
}

TEST_F(BinaryFileTest, ShortReadFailsClosesAndLaterReadsLeaveTheRecord) {
    const std::string path = dir.file("m.qm");
    writeFile(path, withHeader("VXQM0001", Bytes(19, 7)));
    BinaryFile reader("VXQM0001");
    ASSERT_TRUE(reader.openRead(path));
    std::int16_t values[10] = {};
    EXPECT_FALSE(reader.read(values, 2, 10));
    EXPECT_EQ(lastError().code, 1);
    EXPECT_EQ(std::string(lastError().message), path);
    EXPECT_FALSE(reader.isOpen());
    clearLastError();
    EXPECT_FALSE(reader.read(values, 2, 1));
    EXPECT_EQ(lastError().code, 0);
}

TEST_F(BinaryFileTest, ReadsRawLittleEndianValues) {
    const std::string path = dir.file("m.qm");
    writeFile(path, withHeader("VXQM0001", {0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF}));
    BinaryFile reader("VXQM0001");
    ASSERT_TRUE(reader.openRead(path));
    std::uint32_t word = 0;
    std::int16_t half = 0;
    ASSERT_TRUE(reader.read(&word, 4, 1));
    ASSERT_TRUE(reader.read(&half, 2, 1));
    EXPECT_EQ(word, 0x12345678u);
    EXPECT_EQ(half, -2);
    EXPECT_EQ(reader.bytesRemaining(), 0u);
}

TEST_F(BinaryFileTest, OpeningAgainClosesTheFirstFile) {
    const std::string first = dir.file("a.qm");
    const std::string second = dir.file("b.qm");
    writeFile(first, withHeader("VXQM0001", {1}));
    writeFile(second, withHeader("VXQM0001", {2}));
    BinaryFile reader("VXQM0001");
    ASSERT_TRUE(reader.openRead(first));
    ASSERT_TRUE(reader.openRead(second));
    EXPECT_EQ(reader.fileName(), second);
    std::uint8_t byte = 0;
    ASSERT_TRUE(reader.read(&byte, 1, 1));
    EXPECT_EQ(byte, 2);
}

TEST_F(BinaryFileTest, WriteSideRoundTripsWithTheAdoptedDigit) {
    const std::string source = dir.file("in.qm");
    const std::string copy = dir.file("out.qm");
    writeFile(source, Bytes{'V', 'X', 'Q', 'M', '0', 0x2F, '0', '1'});
    BinaryFile file("VXQM0001");
    ASSERT_TRUE(file.openRead(source));
    ASSERT_TRUE(file.openWrite(copy));
    const std::uint32_t value = 0xA1B2C3D4;
    ASSERT_TRUE(file.write(&value, 4, 1));
    file.close();
    EXPECT_EQ(testing_support::readFile(copy),
              (Bytes{'V', 'X', 'Q', 'M', '0', 0x2F, '0', '1', 0xD4, 0xC3, 0xB2, 0xA1}));
}

TEST_F(BinaryFileTest, OpenWriteFailureRecordsCode5) {
    BinaryFile writer("VXQM0001");
    const std::string path = dir.file("missing-folder/out.qm");
    EXPECT_FALSE(writer.openWrite(path));
    EXPECT_EQ(lastError().code, 5);
    EXPECT_EQ(std::string(lastError().message), path);
}

TEST_F(BinaryFileTest, WriteToAFullDeviceRecordsCode6) {
    if (::access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    BinaryFile writer("VXQM0001");
    ASSERT_TRUE(writer.openWrite("/dev/full")); // the signature sits in the stream's buffer
    const Bytes big(1 << 16, 0);
    EXPECT_FALSE(writer.write(big.data(), 1, static_cast<std::uint32_t>(big.size())));
    EXPECT_EQ(lastError().code, 6);
    EXPECT_FALSE(writer.isOpen());
}

TEST(BinaryFileDeathTest, SignatureOfWrongLengthIsAnAssertion) {
    EXPECT_EXIT(
        {
            ::dup2(2, 1);
            BinaryFile reader("VXQM001");
        },
        ::testing::ExitedWithCode(255), "^VX2 ASSERT violation in src/util/binaryFile line 27\n$");
}

} // namespace

namespace {

using testing_support::PipeInput;

TEST_F(BinaryFileTest, StreamIsReadInFullAndThenReadLikeAFile) {
    Bytes rest(300000);
    for (std::size_t i = 0; i < rest.size(); ++i) {
        rest[i] = static_cast<std::uint8_t>(i * 13 + i / 256);
    }
    PipeInput pipe(withHeader("VXQM0001", rest));
    BinaryFile reader("VXQM0001");
    ASSERT_TRUE(reader.openRead(pipe.path()));
    EXPECT_EQ(reader.bytesRemaining(), rest.size()); // known although a pipe has no size
    Bytes got(rest.size() - 1);
    ASSERT_TRUE(reader.read(got.data(), 1, static_cast<std::uint32_t>(got.size())));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), rest.begin()));
    EXPECT_EQ(reader.bytesRemaining(), 1u);
    std::uint16_t two = 0;
    EXPECT_FALSE(reader.read(&two, 2, 1));
    EXPECT_EQ(lastError().code, 1);
    EXPECT_EQ(std::string(lastError().message), pipe.path());
    EXPECT_FALSE(reader.isOpen());
}

struct StreamLimitCase {
    const char* name;
    std::size_t streamBytes;
    bool opens;
};

class BinaryFileStreamLimitTest : public BinaryFileTest,
                                  public ::testing::WithParamInterface<StreamLimitCase> {};

TEST_P(BinaryFileStreamLimitTest, StreamBeyondTheLimitFailsWithCode1) {
    constexpr std::uint64_t kLimit = 3 << 20; // not a multiple of the reader's blocks
    PipeInput pipe(withHeader("VXQM0001", Bytes(GetParam().streamBytes - 8, 0x42)));
    BinaryFile reader("VXQM0001");
    reader.setStreamLimit(kLimit);
    EXPECT_EQ(reader.openRead(pipe.path()), GetParam().opens);
    if (GetParam().opens) {
        EXPECT_EQ(reader.bytesRemaining(), GetParam().streamBytes - 8);
    } else {
        EXPECT_EQ(lastError().code, 1);
        EXPECT_EQ(std::string(lastError().message), pipe.path());
        EXPECT_EQ(reader.fileName(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, BinaryFileStreamLimitTest,
                         ::testing::Values(StreamLimitCase{"atTheLimit", 3 << 20, true},
                                           StreamLimitCase{"oneByteMore", (3 << 20) + 1, false},
                                           StreamLimitCase{"farBeyond", 9 << 20, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BinaryFileTest, StreamWithAnotherSignatureFailsBeforeItIsRead) {
    PipeInput pipe(withHeader("VXQN0001", Bytes(100, 1)));
    BinaryFile reader("VXQM0001");
    EXPECT_FALSE(reader.openRead(pipe.path()));
    EXPECT_EQ(lastError().code, 2);
}

} // namespace
