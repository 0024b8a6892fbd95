#include "jpeg/chunkedScan.h"

#include "jpeg/coefficientBits.h"
#include "jpeg/jpegRowSource.h"
#include "jpeg/jpegStatus.h"
#include "jpeg/outputBytes.h"
#include "jpeg/outputSink.h"
#include "jpeg/scanBlocks.h"
#include "jpeg/scanJoin.h"
#include "util/platformFile.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Parts coded or waiting to be joined at once: one for each lane at least.
constexpr int kPartsInFlight = kMaxRowSourceLanes;

// A coded part: its first MCU block by block, each coded with a DC difference of 0, and the
// other MCUs as one stream.
struct CodedPart {
    struct FirstBlock {
        std::vector<std::uint8_t> bytes;
        PendingBits tail;
        std::int16_t dc = 0;
        int component = 0;
    };
    int status = JPEG_SUCCESS;
    std::array<FirstBlock, kJpegMaxBlocksPerMcu> first;
    int firstCount = 0;
    std::vector<std::uint8_t> bytes;
    PendingBits tail;
    std::int16_t lastDc[kJpegMaxComponents] = {};
};

// One thread's coder: a scan coder state of its own (block buffer, predictors, output) on the
// shared config and tables of the write.
class PartCoder {
public:
    PartCoder(const JpegEncoderState& state, const JpegScanRecord& scan, int lane)
        : routines_(state.routines), scan_(scan) {
        coder_.config = &state.config;
        coder_.rowSource = state.coder.rowSource;
        coder_.lane = lane;
        blockCount_ = planBlocks(state.config, state.tables, scan_, coder_, false, jobs_);
    }

    void code(std::int32_t firstRow, std::int32_t endRow, CodedPart& part) {
        part.status = blockCount_ < 0 ? blockCount_ : codeRows(firstRow, endRow, part);
    }

private:
    int codeRows(std::int32_t firstRow, std::int32_t endRow, CodedPart& part) {
        OutputStream* stream = &coder_.stream;
        part.bytes.clear();
        MemorySink sink(part.bytes);
        stream->sink = &sink;
        routines_.startOutput(stream, nullptr, 0);
        int result = forEachMcu(coder_, routines_, jobs_, blockCount_, firstRow, 0, endRow,
                                [&](std::int32_t row, std::int32_t column) {
                                    if (row == firstRow && column == 0) {
                                        return codeFirstMcu(part);
                                    }
                                    return quantizeAndCode(routines_, stream, jobs_, blockCount_);
                                });
        if (result == JPEG_SUCCESS) {
            result = output_bytes::drainBuffer(stream);
        }
        stream->sink = nullptr;
        if (result != JPEG_SUCCESS) {
            return result;
        }
        part.tail = routines_.pendingBits(stream);
        std::copy(coder_.dcPredictors, coder_.dcPredictors + scan_.componentCount, part.lastDc);
        return JPEG_SUCCESS;
    }

    // Each block of the part's first MCU apart, predicted from its own DC (a difference of 0)
    // so that the joiner can put the true difference in its place.
    int codeFirstMcu(CodedPart& part) {
        part.firstCount = blockCount_;
        for (int b = 0; b < blockCount_; ++b) {
            const BlockJob& job = jobs_[b];
            CodedPart::FirstBlock& first = part.first[static_cast<std::size_t>(b)];
            routines_.quantizeBlock(job.block, job.reciprocals);
            first.bytes.clear();
            first.dc = job.block[0];
            first.component = job.component;
            *job.dcPredictor = job.block[0];
            MemorySink sink(first.bytes);
            blockStream_.sink = &sink;
            routines_.startOutput(&blockStream_, nullptr, 0);
            int result = routines_.encodeBlock(&blockStream_, job.dcTable, job.acTable,
                                               job.dcPredictor, job.block);
            if (result == JPEG_SUCCESS) {
                result = output_bytes::drainBuffer(&blockStream_);
            }
            blockStream_.sink = nullptr;
            if (result != JPEG_SUCCESS) {
                return result;
            }
            first.tail = routines_.pendingBits(&blockStream_);
        }
        return JPEG_SUCCESS;
    }

    RoutineTable routines_;
    JpegScanRecord scan_;
    ScanCoderState coder_{};
    BlockJob jobs_[kJpegMaxBlocksPerMcu];
    int blockCount_ = 0;
    OutputStream blockStream_;
};

