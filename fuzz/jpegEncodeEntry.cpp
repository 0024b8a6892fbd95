// The JPEG encoder on one input: a properties record inside and outside the accepted ranges,
// source pixels in a block of exactly the size the record describes (so that any read past it
// is caught), an output buffer of exactly the announced capacity, then jpegWrite with the plain
// and with the vector routine set. Checks that the status is a listed one, that a successful
// write stays within the buffer and forms a complete stream, and that the routine sets agree
// wherever they must give the same bytes: the transforms of the two sets may differ in the
// last bit, so each set is also run with the other's transforms (plain transforms in the
// vector set must give the plain stream; the portable vector transforms the SSE2 stream), and
// the SSE2 and AVX2 kernel sets, where the processor has them, the widest set's stream.
// Shared by the fuzz target and the regression replay in the tests.
#include "fuzzEntries.h"

#include "fuzzInput.h"
#include "jpeg/blockTransform.h"
#include "jpeg/jpegEncoder.h"
#include "jpeg/processorInfo.h"
#include "jpeg/routineTable.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fuzz_entry {

// Source pictures are kept small, a few thousand pixels (a source block of at most 16 KiB, a
// single row included), so that a run takes well under a millisecond: the coder works one
// block at a time, so small pictures show the same faults as large ones. Larger blocks are
// skipped, except for sizes that must be refused.
inline constexpr std::int64_t kEncodeByteLimit = std::int64_t{1} << 14;
inline constexpr std::int64_t kOutputByteLimit = std::int64_t{1} << 20;
// Writes of a suspended scan that are resumed before the record is given up.
inline constexpr int kEncodeResumeLimit = 64;

// A caller-supplied Huffman table: 16 counts and exactly as many symbols as they add up to.
struct FuzzHuffmanTable {
    std::uint8_t bits[16];
    std::vector<std::uint8_t> values;
    std::uint8_t tableClass;
    std::uint8_t tableNumber;
};

struct FuzzQuantTable {
    std::uint8_t values[64];
    std::uint8_t tableNumber;
};

// Everything one input asks for; run once per routine set.
struct EncodePlan {
    std::int32_t request = JPEG_WRITE_BUFFER_IMAGE;
    std::int32_t inputWidth = 0;
    std::int32_t inputHeight = 0;
    std::int32_t inputRowPadding = 0;
    std::int32_t inputChannels = 0;
    std::int32_t inputColor = 0;
    std::int32_t inputSampling = 0;
    std::int32_t outputWidth = 0;
    std::int32_t outputHeight = 0;
    std::int32_t outputChannels = 0;
    std::int32_t outputColor = 0;
    std::int32_t outputSampling = 0;
    std::int32_t convertColor = 1;
    std::int32_t upsample = 1;
    std::int32_t quality = 75;
    std::int32_t dctMethod = 1;
    std::int32_t restartInterval = 0;
    std::int32_t outputCapacity = 0; // bytes of the output block, also outputBufferSize
    bool noPixels = false;
    bool noOutputBuffer = false;
    bool suspend = false;    // code one MCU per write, resuming the suspended scan
    bool writeAgain = false; // after a success, write once more from the kept state
    int fileName = 0;        // file requests: 0 a memory file, 1 no name, 2 a folder
    bool comment = false;
    std::vector<std::uint8_t> commentText;
    std::vector<FuzzQuantTable> quantTables;
    std::vector<FuzzHuffmanTable> huffmanTables;
    std::int64_t pixelBytes = 0; // size of the source block
    std::vector<std::uint8_t> pixelSeed;
};

struct EncodeOutcome {
    // Back to no outcome, the memory of the bytes kept for the next run.
    void clear() {
        status = 0;
        againStatus = 0;
        size = 0;
        bytes.clear();
    }
    int status = 0;
    int againStatus = 0;
    std::int32_t size = 0;
    std::string bytes;
};

// Bytes the encoder may read from the source: every row but the last with its padding.
inline std::int64_t sourceBlockSize(const EncodePlan& plan) {
    const std::int64_t rows = std::llabs(std::int64_t{plan.inputHeight});
    const std::int64_t rowBytes = plan.inputSampling == 2
                                      ? 2 * std::int64_t{plan.inputWidth}
                                      : std::int64_t{plan.inputWidth} * plan.inputChannels;
    if (rows == 0 || rowBytes <= 0) {
        return 0;
    }
    if (rowBytes > kEncodeByteLimit) {
        return kEncodeByteLimit + 1;
    }
    const std::int64_t padding = plan.inputRowPadding > 0 ? plan.inputRowPadding : 0;
    return (rows - 1) * (rowBytes + padding) + rowBytes;
}

