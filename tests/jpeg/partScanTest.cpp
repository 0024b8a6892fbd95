// A scan whose rows come from a source with several lanes is coded in parts on as many threads
// and joined: the bytes must be those of one coder over the whole image, and every lane codes
// parts. And the joiner of coded parts on its own, against a bit-by-bit model.
#include "encoderTestSupport.h"

#include "jpeg/jpegRowSource.h"
#include "jpeg/jpegStatus.h"
#include "jpeg/scanJoin.h"
#include "support/printAsName.h"

#include <gtest/gtest.h>
#include <ostream>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace enc_test;

namespace {

// ---- The joiner against a model ----

using Bits = std::vector<bool>;

// The model: bits packed first-bit-highest, padded with 1s, 0x00 stuffed after each 0xFF.
Bytes stuffedBytes(const Bits& bits, bool pad) {
    Bytes out;
    int count = 0;
    unsigned byte = 0;
    for (const bool bit : bits) {
        byte = (byte << 1) | (bit ? 1u : 0u);
        if (++count == 8) {
            out.push_back(static_cast<std::uint8_t>(byte));
            if (byte == 0xFF) {
                out.push_back(0);
            }
            byte = 0;
            count = 0;
        }
    }
    if (pad && count > 0) {
        byte = (byte << (8 - count)) | ((1u << (8 - count)) - 1);
        out.push_back(static_cast<std::uint8_t>(byte));
        if (byte == 0xFF) {
            out.push_back(0);
        }
    }
    return out;
}

// A coded part as a coder leaves it: whole bytes stuffed, the rest pending.
struct Part {
    Bits bits;
    int skip;
};

Bytes joinWithJoiner(const std::vector<Part>& parts, const Bits& leading) {
    Bytes memory(1 << 16);
    OutputStream stream;
    startOutputVector(&stream, memory.data(), static_cast<std::int32_t>(memory.size()));
    ScanJoiner joiner(&stream, writeBytesVector);
    for (std::size_t i = 0; i < leading.size(); ++i) {
        joiner.putBits(leading[i] ? 1 : 0, 1);
    }
    for (const Part& part : parts) {
        const std::size_t whole = part.bits.size() / 8 * 8;
        const Bytes bytes = stuffedBytes(Bits(part.bits.begin(), part.bits.begin() + whole), false);
        PendingBits tail;
        for (std::size_t i = whole; i < part.bits.size(); ++i) {
            tail.bits = (tail.bits << 1) | (part.bits[i] ? 1u : 0u);
            ++tail.count;
        }
        joiner.appendPart(bytes.data(), bytes.size(), tail, part.skip);
    }
    EXPECT_EQ(joiner.finish(), JPEG_SUCCESS);
    memory.resize(static_cast<std::size_t>(stream.cursor - stream.start));
    return memory;
}

Bytes joinWithModel(const std::vector<Part>& parts, const Bits& leading) {
    Bits all = leading;
    for (const Part& part : parts) {
        all.insert(all.end(),
                   part.bits.begin() + std::min<std::size_t>(part.skip, part.bits.size()),
                   part.bits.end());
    }
    return stuffedBytes(all, true);
}

// Random bits, or runs of ones (which make 0xFF bytes at every alignment).
Bits makeBits(std::mt19937& random, int count, bool ones) {
    Bits bits(static_cast<std::size_t>(count));
    for (auto&& bit : bits) {
        bit = ones || (random() & 1) != 0;
    }
    return bits;
}

struct JoinCase {
    const char* name;
    int leadingBits;
    std::vector<int> partBits; // bits of each part
    int skip;                  // bits left out of every part
    bool ones;
};
PRINT_CASE_AS_NAME(JoinCase)

class ScanJoinerTest : public ::testing::TestWithParam<JoinCase> {};

TEST_P(ScanJoinerTest, JoinedBytesAreThoseOfOneStream) {
    const JoinCase& c = GetParam();
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        const Bits leading = makeBits(random, c.leadingBits, c.ones);
        std::vector<Part> parts;
        for (const int bits : c.partBits) {
            parts.push_back({makeBits(random, bits, c.ones), c.skip});
        }
        EXPECT_EQ(joinWithJoiner(parts, leading), joinWithModel(parts, leading)) << "seed " << seed;
    }
}

