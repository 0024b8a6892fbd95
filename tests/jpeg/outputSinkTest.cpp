// The byte sinks: the memory sink and the file sink receive exactly the stream a buffer write
// gives, buffer by buffer, and a sink's failure is the status the write returns.
#include "encoderTestSupport.h"
#include "support/testFiles.h"

#include "jpeg/jpegFile.h"
#include "jpeg/jpegRowSource.h"
#include "jpeg/outputSink.h"

#include <gtest/gtest.h>

namespace {

using namespace enc_test;

// Takes writes until `capacity` bytes would be exceeded, then fails each with `status`.
class FailingSink final : public ByteSink {
public:
    FailingSink(std::size_t capacity, int status) : capacity_(capacity), status_(status) {}
    int write(const std::uint8_t*, std::size_t count) override {
        if (taken + count > capacity_) {
            return status_;
        }
        taken += count;
        return JPEG_SUCCESS;
    }
    std::size_t taken = 0;

private:
    std::size_t capacity_;
    int status_;
};

const RgbxImage& picture() {
    static const RgbxImage image = makeImage(120, 96, 4, randomPixels(7));
    return image;
}

int writeInto(ByteSink& sink, const char* processorClass = nullptr) {
    Record p = newRecord(processorClass);
    describe(*p, picture());
    return jpegWriteRowsInto(p.get(), JPEG_WRITE_FILE_IMAGE, nullptr, sink);
}

Bytes expectedStream(const char* processorClass = nullptr) {
    const Encoded expected = encodeToMemory(picture(), processorClass);
    EXPECT_EQ(expected.status, JPEG_SUCCESS);
    EXPECT_GT(expected.bytes.size(), 2u * kFileBufferSize); // several buffers' worth
    return expected.bytes;
}

TEST(ByteSink, MemorySinkAppendsTheStreamOfABufferWrite) {
    Bytes bytes = {0xAA};
    MemorySink sink(bytes);
    ASSERT_EQ(writeInto(sink), JPEG_SUCCESS);
    Bytes expected = {0xAA};
    const Bytes stream = expectedStream();
    expected.insert(expected.end(), stream.begin(), stream.end());
    EXPECT_EQ(bytes, expected);
}

TEST(ByteSink, FileSinkWritesAtTheFilePositionAndLeavesTheFileOpen) {
    testing_support::ScratchDir dir;
    const std::string path = dir.file("out.jpg");
    const JpegFileHandle file = jpegFileOpen(path.c_str());
    ASSERT_NE(file, kNoJpegFile);
    FileSink sink(file);
    const std::uint8_t head[3] = {1, 2, 3};
    ASSERT_EQ(sink.write(head, 3), JPEG_SUCCESS);
    ASSERT_EQ(writeInto(sink), JPEG_SUCCESS);
    ASSERT_EQ(sink.write(head, 1), JPEG_SUCCESS);
    ASSERT_EQ(sink.finish(), JPEG_SUCCESS);
    ASSERT_TRUE(jpegFileClose(file));

    Bytes expected(head, head + 3);
    const Bytes stream = expectedStream();
    expected.insert(expected.end(), stream.begin(), stream.end());
    expected.push_back(1);
    EXPECT_EQ(testing_support::readFile(path), expected);
}

// Pieces smaller than, equal to and larger than the gathering buffer, in every order, reach the
// file in the order written, whether they were gathered or written straight through.
TEST(ByteSink, FileSinkKeepsTheOrderOfGatheredAndDirectWrites) {
    constexpr std::size_t kGather = FileSink::kGatherSize;
    const std::vector<std::vector<std::size_t>> pieceLists = {
        {1, kGather, 1},
        {kGather, kGather - 1, 2, 3 * kGather + 5},
        {kGather - 1, 1, kGather + 1, 7, 0, 40000, 40000, 40000},
    };
    for (const auto& pieces : pieceLists) {
        testing_support::ScratchDir dir;
        const std::string path = dir.file("gathered.bin");
        const JpegFileHandle file = jpegFileOpen(path.c_str());
        ASSERT_NE(file, kNoJpegFile);
        Bytes expected;
        FileSink sink(file);
        for (const std::size_t size : pieces) {
            Bytes piece(size);
            for (std::size_t i = 0; i < size; ++i) {
                piece[i] = static_cast<std::uint8_t>(expected.size() + i * 7);
            }
            ASSERT_EQ(sink.write(piece.data(), size), JPEG_SUCCESS);
            expected.insert(expected.end(), piece.begin(), piece.end());
        }
        ASSERT_EQ(sink.finish(), JPEG_SUCCESS);
        ASSERT_TRUE(jpegFileClose(file));
        EXPECT_EQ(testing_support::readFile(path), expected) << pieces.size() << " pieces";
    }
}

// A failed write is reported when it happens, by write or, for gathered bytes, by finish, and
// every later call gives the same failure.
TEST(ByteSink, FileSinkWithoutAFileFails) {
    const std::uint8_t byte = 0;
    {
        FileSink sink(kNoJpegFile);
        EXPECT_EQ(sink.write(&byte, 1), JPEG_SUCCESS); // gathered
        EXPECT_EQ(sink.finish(), JPEG_ERR_FILE);
        EXPECT_EQ(sink.write(&byte, 1), JPEG_ERR_FILE);
        EXPECT_EQ(sink.finish(), JPEG_ERR_FILE);
    }
    {
        FileSink sink(kNoJpegFile);
        const Bytes large(FileSink::kGatherSize);
        EXPECT_EQ(sink.write(large.data(), large.size()), JPEG_ERR_FILE);
    }
}

TEST(ByteSink, TheFailingSinksStatusIsTheWritesStatus) {
    struct Case {
        std::size_t capacity; // fails at the header, within the scan, at the last buffer
        int status;
    };
    for (const RoutineSetCase& set : kRoutineSets) {
        const std::size_t size = expectedStream(set.processorClass).size();
        const Case cases[] = {{0, JPEG_ERR_FILE}, {size / 2, JPEG_ERR_MEMORY}, {size - 1, -1234}};
        for (const Case& c : cases) {
            FailingSink sink(c.capacity, c.status);
            EXPECT_EQ(writeInto(sink, set.processorClass), c.status)
                << set.name << ", capacity " << c.capacity;
            EXPECT_LE(sink.taken, c.capacity);
        }
        FailingSink roomy(size, JPEG_ERR_FILE);
        EXPECT_EQ(writeInto(roomy, set.processorClass), JPEG_SUCCESS) << set.name;
        EXPECT_EQ(roomy.taken, size) << set.name;
    }
}

} // namespace