// Reads the plan; false when the input asks for more memory than one run may take.
inline bool readEncodePlan(fuzz_support::FuzzInput& in, EncodePlan& plan) {
    static constexpr std::int32_t kBufferRequests[] = {9, 9, 9, 9, 11, 13, 13};
    static constexpr std::int32_t kOtherRequests[] = {8, 10, 12, 0, 7, 14, 21, 22, -1};
    static constexpr std::int32_t kColors[] = {1, 2, 3, 4, 5, 6, 255};
    static constexpr std::int32_t kChannels[] = {1, 2, 3, 4, 4};
    static constexpr std::int32_t kSamplings[] = {0, 0, 1, 2, 3, 4};
    static constexpr std::int32_t kQualities[] = {1, 2, 25, 50, 75, 90, 95, 99, 100, 0, 101};
    static constexpr std::int32_t kPaddings[] = {0, 0, 0, 1, 2, 3, 4, 7, 8, 12};
    static constexpr std::int32_t kSmallSizes[] = {1, 2, 3, 5, 7, 8, 9, 15, 16, 17, 31, 33, 64};

    const std::uint8_t mode = in.byte();
    plan.request = mode % 16 == 0 ? in.pick(kOtherRequests) : in.pick(kBufferRequests);

    // Sizes: mostly small, sometimes up to a few hundred, sometimes anything.
    auto size = [&]() -> std::int32_t {
        switch (in.byte() % 64) {
        case 0:
            return in.range(1, 256);
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
            return in.range(1, 48);
        case 6:
        case 7:
        case 8:
        case 9:
            return in.choose(kSmallSizes);
        default:
            return in.pick(kSmallSizes);
        }
    };
    plan.inputWidth = size();
    plan.inputHeight = size();
    if (in.oneIn(4) && plan.inputHeight != std::numeric_limits<std::int32_t>::min()) {
        plan.inputHeight = -plan.inputHeight; // rows stored top-down
    }

    if (mode & 0x10) {
        // The layout the tool uses, which reaches the scan: RGB pixels of 4 bytes to YCbCr.
        plan.inputChannels = 4;
        plan.inputColor = JPEG_COLOR_RGB;
        plan.outputChannels = 3;
        plan.outputColor = JPEG_COLOR_YCBCR;
        plan.outputSampling = in.oneIn(8) ? in.pick(kSamplings) : JPEG_SAMPLING_NONE;
        plan.inputRowPadding = in.pick(kPaddings);
        plan.inputSampling = 0;
        plan.outputWidth = in.oneIn(8) ? in.range(1, plan.inputWidth) : plan.inputWidth;
        const std::int64_t rows = std::llabs(std::int64_t{plan.inputHeight});
        const std::int32_t height = rows > 65536 ? 65536 : static_cast<std::int32_t>(rows);
        plan.outputHeight = in.oneIn(8) ? in.range(1, height) : height;
    } else {
        plan.inputChannels = in.choose(kChannels);
        plan.inputColor = in.choose(kColors);
        plan.outputChannels = in.choose(kChannels);
        plan.outputColor = in.choose(kColors);
        plan.outputSampling = in.choose(kSamplings);
        static constexpr std::int32_t kInputSamplings[] = {0, 0, 0, 2};
        plan.inputSampling = in.choose(kInputSamplings);
        plan.inputRowPadding = in.choose(kPaddings);
        plan.outputWidth = in.oneIn(2) ? plan.inputWidth : size();
        plan.outputHeight = in.oneIn(2) ? std::abs(plan.inputHeight % 65536) : size();
    }
    plan.quality = in.choose(kQualities);
    static constexpr std::int32_t kFlags[] = {0, 1};
    plan.convertColor = in.choose(kFlags);
    plan.upsample = in.choose(kFlags);
    plan.dctMethod = in.oneIn(8) ? in.choose(kFlags) : 1;
    if (in.oneIn(8)) {
        static constexpr std::int32_t kIntervals[] = {1, 2, 3, 7, 8, 9, 64};
        plan.restartInterval = in.choose(kIntervals);
    }
    plan.noPixels = in.oneIn(64);
    plan.suspend = in.oneIn(32);
    plan.writeAgain = in.oneIn(16);
    plan.fileName = in.oneIn(8) ? 1 + in.byte() % 2 : 0;

    plan.pixelBytes = sourceBlockSize(plan);
    if (plan.pixelBytes > kEncodeByteLimit) {
        // Sizes that must be refused get a source block of nothing; others are skipped.
        const bool refused = plan.inputWidth > 65535 || plan.inputHeight > 65535 ||
                             plan.inputHeight < -65535 || plan.inputChannels > 255;
        if (!refused) {
            return false;
        }
        plan.pixelBytes = 0;
    }

    // Output capacity: usually plenty, sometimes tight or far too small.
    const std::int64_t width = std::clamp<std::int64_t>(plan.outputWidth, 1, 65536);
    const std::int64_t height = std::clamp<std::int64_t>(plan.outputHeight, 1, 65536);
    const std::int64_t roomy = 2048 + 8 * width * height;
    switch (in.byte() % 8) {
    case 0:
        plan.outputCapacity = in.range(0, 700);
        break;
    case 1:
        plan.outputCapacity = in.edgeValue();
        break;
    case 2:
        plan.noOutputBuffer = true;
        plan.outputCapacity = in.range(0, 100);
        break;
    default:
        plan.outputCapacity = roomy > kOutputByteLimit ? static_cast<std::int32_t>(kOutputByteLimit)
                                                       : static_cast<std::int32_t>(roomy);
        break;
    }
    if (plan.outputCapacity > kOutputByteLimit) {
        return false;
    }

    if (in.oneIn(16)) {
        plan.comment = true;
        const std::size_t length = in.oneIn(4) ? in.u16() : in.byte();
        plan.commentText.resize(length);
        for (auto& c : plan.commentText) {
            c = in.byte();
        }
    }
    if (in.oneIn(32)) {
        const int count = in.byte() % 5;
        for (int t = 0; t < count; ++t) {
            FuzzQuantTable table{};
            for (auto& v : table.values) {
                v = in.byte();
            }
            table.tableNumber = in.byte() % 6;
            plan.quantTables.push_back(table);
        }
    }
    if (in.oneIn(32)) {
        const int count = in.byte() % 9;
        for (int t = 0; t < count; ++t) {
            FuzzHuffmanTable table{};
            int total = 0;
            for (auto& b : table.bits) {
                b = in.oneIn(2) ? 0 : in.byte() % 24;
                total += b;
            }
            table.values.resize(static_cast<std::size_t>(total));
            for (auto& v : table.values) {
                v = in.byte();
            }
            table.tableClass = in.byte() % 2;
            table.tableNumber = in.byte() % 6;
            plan.huffmanTables.push_back(std::move(table));
        }
    }
    plan.pixelSeed.assign(in.rest(), in.rest() + in.restSize());
    return true;
}