// Appends the parts in order, writing the DC codes of each first MCU from the predictors
// the part before left.
class PartJoiner {
public:
    PartJoiner(JpegEncoderState& state, const BlockJob* jobs, int blockCount, int componentCount)
        : joiner_(&state.coder.stream, state.routines.writeBytes), componentCount_(componentCount) {
        for (int i = 0; i < blockCount; ++i) {
            dcTables_[i] = jobs[i].dcTable;
        }
    }

    int join(const CodedPart& part) {
        if (part.status != JPEG_SUCCESS) {
            return part.status;
        }
        for (int b = 0; b < part.firstCount; ++b) {
            const CodedPart::FirstBlock& first = part.first[static_cast<std::size_t>(b)];
            const HuffmanCodeTable* table = dcTables_[b];
            std::int16_t& predictor = predictors_[first.component];
            const std::int32_t diff = std::int32_t{first.dc} - predictor;
            predictor = first.dc;
            const int category = categoryOf(diff);
            if (category > 15 || table->length[category] == 0) {
                return JPEG_ERR_BAD_HUFFMAN_TABLE;
            }
            joiner_.putBits(table->code[category], table->length[category]);
            joiner_.putBits(valueBits(diff, category), category);
            // The part's own DC code (difference 0: the code of category 0 alone) is left out.
            joiner_.appendPart(first.bytes.data(), first.bytes.size(), first.tail,
                               table->length[0]);
        }
        joiner_.appendPart(part.bytes.data(), part.bytes.size(), part.tail);
        std::copy(part.lastDc, part.lastDc + componentCount_, predictors_);
        return joiner_.status();
    }

    int finish() { return joiner_.finish(); }

private:
    ScanJoiner joiner_;
    int componentCount_;
    const HuffmanCodeTable* dcTables_[kJpegMaxBlocksPerMcu] = {};
    std::int16_t predictors_[kJpegMaxComponents] = {};
};

// Hands out parts to the lanes and collects them for joining, in order.
class PartSchedule {
public:
    PartSchedule(int partCount) : partCount_(partCount) {}

    // The next part for a lane to code, or -1 when none is left or the write failed. With
    // `wait`, blocks until one may be taken; otherwise -1 also when none may be taken yet
    // (parts in flight wait to be joined).
    int take(bool wait) {
        std::unique_lock lock(mutex_);
        if (wait) {
            changed_.wait(lock, [&] { return stopped_ || next_ >= partCount_ || mayTake(); });
        }
        if (stopped_ || !mayTake()) {
            return -1;
        }
        return next_++;
    }

    void done(int part) {
        {
            std::lock_guard lock(mutex_);
            done_[part % kPartsInFlight] = part;
        }
        changed_.notify_all();
    }

    // Waits until the next part to join is coded or a part may be taken.
    void waitForJoinOrPart() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock,
                      [&] { return done_[joined_ % kPartsInFlight] == joined_ || mayTake(); });
    }

    bool readyToJoin() {
        std::lock_guard lock(mutex_);
        return joined_ < partCount_ && done_[joined_ % kPartsInFlight] == joined_;
    }

    int nextToJoin() const { return joined_; }

    void joined() {
        {
            std::lock_guard lock(mutex_);
            ++joined_;
        }
        changed_.notify_all();
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
    }

private:
    bool mayTake() const { return next_ < partCount_ && next_ < joined_ + kPartsInFlight; }

    std::mutex mutex_;
    std::condition_variable changed_;
    int partCount_;
    int next_ = 0;
    int joined_ = 0; // written by the joining thread only, under the lock
    bool stopped_ = false;
    std::array<int, kPartsInFlight> done_ = {-1, -1, -1, -1};
};

} // namespace

bool canCodeInParts(const JpegEncoderState& state) {
    if (state.coder.rowSource == nullptr || state.coder.rowSource->lanes() < 2 ||
        state.config.restartInterval != 0 || state.interruptFlag != 0 || state.config.mcuRows < 2) {
        return false;
    }
    for (int i = 0; i < state.config.fields.outputChannels && i < kJpegMaxComponents; ++i) {
        const int number = state.config.dcTableNumbers[i];
        const HuffmanCodeTable* table =
            number < kJpegTableSlots ? state.tables.dcTables[number] : nullptr;
        if (table == nullptr || table->length[0] == 0) {
            return false;
        }
    }
    return true;
}

