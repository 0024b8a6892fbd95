#include "entropyTestSupport.h"
#include "support/testFiles.h"

#include "jpeg/jpegFile.h"
#include "jpeg/outputSink.h"
#include "jpeg/outputStream.h"
#include "jpeg/zigzag.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace entropy_test;
using Block = std::array<std::int16_t, 64>;
using Bytes = std::vector<std::uint8_t>;

const std::uint8_t kEoi[2] = {0xFF, 0xD9};
constexpr std::uint8_t kGuard = 0xA5;

// A stream writing into memory of `capacity` bytes followed by guard bytes that must stay
// untouched.
class MemoryCoder {
public:
    MemoryCoder(const BitOutputSet& set, std::size_t capacity)
        : set_(set), stream_(newStream()), memory_(capacity + 32, kGuard), capacity_(capacity) {
        set_.startOutput(stream_.get(), memory_.data(), static_cast<std::int32_t>(capacity));
    }

    int block(const Block& b, const HuffmanCodeTable& dc, const HuffmanCodeTable& ac,
              std::int16_t& predictor) {
        return set_.encodeBlock(stream_.get(), &dc, &ac, &predictor, b.data());
    }
    int bytes(const std::uint8_t* data, int count) {
        return set_.writeBytes(data, count, stream_.get());
    }
    Bytes output() const {
        return Bytes(memory_.begin(), memory_.begin() + (stream_->cursor - stream_->start));
    }
    bool guardIntact() const {
        for (std::size_t i = capacity_; i < memory_.size(); ++i) {
            if (memory_[i] != kGuard) {
                return false;
            }
        }
        return true;
    }
    OutputStream& stream() { return *stream_; }

private:
    const BitOutputSet& set_;
    std::unique_ptr<OutputStream> stream_;
    Bytes memory_;
    std::size_t capacity_;
};

Block blockWithZigzag(std::initializer_list<std::pair<int, int>> positions) {
    Block b{};
    for (const auto& [k, v] : positions) {
        b[static_cast<std::size_t>(kZigzagNatural[k])] = static_cast<std::int16_t>(v);
    }
    return b;
}

// Quantised-looking blocks: DC anywhere in category 0..10, AC mostly small with runs of zeros
// of every length and now and then a value up to category 10.
std::vector<Block> randomBlocks(std::mt19937& rng, int count) {
    std::uniform_int_distribution<int> dc(-1023, 1023);
    std::uniform_int_distribution<int> small(-6, 6);
    std::uniform_int_distribution<int> large(-1023, 1023);
    std::uniform_int_distribution<int> percent(0, 99);
    std::vector<Block> blocks(static_cast<std::size_t>(count));
    for (Block& b : blocks) {
        b[0] = static_cast<std::int16_t>(dc(rng));
        const int density = percent(rng);
        for (int k = 1; k < 64; ++k) {
            if (percent(rng) < density) {
                const int v = percent(rng) < 5 ? large(rng) : small(rng);
                b[static_cast<std::size_t>(kZigzagNatural[k])] = static_cast<std::int16_t>(v);
            }
        }
    }
    return blocks;
}

struct ComponentTables {
    HuffmanCodeTable dc, ac;
};

const ComponentTables& luminance() {
    static const ComponentTables t = {derive(kLuminanceDc), derive(kLuminanceAc)};
    return t;
}
const ComponentTables& chrominance() {
    static const ComponentTables t = {derive(kChrominanceDc), derive(kChrominanceAc)};
    return t;
}

// Codes blocks as an interleaved three-component scan (Y, Cb, Cr) followed by EOI.
// Returns the first failure, or 0.
template <typename Coder> int codeScan(Coder& coder, const std::vector<Block>& blocks) {
    std::int16_t predictors[3] = {};
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const ComponentTables& t = i % 3 == 0 ? luminance() : chrominance();
        if (const int result = coder.block(blocks[i], t.dc, t.ac, predictors[i % 3]); result != 0) {
            return result;
        }
    }
    return coder.bytes(kEoi, 2);
}