inline bool listedStatus(int status) {
    return std::strcmp(jpegStatusText(status), "Unknown error code") != 0;
}

// Fills the source block from the input's remaining bytes, repeated, or from a fixed pattern.
inline void fillPixels(const EncodePlan& plan, std::uint8_t* pixels) {
    const std::size_t n = static_cast<std::size_t>(plan.pixelBytes);
    if (plan.pixelSeed.empty()) {
        std::uint32_t x = 0x9E3779B9u;
        for (std::size_t i = 0; i < n; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            pixels[i] = static_cast<std::uint8_t>(x);
        }
        return;
    }
    for (std::size_t done = 0; done < n;) {
        const std::size_t count = std::min(plan.pixelSeed.size(), n - done);
        std::memcpy(pixels + done, plan.pixelSeed.data(), count);
        done += count;
    }
}

// The source and output blocks of one input, of exactly the described sizes (new[] of 0 bytes
// gives a block nothing may touch), shared by its runs: the encoder only reads the source, and
// each run's output is taken from the output block before the next run.
struct EncodeBlocks {
    explicit EncodeBlocks(const EncodePlan& plan)
        : pixels(new std::uint8_t[static_cast<std::size_t>(plan.pixelBytes)]),
          output(new std::uint8_t[plan.outputCapacity > 0
                                      ? static_cast<std::size_t>(plan.outputCapacity)
                                      : 0]) {
        fillPixels(plan, pixels.get());
    }
    std::unique_ptr<std::uint8_t[]> pixels;
    std::unique_ptr<std::uint8_t[]> output;
};

enum class Transforms { OfTheSet, Plain, PortableVector };