const JoinCase kJoinCases[] = {
    {"AlignedParts", 0, {64, 128, 8}, 0, false},
    {"AlignedWithTails", 0, {67, 5, 131}, 0, false},
    {"ShiftedByOneBit", 1, {200, 3, 77}, 0, false},
    {"ShiftedBySevenBits", 7, {512, 31, 1}, 0, false},
    {"LongPartsShifted", 5, {8000, 4001}, 0, false},
    {"OnesEverywhere", 3, {97, 64, 250}, 0, true},
    {"OnesAligned", 0, {96, 64}, 0, true},
    {"EmptyParts", 2, {0, 0, 9, 0}, 0, false},
    {"SkipShortCode", 4, {40, 300, 16}, 2, false},
    {"SkipWholeBytes", 0, {70, 129}, 16, false},
    {"SkipMoreThanAByte", 6, {90, 12}, 11, true},
    {"SkipIntoTail", 1, {6, 9}, 5, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, ScanJoinerTest, ::testing::ValuesIn(kJoinCases),
                         [](const ::testing::TestParamInfo<JoinCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- Whole writes from a source with several lanes ----

// Rows of a whole image, handed out to the lanes; notes which lanes and threads asked and can
// fail one band. With `waitForLanes`, no lane gets rows before that many lanes have asked for
// some (for at most 10 s), so that each of them surely codes parts.
class ImageRows final : public JpegRowSource {
public:
    ImageRows(const RgbxImage& image, int lanes, int failingBand = -1, int waitForLanes = 0,
              std::int64_t partPixels = kDefaultPartPixels)
        : image_(image), lanes_(lanes), failingBand_(failingBand), waitForLanes_(waitForLanes),
          partPixels_(partPixels) {}

    const std::uint8_t* rows(int lane, std::int32_t firstRow, std::int32_t count) override {
        if (lane < 0 || lane >= lanes_ || lane >= kMaxRowSourceLanes || count < 1 ||
            firstRow + count > image_.height || firstRow / 8 == failingBand_) {
            return nullptr;
        }
        {
            std::unique_lock lock(mutex_);
            if (!askedBy_[lane]) {
                askedBy_[lane] = true;
                ++lanesAsked_;
            }
            threads_.insert(std::this_thread::get_id());
            changed_.notify_all();
            changed_.wait_for(lock, std::chrono::seconds(10),
                              [&] { return lanesAsked_ >= waitForLanes_; });
        }
        // A copy of the band, so that rows outside it cannot be reached.
        Bytes& band = bands_[lane];
        band.assign(image_.pixel(0, firstRow),
                    image_.pixel(0, firstRow) + (count - 1) * image_.stride() + image_.width * 4);
        return band.data();
    }
    int lanes() const override { return lanes_; }
    std::int64_t partPixels() const override { return partPixels_; }
    bool askedBy(int lane) {
        std::lock_guard lock(mutex_);
        return askedBy_[lane];
    }
    int lanesAsked() {
        std::lock_guard lock(mutex_);
        return lanesAsked_;
    }
    // The threads that asked for rows.
    std::set<std::thread::id> threads() {
        std::lock_guard lock(mutex_);
        return threads_;
    }

private:
    const RgbxImage& image_;
    int lanes_;
    int failingBand_;
    int waitForLanes_;
    std::int64_t partPixels_;
    Bytes bands_[kMaxRowSourceLanes];
    std::mutex mutex_;
    std::condition_variable changed_;
    bool askedBy_[kMaxRowSourceLanes] = {};
    int lanesAsked_ = 0;
    std::set<std::thread::id> threads_;
};

Encoded encodeRows(const RgbxImage& image, const char* processorClass, ImageRows& source) {
    Record p = newRecord(processorClass);
    describe(*p, image);
    Bytes buffer(1024 + static_cast<std::size_t>(image.width) * image.height * 8);
    p->outputBuffer = buffer.data();
    p->outputBufferSize = static_cast<std::int32_t>(buffer.size());
    Encoded result;
    result.status = jpegWriteRows(p.get(), JPEG_WRITE_BUFFER_IMAGE, &source);
    buffer.resize(result.status == JPEG_SUCCESS ? static_cast<std::size_t>(p->outputBufferSize)
                                                : 0);
    result.bytes = std::move(buffer);
    return result;
}

struct SizeCase {
    const char* name;
    int width;
    int height;
    bool photo;
    bool bothLanes; // the picture makes several parts, so the second lane takes some
};

const SizeCase kSizes[] = {
    {"TwoMcuRows", 8, 16, false, false},        {"OnePart", 37, 70, true, false},
    {"TallNarrow", 3, 40001, true, true},       {"ManyParts", 520, 1030, true, true},
    {"ManyPartsNoise", 257, 2049, false, true}, {"WideShort", 4100, 70, true, true},
};

struct LaneCase {
    SizeCase size;
    RoutineSetCase set;
};
inline void PrintTo(const LaneCase& row, std::ostream* out) {
    *out << row.size.name << row.set.name;
}

std::vector<LaneCase> laneCases() {
    std::vector<LaneCase> cases;
    for (const SizeCase& size : kSizes) {
        for (const RoutineSetCase& set : kEveryKernelSet) {
            cases.push_back({size, set});
        }
    }
    return cases;
}

class TwoLaneWriteTest : public ::testing::TestWithParam<LaneCase> {};

TEST_P(TwoLaneWriteTest, SameBytesAsTheWholeImageWrite) {
    const LaneCase& c = GetParam();
    if (const std::string reason = unavailableReason(c.set); !reason.empty()) {
        GTEST_SKIP() << reason;
    }
    const ScopedKernelSet kernels(c.set.kernels);
    const RgbxImage image =
        makeImage(c.size.width, c.size.height, 12,
                  c.size.photo ? photoLike(c.size.width, c.size.height, 3) : randomPixels(4));
    const Encoded whole = encodeToMemory(image, c.set.processorClass);
    ASSERT_EQ(whole.status, JPEG_SUCCESS);

    ImageRows oneLane(image, 1);
    EXPECT_EQ(encodeRows(image, c.set.processorClass, oneLane).bytes, whole.bytes);
    ImageRows twoLanes(image, 2, -1, c.size.bothLanes ? 2 : 0);
    const Encoded parts = encodeRows(image, c.set.processorClass, twoLanes);
    EXPECT_EQ(parts.status, JPEG_SUCCESS);
    EXPECT_EQ(parts.bytes, whole.bytes);
    if (c.size.bothLanes) {
        EXPECT_TRUE(twoLanes.askedBy(1));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TwoLaneWriteTest, ::testing::ValuesIn(laneCases()),
                         [](const ::testing::TestParamInfo<LaneCase>& info) {
                             return std::string(info.param.size.name) + info.param.set.name;
                         });

// Every lane count up to kMaxRowSourceLanes, and parts as small as one MCU row (many joins),
// give the bytes of one coder; fewer MCU rows than lanes too. A source with more lanes is read
// on kMaxRowSourceLanes (its rows() refuses the lanes beyond).
TEST(ManyLaneWrite, EveryLaneCountAndPartSizeGivesTheWholeImageBytes) {
    struct Case {
        int width, height, lanes;
        std::int64_t partPixels;
    };
    const Case cases[] = {{37, 70, 3, 1},
                          {37, 70, 4, 1},
                          {257, 129, 4, 1},
                          {257, 129, 3, 4000},
                          {21, 19, 2, 1},
                          {600, 500, 4, kDefaultPartPixels},
                          {16, 48, 6, 1},
                          {9, 17, 4, 1 << 30},
                          {37, 70, 16, 1},
                          {300, 700, 5, kDefaultPartPixels},
                          {300, 700, 8, kDefaultPartPixels},
                          {300, 700, 16, kDefaultPartPixels},
                          {1100, 900, 16, kDefaultPartPixels},
                          {1100, 900, 64, kDefaultPartPixels},
                          {45, 1203, 64, 1},
                          {45, 1203, 64, 2000},
                          {45, 1203, kMaxRowSourceLanes + 6, 1}};
    for (const Case& c : cases) {
        const RgbxImage image = makeImage(c.width, c.height, 4, photoLike(c.width, c.height, 7));
        for (const char* processorClass : {"0", "6"}) {
            const Encoded whole = encodeToMemory(image, processorClass);
            ASSERT_EQ(whole.status, JPEG_SUCCESS);
            ImageRows source(image, c.lanes, -1, false, c.partPixels);
            const Encoded parts = encodeRows(image, processorClass, source);
            EXPECT_EQ(parts.status, JPEG_SUCCESS);
            EXPECT_EQ(parts.bytes, whole.bytes)
                << c.width << "x" << c.height << ", " << c.lanes << " lanes, parts of "
                << c.partPixels << " pixels, class " << processorClass;
        }
    }
}

// Every lane of a source with several lanes codes parts: each asks for rows, and none gets
// them before all have asked. With few lanes the calling thread codes on lane 0 besides joining;
// from eight lanes on it only joins, and the lanes code on threads of their own.
TEST(ManyLaneWrite, EveryLaneCodesParts) {
    struct Case {
        int width, height, lanes;
        std::int64_t partPixels;
        bool callerCodes;
    };
    const Case cases[] = {
        {300, 700, 2, kDefaultPartPixels, true},    {300, 700, 3, kDefaultPartPixels, true},
        {600, 2000, 7, kDefaultPartPixels, true},   {600, 2000, 8, kDefaultPartPixels, false},
        {600, 2000, 16, kDefaultPartPixels, false}, {64, 600, 64, 1, false}};
    for (const Case& c : cases) {
        const RgbxImage image = makeImage(c.width, c.height, 4, photoLike(c.width, c.height, 2));
        const Encoded whole = encodeToMemory(image, "6");
        ASSERT_EQ(whole.status, JPEG_SUCCESS);
        ImageRows source(image, c.lanes, -1, c.lanes, c.partPixels);
        const Encoded parts = encodeRows(image, "6", source);
        EXPECT_EQ(parts.status, JPEG_SUCCESS);
        EXPECT_EQ(parts.bytes, whole.bytes) << c.lanes << " lanes";
        EXPECT_EQ(source.lanesAsked(), c.lanes);
        const std::set<std::thread::id> threads = source.threads();
        EXPECT_EQ(threads.size(), static_cast<std::size_t>(c.lanes)) << c.lanes << " lanes";
        EXPECT_EQ(threads.count(std::this_thread::get_id()), c.callerCodes ? 1u : 0u)
            << c.lanes << " lanes";
    }
}

// A band that cannot be produced ends the write with -23 wherever it lies.
TEST(TwoLaneWrite, UnavailableBandEndsTheWriteWithFileError) {
    const RgbxImage image = makeImage(300, 2000, 0, photoLike(300, 2000, 5));
    for (const int lanes : {2, 9}) {
        for (const int band : {0, 1, 77, 180, 249}) {
            ImageRows source(image, lanes, band);
            EXPECT_EQ(encodeRows(image, "6", source).status, JPEG_ERR_FILE)
                << lanes << " lanes, band " << band;
        }
    }
}

// Caller memory that ends within the scan gives the same status as the whole-image write.
TEST(TwoLaneWrite, TooSmallMemoryIsReportedAsForTheWholeImage) {
    const RgbxImage image = makeImage(640, 640, 0, randomPixels(9));
    for (const std::size_t capacity : {std::size_t{700}, std::size_t{5000}, std::size_t{300000}}) {
        Record p = newRecord("6");
        describe(*p, image);
        Bytes buffer(capacity);
        p->outputBuffer = buffer.data();
        p->outputBufferSize = static_cast<std::int32_t>(capacity);
        ImageRows source(image, 2);
        EXPECT_EQ(jpegWriteRows(p.get(), JPEG_WRITE_BUFFER_IMAGE, &source),
                  encodeToMemory(image, "6", 95, capacity).status);
    }
}

} // namespace