namespace {

// The parts of one scan: rows per part, the buffers of the parts in flight, a coder per lane.
struct PartPlan {
    std::int32_t mcuRows = 0;
    std::int32_t partRows = 1;
    int partCount = 0;
    std::vector<std::unique_ptr<CodedPart>> parts;
    std::vector<std::unique_ptr<PartCoder>> coders;

    CodedPart& slot(int part) { return *parts[static_cast<std::size_t>(part % kPartsInFlight)]; }
    void code(std::size_t lane, int part) {
        const std::int32_t first = part * partRows;
        coders[lane]->code(first, std::min(first + partRows, mcuRows), slot(part));
    }
};

// Sizes the parts (at least the row source's part size, whole MCU rows) and makes their
// buffers and coders. False when memory runs out.
bool planParts(JpegEncoderState& state, JpegScanRecord& scan, PartPlan& plan) {
    const EncoderConfig& config = state.config;
    const std::int64_t mcuRowPixels = std::int64_t{config.mcusPerRow} *
                                      config.frameHeader.mcuWidth * config.frameHeader.mcuHeight;
    plan.mcuRows = config.mcuRows;
    plan.partRows = static_cast<std::int32_t>(std::clamp<std::int64_t>(
        state.coder.rowSource->partPixels() / mcuRowPixels, 1, config.mcuRows));
    plan.partCount = static_cast<int>((config.mcuRows + plan.partRows - 1) / plan.partRows);
    const int lanes = std::min(state.coder.rowSource->lanes(), kMaxRowSourceLanes);
    try {
        for (int i = 0; i < kPartsInFlight; ++i) {
            plan.parts.push_back(std::make_unique<CodedPart>());
        }
        for (int lane = 0; lane < lanes; ++lane) {
            plan.coders.push_back(std::make_unique<PartCoder>(state, scan, lane));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// A thread for each lane but the first, coding the parts it takes; fewer when the system
// gives fewer (the parts are then shared among those there are, the calling thread included).
std::vector<std::thread> startHelpers(PartPlan& plan, PartSchedule& schedule) {
    std::vector<std::thread> helpers;
    try {
        helpers.reserve(plan.coders.size());
        for (std::size_t lane = 1; lane < plan.coders.size(); ++lane) {
            helpers.push_back(platform::startQuietThread([&plan, &schedule, lane] {
                for (int part; (part = schedule.take(true)) >= 0;) {
                    plan.code(lane, part);
                    schedule.done(part);
                }
            }));
        }
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    return helpers;
}

// The calling thread codes parts too and joins each as soon as it and those before it are
// done. The joiner's status.
int codeAndJoin(PartPlan& plan, PartSchedule& schedule, PartJoiner& joiner) {
    int result = JPEG_SUCCESS;
    while (result == JPEG_SUCCESS && schedule.nextToJoin() < plan.partCount) {
        if (schedule.readyToJoin()) {
            result = joiner.join(plan.slot(schedule.nextToJoin()));
            schedule.joined();
        } else if (const int part = schedule.take(false); part >= 0) {
            plan.code(0, part);
            schedule.done(part);
        } else {
            schedule.waitForJoinOrPart();
        }
    }
    return result;
}

} // namespace

int encodeScanInParts(JpegEncoderState& state, JpegScanRecord& scan) {
    BlockJob jobs[kJpegMaxBlocksPerMcu];
    const int blockCount = planBlocks(state.config, state.tables, scan, state.coder, false, jobs);
    if (blockCount < 0) {
        return blockCount;
    }
    PartPlan plan;
    if (!planParts(state, scan, plan)) {
        return JPEG_ERR_MEMORY;
    }
    PartSchedule schedule(plan.partCount);
    std::vector<std::thread> helpers = startHelpers(plan, schedule);
    PartJoiner joiner(state, jobs, blockCount, scan.componentCount);
    const int result = codeAndJoin(plan, schedule, joiner);
    schedule.stop();
    for (std::thread& helper : helpers) {
        helper.join();
    }
    if (result != JPEG_SUCCESS) {
        return result;
    }
    for (int i = 0; i < scan.componentCount; ++i) {
        state.coder.dcPredictors[i] = 0;
    }
    return joiner.finish();
}