// Runs the plan with the routine set of `processorClass` (or the routine table of `set`, where
// given), its DCT and quantiser replaced as `transforms` says. Null when every check held.
inline const char* runEncodePlan(const EncodePlan& plan, const EncodeBlocks& blocks,
                                 int processorClass, Transforms transforms, EncodeOutcome& outcome,
                                 std::optional<KernelSet> set = std::nullopt) {
    static fuzz_support::MemoryFile outputFile("qmjpeg-fuzz-jpeg");
    // The record carries the encoder's whole working state, which jpegInitialize resets: one
    // record serves every run.
    static const std::unique_ptr<JPEG_PROPERTIES> properties = std::make_unique<JPEG_PROPERTIES>();
    const std::string classText = std::to_string(processorClass);
    ::setenv(kProcessorClassVariable, classText.c_str(), 1);

    outcome.clear();
    std::uint8_t* const pixels = blocks.pixels.get();
    std::uint8_t* const output = blocks.output.get();

    JPEG_PROPERTIES& p = *properties;
    const int initialized = jpegInitialize(&p);
    ::unsetenv(kProcessorClassVariable);
    if (initialized != JPEG_SUCCESS) {
        return "jpegInitialize failed";
    }
    if (set) {
        p.state.routines = *routinesForSet(*set);
    }
    if (transforms != Transforms::OfTheSet) {
        const bool plain = transforms == Transforms::Plain;
        replaceTransforms(p.state.routines, plain ? forwardDctPlain : forwardDctSse2Portable,
                          plain ? quantizeBlockPlain : quantizeBlockSse2Portable);
    }
    p.inputPixels = plan.noPixels ? nullptr : pixels;
    p.inputWidth = plan.inputWidth;
    p.inputHeight = plan.inputHeight;
    p.inputRowPadding = plan.inputRowPadding;
    p.inputChannels = plan.inputChannels;
    p.inputColor = plan.inputColor;
    p.inputSampling = plan.inputSampling;
    p.outputBuffer = plan.noOutputBuffer ? nullptr : output;
    p.outputBufferSize = plan.outputCapacity;
    p.outputWidth = plan.outputWidth;
    p.outputHeight = plan.outputHeight;
    p.outputChannels = plan.outputChannels;
    p.outputColor = plan.outputColor;
    p.outputSampling = plan.outputSampling;
    p.convertColor = plan.convertColor;
    p.upsample = plan.upsample;
    p.quality = plan.quality;
    switch (plan.fileName) {
    case 1:
        p.outputFileName = nullptr;
        break;
    case 2:
        p.outputFileName = "/";
        break;
    default:
        p.outputFileName = outputFile.ok() ? outputFile.path().c_str() : "/dev/null";
        break;
    }
    p.state.dctMethod = plan.dctMethod;
    p.state.config.restartInterval = plan.restartInterval;
    if (plan.comment) {
        p.state.commentText = plan.commentText.data();
        p.state.commentLength = static_cast<std::uint16_t>(plan.commentText.size());
    }
    if (!plan.quantTables.empty()) {
        p.state.callerQuantTables = 1;
        p.state.quantTableCount = static_cast<std::int32_t>(plan.quantTables.size());
        for (std::size_t k = 0; k < plan.quantTables.size(); ++k) {
            p.state.quantSlots[k] = {plan.quantTables[k].values, plan.quantTables[k].tableNumber};
        }
    }
    if (!plan.huffmanTables.empty()) {
        p.state.callerHuffmanTables = 1;
        const int count = static_cast<int>(plan.huffmanTables.size());
        p.state.huffmanPairCount = count / 2;
        for (int k = 0; k < count; ++k) {
            const FuzzHuffmanTable& table = plan.huffmanTables[static_cast<std::size_t>(k)];
            p.state.huffmanSlots[k] = {table.bits, table.values.data(), table.tableClass,
                                       table.tableNumber};
        }
    }
    p.state.interruptFlag = plan.suspend ? 1 : 0;

    int status = jpegWrite(&p, plan.request);
    // A suspended scan goes on MCU by MCU; after the limit the rest is coded in one write.
    for (int resumed = 1; plan.suspend && status == JPEG_INTERRUPT_SUCCESS; ++resumed) {
        p.state.interruptFlag = resumed < kEncodeResumeLimit ? 1 : 0;
        status = jpegWrite(&p, plan.request);
    }
    outcome.status = status;
    outcome.size = p.outputBufferSize;
    const char* failure = nullptr;
    if (!listedStatus(status)) {
        failure = "jpegWrite returned a status outside the table";
    } else if (status == JPEG_SUCCESS && plan.request % 2 == 1) {
        if (p.outputBufferSize < 4 || p.outputBufferSize > plan.outputCapacity) {
            failure = "successful write reports a size outside the buffer";
        } else {
            const std::uint8_t* b = output;
            const std::size_t n = static_cast<std::size_t>(p.outputBufferSize);
            outcome.bytes.assign(reinterpret_cast<const char*>(b), n);
            if (b[0] != 0xFF || b[1] != 0xD8 || b[n - 2] != 0xFF || b[n - 1] != 0xD9) {
                failure = "successful write is not a complete stream";
            }
        }
    } else if (status == JPEG_SUCCESS && plan.request % 2 == 0 && plan.fileName == 0 &&
               outputFile.ok()) {
        outcome.bytes = outputFile.contents(static_cast<std::size_t>(kOutputByteLimit));
    }
    if (failure == nullptr && status == JPEG_SUCCESS && plan.writeAgain) {
        // The kept state describes the same image again.
        p.useStateAsIs = 1;
        outcome.againStatus = jpegWrite(&p, plan.request);
        if (!listedStatus(outcome.againStatus)) {
            failure = "second write returned a status outside the table";
        } else if (plan.request % 2 == 1 && outcome.againStatus == JPEG_SUCCESS &&
                   (p.outputBufferSize > plan.outputCapacity ||
                    outcome.bytes.compare(0, std::string::npos,
                                          reinterpret_cast<const char*>(output),
                                          static_cast<std::size_t>(p.outputBufferSize)) != 0)) {
            failure = "second write from the kept state gave other bytes";
        }
    }
    const int released = jpegRelease(&p);
    if (failure == nullptr && released != JPEG_SUCCESS && released != JPEG_ERR_CLOSE_FILE &&
        released != JPEG_ERR_PROPERTIES) {
        failure = "jpegRelease returned an unexpected status";
    }
    return failure;
}