// Decodes a scan written by codeScan and checks it against the blocks.
void expectScanDecodesTo(const Bytes& bytes, const std::vector<Block>& blocks) {
    const Decoder lumDc(kLuminanceDc), lumAc(kLuminanceAc);
    const Decoder chromDc(kChrominanceDc), chromAc(kChrominanceAc);
    BitReader reader(bytes);
    std::int32_t predictors[3] = {};
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const bool lum = i % 3 == 0;
        const auto decoded =
            decodeBlock(reader, lum ? lumDc : chromDc, lum ? lumAc : chromAc, predictors[i % 3]);
        ASSERT_TRUE(decoded.has_value()) << "block " << i;
        ASSERT_EQ(decoded->coefficients, blocks[i]) << "block " << i;
    }
    EXPECT_TRUE(reader.restIsPadding());
    ASSERT_EQ(reader.position() + 2, bytes.size());
    EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
    EXPECT_EQ(bytes[bytes.size() - 1], 0xD9);
}

class BitOutput : public ::testing::TestWithParam<const BitOutputSet*> {
protected:
    void SetUp() override {
        if (set().encodeBlock == nullptr) {
            GTEST_SKIP() << "this build or processor has no " << set().name << " kernels";
        }
    }
    const BitOutputSet& set() const { return *GetParam(); }
};

TEST_P(BitOutput, AllZeroBlockSendsDcCategoryZeroAndEob) {
    MemoryCoder coder(set(), 64);
    std::int16_t predictor = 0;
    ASSERT_EQ(coder.block(Block{}, luminance().dc, luminance().ac, predictor), 0);
    ASSERT_EQ(coder.bytes(kEoi, 2), 0);
    // 00 (DC category 0), 1010 (EOB), padded with 11.
    EXPECT_EQ(coder.output(), (Bytes{0x2B, 0xFF, 0xD9}));
}

TEST_P(BitOutput, DcDifferenceMinusOneIsCategoryOneWithValueBitZero) {
    MemoryCoder coder(set(), 64);
    std::int16_t predictor = 0;
    ASSERT_EQ(coder.block(blockWithZigzag({{0, -1}}), luminance().dc, luminance().ac, predictor),
              0);
    ASSERT_EQ(coder.bytes(kEoi, 2), 0);
    // 010 (category 1), 0 (value bit), 1010 (EOB): a whole byte, no padding.
    EXPECT_EQ(coder.output(), (Bytes{0x4A, 0xFF, 0xD9}));
    EXPECT_EQ(predictor, -1);
}

struct SymbolCase {
    const char* name;
    std::int16_t predictor;
    Block block;
    std::vector<int> symbols; // DC category, then AC symbols
};

TEST_P(BitOutput, BlocksCodeToTheExpectedSymbols) {
    const std::vector<SymbolCase> cases = {
        {"dc 255", 0, blockWithZigzag({{0, 255}}), {8, 0x00}},
        {"dc 256", 0, blockWithZigzag({{0, 256}}), {9, 0x00}},
        {"dc -256", 0, blockWithZigzag({{0, -256}}), {9, 0x00}},
        {"dc difference from predictor", 300, blockWithZigzag({{0, 44}}), {9, 0x00}},
        {"dc difference 2047", -1024, blockWithZigzag({{0, 1023}}), {11, 0x00}},
        {"17 zeros", 0, blockWithZigzag({{18, 1}}), {0, 0xF0, 0x11, 0x00}},
        {"16 zeros", 0, blockWithZigzag({{17, -1}}), {0, 0xF0, 0x01, 0x00}},
        {"15 zeros", 0, blockWithZigzag({{16, 1}}), {0, 0xF1, 0x00}},
        {"32 zeros", 0, blockWithZigzag({{33, 3}}), {0, 0xF0, 0xF0, 0x02, 0x00}},
        {"position 63 only", 0, blockWithZigzag({{63, 1}}), {0, 0xF0, 0xF0, 0xF0, 0xE1}},
        {"positions 1 and 63",
         0,
         blockWithZigzag({{1, 2}, {63, -2}}),
         {0, 0x02, 0xF0, 0xF0, 0xF0, 0xD2}},
        {"trailing zeros", 0, blockWithZigzag({{1, 1}, {2, -1}}), {0, 0x01, 0x01, 0x00}},
        {"every position", 0,
         [] {
             Block b;
             b.fill(1);
             return b;
         }(),
         [] {
             std::vector<int> s = {1};
             s.insert(s.end(), 63, 0x01);
             return s;
         }()},
        {"largest values",
         0,
         blockWithZigzag({{0, 1023}, {1, 1023}, {2, -1023}, {62, -512}}),
         {10, 0x0A, 0x0A, 0xF0, 0xF0, 0xF0, 0xBA, 0x00}},
    };
    const Decoder dc(kLuminanceDc), ac(kLuminanceAc);
    for (const SymbolCase& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryCoder coder(set(), 256);
        std::int16_t predictor = c.predictor;
        ASSERT_EQ(coder.block(c.block, luminance().dc, luminance().ac, predictor), 0);
        EXPECT_EQ(predictor, c.block[0]);
        ASSERT_EQ(coder.bytes(kEoi, 2), 0);
        const Bytes bytes = coder.output();
        BitReader reader(bytes);
        std::int32_t decodedPredictor = c.predictor;
        const auto decoded = decodeBlock(reader, dc, ac, decodedPredictor);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->symbols, c.symbols);
        EXPECT_EQ(decoded->coefficients, c.block);
        EXPECT_TRUE(reader.restIsPadding());
        EXPECT_EQ(reader.position() + 2, bytes.size());
    }
}

