// The JPEG stream as a whole: the worked 1x1 example, header bytes, request codes, application
// segments, comments, memory and file output.
#include "encoderTestSupport.h"
#include "support/testFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

using namespace enc_test;
using testing_support::ScratchDir;

namespace {

const Bytes kQuality95Luminance = {2,  1,  1,  1,  1,  1, 2, 1,  1,  1,  2,  2,  2, 2,  2,  4,
                                   3,  2,  2,  2,  2,  5, 4, 4,  3,  4,  6,  5,  6, 6,  6,  5,
                                   6,  6,  6,  7,  9,  8, 6, 7,  9,  7,  6,  6,  8, 11, 8,  9,
                                   10, 10, 10, 10, 10, 6, 8, 11, 12, 11, 10, 12, 9, 10, 10, 10};

Bytes quality95Chrominance() {
    Bytes values = {2, 2, 2, 2, 2, 2, 5, 3, 3, 5, 10, 7, 6, 7};
    values.resize(64, 10);
    return values;
}

void append(Bytes& to, const Bytes& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

// The Huffman table bodies (class/number byte, BITS, HUFFVAL) that TurboJPEG writes with its
// standard tables, in the order DC 0, AC 0, DC 1, AC 1.
Bytes standardHuffmanTablesFromTurbo() {
    const RgbxImage image = makeImage(16, 16, 0, randomPixels(7));
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int status = tjCompress2(handle, image.bytes.data(), 16, 64, 16, TJPF_RGBX, &jpeg, &size,
                                   TJSAMP_444, 95, 0);
    EXPECT_EQ(status, 0);
    const Bytes stream(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(handle);
    Bytes tables;
    for (const Segment& s : parseSegments(stream).segments) {
        if (s.marker == 0xC4) {
            append(tables, s.payload);
        }
    }
    return tables;
}

// The 659 header bytes of the tool's request for an image of the given size.
Bytes expectedHeader(int width, int height) {
    Bytes h = {0xFF, 0xD8};
    append(h, {0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01,
               0x00, 0x01, 0x00, 0x00});
    append(h, {0xFF, 0xFE, 0x00, 0x2E});
    const std::string comment = "Dodov(R) JPEG Library, version [1.51.12.44]";
    EXPECT_EQ(comment.size(), 43u);
    append(h, Bytes(comment.begin(), comment.end()));
    h.push_back(0x00);
    append(h, {0xFF, 0xDB, 0x00, 0x43, 0x00});
    append(h, kQuality95Luminance);
    append(h, {0xFF, 0xDB, 0x00, 0x43, 0x01});
    append(h, quality95Chrominance());
    append(h, {0xFF, 0xC4, 0x01, 0xA2});
    append(h, standardHuffmanTablesFromTurbo());
    const auto hi = [](int v) { return static_cast<std::uint8_t>(v >> 8); };
    const auto lo = [](int v) { return static_cast<std::uint8_t>(v & 0xFF); };
    append(h, {0xFF, 0xC0, 0x00, 0x11, 0x08, hi(height), lo(height), hi(width), lo(width), 0x03,
               0x01, 0x11, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01});
    append(h, {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00});
    return h;
}

// One pixel 64, 64, 64 with alpha 0: the shading ratio of two identical bitmaps.
RgbxImage onePixelImage() {
    return makeImage(1, 1, 0, solid(64, 64, 64, 0));
}

const Bytes kOnePixelScan = {0xFC, 0xFF, 0x00, 0xA0, 0x0F};

class StreamPerRoutineSet : public ::testing::TestWithParam<RoutineSetCase> {};

TEST_P(StreamPerRoutineSet, OnePixelImageIntoMemoryIs666BytesWithTheKnownScan) {
    const Encoded encoded = encodeToMemory(onePixelImage(), GetParam().processorClass);
    ASSERT_EQ(encoded.status, 0);
    ASSERT_EQ(encoded.bytes.size(), 666u);
    EXPECT_EQ(Bytes(encoded.bytes.begin(), encoded.bytes.begin() + 659), expectedHeader(1, 1));
    EXPECT_EQ(scanData(encoded.bytes), kOnePixelScan);
    EXPECT_EQ(encoded.bytes[664], 0xFF);
    EXPECT_EQ(encoded.bytes[665], 0xD9);
}

TEST_P(StreamPerRoutineSet, OnePixelImageIntoAFileIsTheSameStream) {
    ScratchDir dir;
    const std::string path = dir.file("one.jpg");
    Record p = newRecord(GetParam().processorClass);
    const RgbxImage image = onePixelImage();
    describe(*p, image);
    p->outputFileName = path.c_str();
    ASSERT_EQ(jpegWrite(p.get(), JPEG_WRITE_FILE_IMAGE), 0);
    const Bytes file = testing_support::readFile(path);
    EXPECT_EQ(p->outputBufferSize, 666);
    ASSERT_EQ(file.size(), 666u);
    EXPECT_EQ(file, encodeToMemory(image, GetParam().processorClass).bytes);
    EXPECT_EQ(scanData(file), kOnePixelScan);
}

TEST_P(StreamPerRoutineSet, HeaderCarriesTheImageSizeBigEndian) {
    const RgbxImage image = makeImage(300, 2, 0, randomPixels(3));
    const Encoded encoded = encodeToMemory(image, GetParam().processorClass);
    ASSERT_EQ(encoded.status, 0);
    ASSERT_GT(encoded.bytes.size(), 659u);
    EXPECT_EQ(Bytes(encoded.bytes.begin(), encoded.bytes.begin() + 659), expectedHeader(300, 2));
}

// In memory mode the stream needs one spare byte: an exactly sized buffer fails.
TEST_P(StreamPerRoutineSet, MemoryBufferOfExactlyTheStreamLengthIsTooSmall) {
    for (const RgbxImage& image : {onePixelImage(), makeImage(64, 48, 0, photoLike(64, 48, 5))}) {
        const Encoded full = encodeToMemory(image, GetParam().processorClass);
        ASSERT_EQ(full.status, 0);
        const std::size_t length = full.bytes.size();

        const Encoded exact = encodeToMemory(image, GetParam().processorClass, 95, length);
        EXPECT_EQ(exact.status, JPEG_ERR_BUFFER_TOO_SMALL);
        EXPECT_LT(exact.bytes.size(), length);
        EXPECT_TRUE(std::equal(exact.bytes.begin(), exact.bytes.end(), full.bytes.begin()));

        const Encoded oneMore = encodeToMemory(image, GetParam().processorClass, 95, length + 1);
        EXPECT_EQ(oneMore.status, 0);
        EXPECT_EQ(oneMore.bytes, full.bytes);
    }
}

TEST_P(StreamPerRoutineSet, TablesThenScanRequestsSpliceIntoTheWholeImageStream) {
    const RgbxImage image = makeImage(17, 9, 4, photoLike(17, 9, 11));
    const char* cpu = GetParam().processorClass;
    const Bytes whole = encodeToMemory(image, cpu).bytes;

    Record p = newRecord(cpu);
    describe(*p, image);
    Bytes buffer(4096);
    p->outputBuffer = buffer.data();
    p->outputBufferSize = 4096;
    ASSERT_EQ(jpegWrite(p.get(), JPEG_WRITE_BUFFER_TABLES), 0);
    const Bytes tables(buffer.begin(), buffer.begin() + p->outputBufferSize);
    EXPECT_EQ(markerList(parseSegments(tables)), (Bytes{0xD8, 0xE0, 0xFE, 0xDB, 0xDB, 0xC4, 0xD9}));
    EXPECT_EQ(tables.size(), 659u - 19 - 14 + 2);

    p->outputBufferSize = 4096;
    ASSERT_EQ(jpegWrite(p.get(), JPEG_WRITE_BUFFER_SCAN), 0);
    const Bytes scan(buffer.begin(), buffer.begin() + p->outputBufferSize);
    EXPECT_EQ(markerList(parseSegments(scan)), (Bytes{0xD8, 0xC0, 0xDA}));

    Bytes spliced(tables.begin(), tables.end() - 2);
    spliced.insert(spliced.end(), scan.begin() + 2, scan.end());
    EXPECT_EQ(spliced, whole);
}

TEST_P(StreamPerRoutineSet, ScanRequestWithoutEarlierTablesPreparesThemUnwritten) {
    const RgbxImage image = makeImage(10, 1, 0, randomPixels(9));
    const char* cpu = GetParam().processorClass;
    const Bytes whole = encodeToMemory(image, cpu).bytes;
    ScratchDir dir;
    const std::string path = dir.file("scan.jpg");
    Record p = newRecord(cpu);
    describe(*p, image);
    p->outputFileName = path.c_str();
    ASSERT_EQ(jpegWrite(p.get(), JPEG_WRITE_FILE_SCAN), 0);
    const Bytes scan = testing_support::readFile(path);
    const ParsedStream parsed = parseSegments(scan);
    EXPECT_EQ(markerList(parsed), (Bytes{0xD8, 0xC0, 0xDA}));
    EXPECT_EQ(scanData(scan), scanData(whole));
    EXPECT_EQ(scan.size(), whole.size() - (659 - 2 - 19 - 14));
}

TEST_P(StreamPerRoutineSet, RestartIntervalWritesDriAndCyclingRestartMarkers) {
    const RgbxImage image = makeImage(64, 48, 0, photoLike(64, 48, 2)); // 8 x 6 = 48 MCUs
    Record p = newRecord(GetParam().processorClass);
    describe(*p, image);
    p->state.config.restartInterval = 2;
    Bytes buffer(200000);
    p->outputBuffer = buffer.data();
    p->outputBufferSize = static_cast<std::int32_t>(buffer.size());
    ASSERT_EQ(jpegWrite(p.get(), JPEG_WRITE_BUFFER_IMAGE), 0);
    buffer.resize(static_cast<std::size_t>(p->outputBufferSize));

    const ParsedStream parsed = parseSegments(buffer);
    const auto dri = std::find_if(parsed.segments.begin(), parsed.segments.end(),
                                  [](const Segment& s) { return s.marker == 0xDD; });
    ASSERT_NE(dri, parsed.segments.end());
    EXPECT_EQ(dri->payload, (Bytes{0x00, 0x02}));

    std::vector<int> restartNumbers;
    const Bytes scan = scanData(buffer);
    for (std::size_t i = 0; i + 1 < scan.size(); ++i) {
        if (scan[i] == 0xFF && scan[i + 1] != 0x00) {
            ASSERT_GE(scan[i + 1], 0xD0);
            ASSERT_LE(scan[i + 1], 0xD7);
            restartNumbers.push_back(scan[i + 1] - 0xD0);
        }
    }
    ASSERT_EQ(restartNumbers.size(), 23u); // between 24 intervals
    for (std::size_t i = 0; i < restartNumbers.size(); ++i) {
        EXPECT_EQ(restartNumbers[i], static_cast<int>(i % 8));
    }
    const Decoded decoded = decodeWithTurbo(buffer);
    ASSERT_TRUE(decoded.ok) << decoded.message;
    EXPECT_GT(psnr(image, decoded), 40.0);
}

TEST_P(StreamPerRoutineSet, NoRestartIntervalMeansNoDriAndNoRestartMarker) {
    const Bytes stream =
        encodeToMemory(makeImage(64, 48, 0, photoLike(64, 48, 2)), GetParam().processorClass).bytes;
    const Bytes markers = markerList(parseSegments(stream));
    EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xDD), 0);
    const Bytes scan = scanData(stream);
    for (std::size_t i = 0; i + 1 < scan.size(); ++i) {
        if (scan[i] == 0xFF) {
            EXPECT_EQ(scan[i + 1], 0x00) << "at " << i;
        }
    }
}

// A scan suspended by the interrupt flag continues where it stopped and gives the same stream.
TEST_P(StreamPerRoutineSet, InterruptedScanResumesToTheSameStream) {
    const RgbxImage image = makeImage(20, 12, 0, photoLike(20, 12, 4)); // 3 x 2 MCUs
    const char* cpu = GetParam().processorClass;
    const Bytes whole = encodeToMemory(image, cpu).bytes;

    Record p = newRecord(cpu);
    describe(*p, image);
    Bytes buffer(20000);
    p->outputBuffer = buffer.data();
    p->outputBufferSize = static_cast<std::int32_t>(buffer.size());
    p->state.interruptFlag = 1;
    ASSERT_EQ(jpegWrite(p.get(), JPEG_WRITE_BUFFER_IMAGE), JPEG_INTERRUPT_SUCCESS);
    EXPECT_EQ(p->state.resumeX, 8);
    EXPECT_EQ(p->state.resumeY, 8);
    EXPECT_EQ(p->state.interruptFlag, 0);
    ASSERT_EQ(jpegWrite(p.get(), JPEG_WRITE_BUFFER_IMAGE), 0);
    buffer.resize(static_cast<std::size_t>(p->outputBufferSize));
    EXPECT_EQ(buffer, whole);
}

// Rows stored bottom-up (negative height) give the stream of the same image stored top-down.
TEST_P(StreamPerRoutineSet, BottomUpSourceEncodesLikeTheTopDownOne) {
    const RgbxImage topDown = makeImage(13, 11, 8, photoLike(13, 11, 6));
    const RgbxImage bottomUp = makeImage(13, 11, 8, [&](int x, int y, std::uint8_t* p) {
        std::memcpy(p, topDown.pixel(x, 10 - y), 4);
    });
    const char* cpu = GetParam().processorClass;
    Record p = newRecord(cpu);
    describe(*p, bottomUp);
    p->inputHeight = -11;
    Bytes buffer(20000);
    p->outputBuffer = buffer.data();
    p->outputBufferSize = static_cast<std::int32_t>(buffer.size());
    ASSERT_EQ(jpegWrite(p.get(), JPEG_WRITE_BUFFER_IMAGE), 0);
    buffer.resize(static_cast<std::size_t>(p->outputBufferSize));
    EXPECT_EQ(buffer, encodeToMemory(topDown, cpu).bytes);
}

TEST_P(StreamPerRoutineSet, FourthByteOfEachPixelHasNoInfluence) {
    const RgbxImage a = makeImage(19, 7, 0, photoLike(19, 7, 8));
    RgbxImage b = a;
    for (int y = 0; y < b.height; ++y) {
        for (int x = 0; x < b.width; ++x) {
            b.pixel(x, y)[3] = static_cast<std::uint8_t>(255 - a.pixel(x, y)[3]);
        }
    }
    const char* cpu = GetParam().processorClass;
    EXPECT_EQ(encodeToMemory(a, cpu).bytes, encodeToMemory(b, cpu).bytes);
}

// The row padding is never read: its content does not matter, and the last row's padding lies
// outside the allocation (a sanitizer build reports any read of it).
TEST_P(StreamPerRoutineSet, RowPaddingIsNeverRead) {
    const RgbxImage zeros = makeImage(21, 10, 12, photoLike(21, 10, 12), 0x00);
    const RgbxImage ones = makeImage(21, 10, 12, photoLike(21, 10, 12), 0xFF);
    const RgbxImage packed = makeImage(21, 10, 0, photoLike(21, 10, 12));
    const char* cpu = GetParam().processorClass;
    const Encoded a = encodeToMemory(zeros, cpu);
    ASSERT_EQ(a.status, 0);
    EXPECT_EQ(a.bytes, encodeToMemory(ones, cpu).bytes);
    EXPECT_EQ(a.bytes, encodeToMemory(packed, cpu).bytes);
}

TEST_P(StreamPerRoutineSet, SymbolWithoutCodeEndsTheWriteWithBadHuffmanTable) {
    // Caller-supplied Huffman tables whose DC tables lack category 0: a flat image needs it.
    static const std::uint8_t dcBits[16] = {0, 0, 0, 11};
    static const std::uint8_t dcValues[11] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    static const std::uint8_t acBits[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1};
    static const std::uint8_t acValues[1] = {0x00};
    Record p = newRecord(GetParam().processorClass);
    const RgbxImage image = makeImage(8, 8, 0, solid(128, 128, 128));
    describe(*p, image);
    p->state.callerHuffmanTables = 1;
    p->state.huffmanPairCount = 2;
    p->state.huffmanSlots[0] = {dcBits, dcValues, 0, 0};
    p->state.huffmanSlots[1] = {acBits, acValues, 1, 0};
    p->state.huffmanSlots[2] = {dcBits, dcValues, 0, 1};
    p->state.huffmanSlots[3] = {acBits, acValues, 1, 1};
    Bytes buffer(4096);
    p->outputBuffer = buffer.data();
    p->outputBufferSize = 4096;
    EXPECT_EQ(jpegWrite(p.get(), JPEG_WRITE_BUFFER_IMAGE), JPEG_ERR_BAD_HUFFMAN_TABLE);
}

INSTANTIATE_TEST_SUITE_P(Sets, StreamPerRoutineSet, ::testing::ValuesIn(kRoutineSets),
                         routineSetName);

// Tables-only streams with the application segment of each output colour.
struct AppSegmentCase {
    int inputColor;
    int inputChannels;
    int outputColor;
    int outputChannels;
    Bytes expectedSegment; // marker and payload
};

TEST(ApplicationSegment, FollowsTheOutputColour) {
    const Bytes adobe = {'A', 'd', 'o', 'b', 'e', 0x00, 0x64, 0x00, 0x00, 0x00, 0x00};
    const auto app14 = [&](std::uint8_t transform) {
        Bytes s = {0xEE};
        append(s, adobe);
        s.push_back(transform);
        return s;
    };
    const std::vector<AppSegmentCase> cases = {
        {JPEG_COLOR_RGB, 3, JPEG_COLOR_RGB, 3, app14(0)},
        {JPEG_COLOR_FOUR_CHANNEL, 4, JPEG_COLOR_FOUR_CHANNEL, 4, app14(0)},
        {JPEG_COLOR_FOUR_CHANNEL, 4, JPEG_COLOR_YCC_FOUR_CHANNEL, 4, app14(2)},
        {JPEG_COLOR_RGB,
         3,
         JPEG_COLOR_YCBCR,
         3,
         {0xE0, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}},
        {JPEG_COLOR_GRAY,
         1,
         JPEG_COLOR_GRAY,
         1,
         {0xE0, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}},
    };
    for (const AppSegmentCase& c : cases) {
        SCOPED_TRACE("output colour " + std::to_string(c.outputColor));
        Record p = newRecord();
        p->inputColor = c.inputColor;
        p->inputChannels = c.inputChannels;
        p->outputColor = c.outputColor;
        p->outputChannels = c.outputChannels;
        p->outputSampling = JPEG_SAMPLING_NONE;
        Bytes buffer(2048);
        p->outputBuffer = buffer.data();
        p->outputBufferSize = 2048;
        ASSERT_EQ(jpegWrite(p.get(), JPEG_WRITE_BUFFER_TABLES), 0);
        buffer.resize(static_cast<std::size_t>(p->outputBufferSize));
        const ParsedStream parsed = parseSegments(buffer);
        ASSERT_GE(parsed.segments.size(), 2u);
        Bytes segment;
        segment.reserve(parsed.segments[1].payload.size() + 1);
        segment.push_back(parsed.segments[1].marker);
        append(segment, parsed.segments[1].payload);
        EXPECT_EQ(segment, c.expectedSegment);
        const Bytes markers = markerList(parsed);
        const bool app0 = c.expectedSegment[0] == 0xE0;
        EXPECT_EQ(std::count(markers.begin(), markers.end(), app0 ? 0xEE : 0xE0), 0);
    }
}

// The 4-byte RGB to YCbCr 4:4:4 layout keeps its own routine of the set; every other layout
// gets the routine for the other layouts, and the next write chooses again.
TEST(FetchRoutineSelection, FollowsTheLayoutOfEachWrite) {
    const RgbxImage image = makeImage(8, 8, 0, randomPixels(1));
    Record p = newRecord();
    Bytes buffer(8192);
    const auto write = [&](const std::function<void(JPEG_PROPERTIES&)>& change) {
        describe(*p, image);
        change(*p);
        p->outputBuffer = buffer.data();
        p->outputBufferSize = static_cast<std::int32_t>(buffer.size());
        EXPECT_EQ(jpegWrite(p.get(), JPEG_WRITE_BUFFER_IMAGE), 0);
        return p->state.routines.fetchMcu;
    };
    const auto none = [](JPEG_PROPERTIES&) {};
    EXPECT_EQ(write(none), p->state.routines.fetchMcuRgbx);
    EXPECT_EQ(write([](JPEG_PROPERTIES& q) {
                  q.inputChannels = 3;
                  q.inputWidth = 10; // same bytes, read as 3-byte pixels
              }),
              p->state.routines.fetchMcuLayouts);
    EXPECT_EQ(write([](JPEG_PROPERTIES& q) { q.outputSampling = JPEG_SAMPLING_H2V2; }),
              p->state.routines.fetchMcuLayouts);
    EXPECT_EQ(write(none), p->state.routines.fetchMcuRgbx);
}

struct CommentCase {
    std::size_t length;
    bool segmentWritten;
    std::size_t bytesInSegment;
    unsigned lengthField;
};

TEST(CallerComment, IsCutTo65531BytesAndOmittedWhenEmpty) {
    Bytes comment(70000);
    for (std::size_t i = 0; i < comment.size(); ++i) {
        comment[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    const std::vector<CommentCase> cases = {{0, false, 0, 0},
                                            {5, true, 5, 7},
                                            {65531, true, 65531, 65533},
                                            {65535, true, 65531, 65533}};
    for (const CommentCase& c : cases) {
        SCOPED_TRACE("comment length " + std::to_string(c.length));
        Record p = newRecord();
        describe(*p, makeImage(1, 1, 0, solid(1, 2, 3)));
        p->state.commentText = comment.data();
        p->state.commentLength = static_cast<std::uint16_t>(c.length);
        Bytes buffer(80000);
        p->outputBuffer = buffer.data();
        p->outputBufferSize = 80000;
        ASSERT_EQ(jpegWrite(p.get(), JPEG_WRITE_BUFFER_TABLES), 0);
        buffer.resize(static_cast<std::size_t>(p->outputBufferSize));
        const ParsedStream parsed = parseSegments(buffer);
        const auto com = std::find_if(parsed.segments.begin(), parsed.segments.end(),
                                      [](const Segment& s) { return s.marker == 0xFE; });
        ASSERT_EQ(com != parsed.segments.end(), c.segmentWritten);
        if (!c.segmentWritten) {
            continue;
        }
        EXPECT_EQ(com->payload.size(), c.bytesInSegment);
        EXPECT_TRUE(std::equal(com->payload.begin(), com->payload.end(), comment.begin()));
        std::size_t at = 0;
        while (at + 1 < buffer.size() && !(buffer[at] == 0xFF && buffer[at + 1] == 0xFE)) {
            ++at;
        }
        ASSERT_LT(at + 3, buffer.size());
        EXPECT_EQ((buffer[at + 2] << 8) | buffer[at + 3], static_cast<int>(c.lengthField));
        EXPECT_EQ(p->state.commentLength, c.bytesInSegment);
    }
}

TEST(FileOutput, ExistingLongerFileIsTruncated) {
    ScratchDir dir;
    const std::string path = dir.file("old.jpg");
    testing_support::writeFile(path, Bytes(100000, 0x55));
    Record p = newRecord();
    const RgbxImage image = onePixelImage();
    describe(*p, image);
    p->outputFileName = path.c_str();
    ASSERT_EQ(jpegWrite(p.get(), JPEG_WRITE_FILE_IMAGE), 0);
    const Bytes file = testing_support::readFile(path);
    EXPECT_EQ(file, encodeToMemory(image, nullptr).bytes);
}

TEST(FileOutput, TablesRequestWritesTheTablesFileAndReportsItsSize) {
    ScratchDir dir;
    const std::string path = dir.file("tables.jpg");
    Record p = newRecord();
    p->outputFileName = path.c_str();
    ASSERT_EQ(jpegWrite(p.get(), JPEG_WRITE_FILE_TABLES), 0);
    const Bytes file = testing_support::readFile(path);
    EXPECT_EQ(static_cast<std::size_t>(p->outputBufferSize), file.size());
    EXPECT_EQ(markerList(parseSegments(file)), (Bytes{0xD8, 0xE0, 0xFE, 0xDB, 0xDB, 0xC4, 0xD9}));
}

TEST(FileOutput, UncreatableFileGivesInvalidFileName) {
    ScratchDir dir;
    const std::string missingFolder = dir.file("no/such/folder/out.jpg");
    for (const char* name : {missingFolder.c_str(), ""}) {
        Record p = newRecord();
        const RgbxImage image = onePixelImage();
        describe(*p, image);
        p->outputFileName = name;
        EXPECT_EQ(jpegWrite(p.get(), JPEG_WRITE_FILE_IMAGE), JPEG_ERR_FILE_NAME) << name;
    }
}

TEST(FileOutput, StreamLargerThanTheFileBufferArrivesWhole) {
    ScratchDir dir;
    const std::string path = dir.file("big.jpg");
    const RgbxImage image = makeImage(128, 96, 0, randomPixels(21));
    for (const RoutineSetCase& set : kRoutineSets) {
        Record p = newRecord(set.processorClass);
        describe(*p, image);
        p->outputFileName = path.c_str();
        ASSERT_EQ(jpegWrite(p.get(), JPEG_WRITE_FILE_IMAGE), 0);
        const Bytes file = testing_support::readFile(path);
        EXPECT_GT(file.size(), 3u * 4096);
        EXPECT_EQ(file, encodeToMemory(image, set.processorClass).bytes) << set.name;
    }
}

} // namespace