// Null when the two outcomes agree (same status; on success the same stream).
inline const char* compareOutcomes(const EncodeOutcome& a, const EncodeOutcome& b) {
    if (a.status != b.status || a.againStatus != b.againStatus) {
        return "routine sets return different statuses";
    }
    if (a.status == JPEG_SUCCESS && a.bytes != b.bytes) {
        return "routine sets write different streams";
    }
    return nullptr;
}

const char* runJpegEncode(const std::uint8_t* data, std::size_t size) {
    fuzz_support::FuzzInput in(data, size);
    EncodePlan plan;
    if (!readEncodePlan(in, plan)) {
        return nullptr;
    }
    const EncodeBlocks blocks(plan);
    constexpr int kPlainClass = 0;
    constexpr int kVectorClass = 6;
    // Outcomes live on between inputs so that their bytes need no new memory each time.
    static EncodeOutcome plain;
    static EncodeOutcome vectorPlainTransforms;
    static EncodeOutcome vector;
    static EncodeOutcome vectorPortableTransforms;
    if (const char* failure =
            runEncodePlan(plan, blocks, kPlainClass, Transforms::OfTheSet, plain)) {
        return failure;
    }
    if (const char* failure =
            runEncodePlan(plan, blocks, kVectorClass, Transforms::Plain, vectorPlainTransforms)) {
        return failure;
    }
    if (const char* failure = compareOutcomes(plain, vectorPlainTransforms)) {
        return failure;
    }
    if (const char* failure =
            runEncodePlan(plan, blocks, kVectorClass, Transforms::OfTheSet, vector)) {
        return failure;
    }
    if (kernelSetAvailable(KernelSet::Sse2)) {
        if (const char* failure = runEncodePlan(
                plan, blocks, kVectorClass, Transforms::PortableVector, vectorPortableTransforms)) {
            return failure;
        }
        if (const char* failure = compareOutcomes(vector, vectorPortableTransforms)) {
            return failure;
        }
    }
    // The narrower instruction-set kernels, where this processor has them, against the widest.
    static EncodeOutcome narrower;
    for (const KernelSet set : {KernelSet::Sse2, KernelSet::Avx2}) {
        if (set == kernelSetForClass(kVectorClass, std::nullopt) || !kernelSetAvailable(set)) {
            continue;
        }
        if (const char* failure =
                runEncodePlan(plan, blocks, kVectorClass, Transforms::OfTheSet, narrower, set)) {
            return failure;
        }
        if (const char* failure = compareOutcomes(vector, narrower)) {
            return failure;
        }
    }
    return nullptr;
}

} // namespace fuzz_entry