// Tables that give the DC category 0 and the EOB chosen codes, so that a zero block leaves a
// chosen bit pattern pending.
ComponentTables tablesForPattern(std::uint16_t dcCode, int dcLength, std::uint16_t eobCode,
                                 int eobLength) {
    ComponentTables t{};
    t.dc.code[0] = dcCode;
    t.dc.length[0] = dcLength;
    t.ac.code[0] = eobCode;
    t.ac.length[0] = eobLength;
    return t;
}

TEST_P(BitOutput, PendingBitsArePaddedWithOnesAndFFIsStuffed) {
    struct Case {
        const char* name;
        ComponentTables tables;
        Bytes expected;
    };
    const Case cases[] = {
        {"101", tablesForPattern(0b1, 1, 0b01, 2), {0xBF, 0xFF, 0xD9}},
        {"11111", tablesForPattern(0b11, 2, 0b111, 3), {0xFF, 0x00, 0xFF, 0xD9}},
        {"8 ones", tablesForPattern(0b1111, 4, 0b1111, 4), {0xFF, 0x00, 0xFF, 0xD9}},
        {"9 bits", tablesForPattern(0b11111, 5, 0b0000, 4), {0xF8, 0x7F, 0xFF, 0xD9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryCoder coder(set(), 64);
        std::int16_t predictor = 0;
        ASSERT_EQ(coder.block(Block{}, c.tables.dc, c.tables.ac, predictor), 0);
        ASSERT_EQ(coder.bytes(kEoi, 2), 0);
        EXPECT_EQ(coder.output(), c.expected);
        EXPECT_EQ(coder.stream().byteCount, static_cast<std::int32_t>(c.expected.size()));
    }
}

TEST_P(BitOutput, MarkerWithNothingPendingIsWrittenAlone) {
    MemoryCoder coder(set(), 64);
    const std::uint8_t soi[2] = {0xFF, 0xD8};
    ASSERT_EQ(coder.bytes(soi, 2), 0);
    ASSERT_EQ(coder.bytes(kEoi, 2), 0);
    ASSERT_EQ(coder.bytes(nullptr, 0), 0);
    EXPECT_EQ(coder.output(), (Bytes{0xFF, 0xD8, 0xFF, 0xD9}));
    EXPECT_EQ(coder.stream().byteCount, 4);
}

TEST_P(BitOutput, OnePixelImageScan) {
    // The 1 x 1 (64, 64, 64) image: Y quantises to DC -256, Cb and Cr to zero blocks.
    MemoryCoder coder(set(), 64);
    std::int16_t predictors[3] = {};
    ASSERT_EQ(
        coder.block(blockWithZigzag({{0, -256}}), luminance().dc, luminance().ac, predictors[0]),
        0);
    ASSERT_EQ(coder.block(Block{}, chrominance().dc, chrominance().ac, predictors[1]), 0);
    ASSERT_EQ(coder.block(Block{}, chrominance().dc, chrominance().ac, predictors[2]), 0);
    ASSERT_EQ(coder.bytes(kEoi, 2), 0);
    EXPECT_EQ(coder.output(), (Bytes{0xFC, 0xFF, 0x00, 0xA0, 0x0F, 0xFF, 0xD9}));
    EXPECT_EQ(coder.stream().byteCount, 7);
}

TEST_P(BitOutput, SymbolWithoutCodeFailsAfterUpdatingThePredictor) {
    struct Case {
        const char* name;
        Block block;
        ComponentTables tables;
    };
    ComponentTables noZrl = luminance();
    noZrl.ac.length[0xF0] = 0;
    ComponentTables noEob = luminance();
    noEob.ac.length[0x00] = 0;
    const Case cases[] = {
        {"dc category 12", blockWithZigzag({{0, 2048}}), luminance()},
        {"dc category 16", blockWithZigzag({{0, -32768}}), luminance()},
        {"ac category 11", blockWithZigzag({{0, 5}, {3, 1024}}), luminance()},
        {"ac -32768", blockWithZigzag({{0, 5}, {1, -32768}}), luminance()},
        {"ac -32768 after 15 zeros", blockWithZigzag({{0, 5}, {16, -32768}}), luminance()},
        {"ac 32767", blockWithZigzag({{0, 5}, {1, 32767}}), luminance()},
        {"no ZRL", blockWithZigzag({{0, 5}, {20, 1}}), noZrl},
        {"no EOB", blockWithZigzag({{0, 5}, {20, 1}}), noEob},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryCoder coder(set(), 256);
        std::int16_t predictor = 0;
        EXPECT_EQ(coder.block(c.block, c.tables.dc, c.tables.ac, predictor), -6);
        EXPECT_EQ(predictor, c.block[0]);
        EXPECT_TRUE(coder.guardIntact());
    }
}

TEST_P(BitOutput, RandomScanDecodesToItsBlocks) {
    std::mt19937 rng(42);
    const std::vector<Block> blocks = randomBlocks(rng, 3000);
    MemoryCoder coder(set(), 1 << 20);
    ASSERT_EQ(codeScan(coder, blocks), 0);
    const Bytes bytes = coder.output();
    EXPECT_EQ(coder.stream().byteCount, static_cast<std::int32_t>(bytes.size()));
    expectScanDecodesTo(bytes, blocks);
}

TEST_P(BitOutput, MemoryNeedsOneSpareByteAndIsNeverOverrun) {
    std::mt19937 rng(3);
    const std::vector<Block> blocks = randomBlocks(rng, 12);
    MemoryCoder reference(set(), 1 << 16);
    ASSERT_EQ(codeScan(reference, blocks), 0);
    const Bytes expected = reference.output();
    const std::size_t length = expected.size();
    for (std::size_t capacity = 0; capacity <= length + 1; ++capacity) {
        SCOPED_TRACE(capacity);
        MemoryCoder coder(set(), capacity);
        const int result = codeScan(coder, blocks);
        EXPECT_TRUE(coder.guardIntact());
        const Bytes out = coder.output();
        EXPECT_EQ(coder.stream().byteCount, static_cast<std::int32_t>(out.size()));
        ASSERT_LE(out.size(), capacity);
        EXPECT_TRUE(std::equal(out.begin(), out.end(), expected.begin()));
        if (capacity > length) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(out, expected);
        } else {
            EXPECT_EQ(result, -28);
        }
    }
}

TEST_P(BitOutput, MarkerThatWouldReachTheEndOfMemoryIsRefused) {
    const std::uint8_t soi[2] = {0xFF, 0xD8};
    MemoryCoder exact(set(), 2);
    EXPECT_EQ(exact.bytes(soi, 2), -28);
    EXPECT_TRUE(exact.output().empty());
    EXPECT_EQ(exact.stream().byteCount, 0);
    MemoryCoder spare(set(), 3);
    EXPECT_EQ(spare.bytes(soi, 2), 0);
    EXPECT_EQ(spare.output(), (Bytes{0xFF, 0xD8}));
}

TEST_P(BitOutput, RestartMarkers) {
    MemoryCoder coder(set(), 64);
    std::int16_t predictor = 0;
    ASSERT_EQ(coder.block(Block{}, luminance().dc, luminance().ac, predictor), 0);
    for (int n = 0; n < 8; ++n) {
        ASSERT_EQ(writeRestartMarker(n, &coder.stream(), set().writeBytes), 0);
    }
    EXPECT_EQ(writeRestartMarker(8, &coder.stream(), set().writeBytes), -25);
    EXPECT_EQ(writeRestartMarker(-1, &coder.stream(), set().writeBytes), -25);
    EXPECT_EQ(coder.output(), (Bytes{0x2B, 0xFF, 0xD0, 0xFF, 0xD1, 0xFF, 0xD2, 0xFF, 0xD3, 0xFF,
                                     0xD4, 0xFF, 0xD5, 0xFF, 0xD6, 0xFF, 0xD7}));
}

TEST_P(BitOutput, FlushInMemoryWritesThePaddedPendingBits) {
    MemoryCoder coder(set(), 64);
    std::int16_t predictor = 0;
    ASSERT_EQ(coder.block(Block{}, luminance().dc, luminance().ac, predictor), 0);
    ASSERT_EQ(flushOutput(&coder.stream(), set().writeBytes), 0);
    ASSERT_EQ(flushOutput(&coder.stream(), set().writeBytes), 0);
    EXPECT_EQ(coder.output(), (Bytes{0x2B}));
}

// A stream writing to a file through the 4,096-byte buffer.
class FileCoder {
public:
    FileCoder(const BitOutputSet& set, const std::string& path)
        : set_(set), stream_(newStream()), file_(jpegFileOpen(path.c_str())), sink_(file_) {
        stream_->sink = &sink_;
        set_.startOutput(stream_.get(), nullptr, 0);
    }
    ~FileCoder() {
        if (file_ != kNoJpegFile) {
            jpegFileClose(file_);
        }
    }
    FileCoder(const FileCoder&) = delete;
    FileCoder& operator=(const FileCoder&) = delete;

    bool isOpen() const { return file_ != kNoJpegFile; }
    int block(const Block& b, const HuffmanCodeTable& dc, const HuffmanCodeTable& ac,
              std::int16_t& predictor) {
        return set_.encodeBlock(stream_.get(), &dc, &ac, &predictor, b.data());
    }
    int bytes(const std::uint8_t* data, int count) {
        return set_.writeBytes(data, count, stream_.get());
    }
    int flush() {
        const int result = flushOutput(stream_.get(), set_.writeBytes);
        return result != 0 ? result : sink_.finish();
    }
    bool close() {
        const bool ok = jpegFileClose(file_);
        file_ = kNoJpegFile;
        return ok;
    }
    OutputStream& stream() { return *stream_; }

private:
    const BitOutputSet& set_;
    std::unique_ptr<OutputStream> stream_;
    JpegFileHandle file_;
    FileSink sink_;
};

TEST_P(BitOutput, FileReceivesExactlyTheBytesOfMemoryModeAcrossManyBuffers) {
    std::mt19937 rng(11);
    const std::vector<Block> blocks = randomBlocks(rng, 6000);
    MemoryCoder memory(kPlainSet, 1 << 22);
    ASSERT_EQ(codeScan(memory, blocks), 0);
    const Bytes expected = memory.output();
    ASSERT_GT(expected.size(), 20u * kFileBufferSize);

    testing_support::ScratchDir dir;
    const std::string path = dir.file("scan.jpg");
    FileCoder file(set(), path);
    ASSERT_TRUE(file.isOpen());
    const std::uint8_t soi[2] = {0xFF, 0xD8};
    ASSERT_EQ(file.bytes(soi, 2), 0);
    ASSERT_EQ(file.flush(), 0);
    ASSERT_EQ(codeScan(file, blocks), 0);
    ASSERT_EQ(file.flush(), 0);
    EXPECT_EQ(file.stream().byteCount, static_cast<std::int32_t>(expected.size() + 2));
    ASSERT_TRUE(file.close());

    Bytes withSoi = {0xFF, 0xD8};
    withSoi.insert(withSoi.end(), expected.begin(), expected.end());
    EXPECT_EQ(testing_support::readFile(path), withSoi);
}

TEST_P(BitOutput, LongMarkerSegmentsSpanFileBuffers) {
    testing_support::ScratchDir dir;
    const std::string path = dir.file("long.bin");
    Bytes expected;
    {
        FileCoder file(set(), path);
        ASSERT_TRUE(file.isOpen());
        std::mt19937 rng(8);
        for (int piece = 0; piece < 40; ++piece) {
            Bytes data(static_cast<std::size_t>(rng() % 9000));
            for (auto& b : data) {
                b = static_cast<std::uint8_t>(rng());
            }
            ASSERT_EQ(file.bytes(data.data(), static_cast<int>(data.size())), 0);
            expected.insert(expected.end(), data.begin(), data.end());
        }
        ASSERT_EQ(file.flush(), 0);
        EXPECT_EQ(file.stream().byteCount, static_cast<std::int32_t>(expected.size()));
    }
    EXPECT_EQ(testing_support::readFile(path), expected);
}

TEST_P(BitOutput, FailedFileWritesGiveFileError) {
    std::mt19937 rng(12);
    const std::vector<Block> blocks = randomBlocks(rng, 3000);
    {
        FileCoder file(set(), "/dev/full");
        ASSERT_TRUE(file.isOpen());
        EXPECT_EQ(codeScan(file, blocks), -23);
    }
    {
        FileCoder file(set(), "/dev/full");
        ASSERT_TRUE(file.isOpen());
        std::int16_t predictor = 0;
        ASSERT_EQ(file.block(blocks[0], luminance().dc, luminance().ac, predictor), 0);
        EXPECT_EQ(file.flush(), -23);
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, BitOutput,
                         ::testing::Values(&kPlainSet, &kVectorSet, &kAvx2Set, &kAvx512Set),
                         [](const auto& info) { return std::string(info.param->name); });

// Tables with a code for every DC category up to 16 and every AC symbol with a category up to
// 15, so that blocks may use the whole 16-bit range (except the AC value -32768).
const HuffmanSpec& wideDcSpec() {
    static const HuffmanSpec spec = [] {
        HuffmanSpec s{};
        s.bits[4] = 17;
        for (int c = 0; c <= 16; ++c) {
            s.huffval.push_back(static_cast<std::uint8_t>(c));
        }
        return s;
    }();
    return spec;
}
const HuffmanSpec& wideAcSpec() {
    static const HuffmanSpec spec = [] {
        HuffmanSpec s{};
        s.huffval = {0x00, 0xF0};
        for (int run = 0; run < 16; ++run) {
            for (int c = 1; c <= 15; ++c) {
                s.huffval.push_back(static_cast<std::uint8_t>((run << 4) | c));
            }
        }
        s.bits[7] = static_cast<std::uint8_t>(s.huffval.size());
        return s;
    }();
    return spec;
}

std::vector<Block> wideRandomBlocks(std::mt19937& rng, int count) {
    std::uniform_int_distribution<int> any(-32768, 32767);
    std::uniform_int_distribution<int> category(0, 15);
    std::uniform_int_distribution<int> percent(0, 99);
    std::vector<Block> blocks(static_cast<std::size_t>(count));
    for (Block& b : blocks) {
        b[0] = static_cast<std::int16_t>(any(rng));
        const int density = percent(rng); // sparse and dense blocks alike
        for (int n = 1; n < 64; ++n) {
            if (percent(rng) < density) {
                // Every category equally often, both signs, never -32768.
                const int c = category(rng);
                const int magnitude = c == 0 ? 0 : (1 << (c - 1)) + any(rng) % (1 << (c - 1));
                const int v = percent(rng) < 50 ? -std::abs(magnitude) : std::abs(magnitude);
                b[static_cast<std::size_t>(n)] = static_cast<std::int16_t>(v);
            }
        }
    }
    return blocks;
}

TEST_P(BitOutput, EveryCategoryUpToSixteenBitsRoundTrips) {
    const HuffmanCodeTable dc = derive(wideDcSpec()), ac = derive(wideAcSpec());
    const Decoder dcDecoder(wideDcSpec()), acDecoder(wideAcSpec());
    std::mt19937 rng(77);
    const std::vector<Block> blocks = wideRandomBlocks(rng, 2000);
    MemoryCoder coder(set(), 1 << 20);
    std::int16_t predictor = 0;
    for (const Block& b : blocks) {
        ASSERT_EQ(coder.block(b, dc, ac, predictor), 0);
    }
    ASSERT_EQ(coder.bytes(kEoi, 2), 0);
    const Bytes bytes = coder.output();
    BitReader reader(bytes);
    std::int32_t decodedPredictor = 0;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const auto decoded = decodeBlock(reader, dcDecoder, acDecoder, decodedPredictor);
        ASSERT_TRUE(decoded.has_value()) << "block " << i;
        // The decoder's predictor runs in 32 bits; the coefficient is its low 16 bits.
        ASSERT_EQ(decoded->coefficients, blocks[i]) << "block " << i;
    }
}

// Blocks of extreme values only, dense and sparse: every AC value is 32767, -32767, 1, -1 or
// 0 (-32768 has no AC symbol), the DC any 16-bit value.
std::vector<Block> extremeBlocks(std::mt19937& rng, int count) {
    std::uniform_int_distribution<int> any(-32768, 32767);
    std::uniform_int_distribution<int> pick(0, 4);
    std::uniform_int_distribution<int> percent(0, 99);
    const std::int16_t extremes[] = {32767, -32767, 1, -1, 0};
    std::vector<Block> blocks(static_cast<std::size_t>(count));
    for (Block& b : blocks) {
        b[0] = static_cast<std::int16_t>(any(rng));
        const int density = percent(rng);
        for (int n = 1; n < 64; ++n) {
            if (percent(rng) < density) {
                b[static_cast<std::size_t>(n)] = extremes[pick(rng)];
            }
        }
    }
    return blocks;
}

// Every vector set writes the plain set's bytes, for quantised-looking blocks with the
// default tables and for blocks of the whole 16-bit range and of extreme values with tables
// that code every category.
TEST(BitOutputSets, EveryVectorSetWritesThePlainBytes) {
    const HuffmanCodeTable dc = derive(wideDcSpec()), ac = derive(wideAcSpec());
    int compared = 0;
    for (const BitOutputSet* set : {&kVectorSet, &kAvx2Set, &kAvx512Set}) {
        if (set->encodeBlock == nullptr) {
            continue;
        }
        SCOPED_TRACE(set->name);
        ++compared;
        std::mt19937 rng(21);
        for (int round = 0; round < 20; ++round) {
            const std::vector<Block> blocks = randomBlocks(rng, 300);
            MemoryCoder plain(kPlainSet, 1 << 18);
            MemoryCoder vector(*set, 1 << 18);
            ASSERT_EQ(codeScan(plain, blocks), 0);
            ASSERT_EQ(codeScan(vector, blocks), 0);
            ASSERT_EQ(plain.output(), vector.output()) << "round " << round;
        }
        for (const std::vector<Block>& blocks :
             {wideRandomBlocks(rng, 3000), extremeBlocks(rng, 3000)}) {
            MemoryCoder plain(kPlainSet, 1 << 21);
            MemoryCoder vector(*set, 1 << 21);
            std::int16_t predictors[2] = {};
            for (const Block& b : blocks) {
                ASSERT_EQ(plain.block(b, dc, ac, predictors[0]), 0);
                ASSERT_EQ(vector.block(b, dc, ac, predictors[1]), 0);
            }
            ASSERT_EQ(plain.bytes(kEoi, 2), 0);
            ASSERT_EQ(vector.bytes(kEoi, 2), 0);
            EXPECT_EQ(plain.output(), vector.output());
        }
    }
    if (compared < 3) {
        GTEST_SKIP() << "compared " << compared << " of the 3 vector sets: this build or "
                     << "processor lacks the others";
    }
}

} // namespace
