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

// Parts coded or waiting to be joined at once: two for each lane and one more, so that while
// the joiner waits for the oldest part, every other lane can code a part ahead.
int partsInFlight(int lanes) {
    return 2 * lanes + 1;
}

// Parts each lane gets at least when the picture is tall enough: the last parts, coded while
// other lanes may have nothing left, stay short.
constexpr int kPartsPerLane = 4;

// The pixels of all the parts in flight together, at most (unless parts of the least size
// exceed it): the coded parts held at once stay a few megabytes with any number of lanes.
constexpr std::int64_t kInFlightPixels = std::int64_t{1} << 22;

// From this many lanes on, the calling thread only joins and writes, and every lane codes on a
// thread of its own: a joiner busy coding a part leaves the parts of all other lanes waiting to
// be joined, and with many lanes the parts in flight run out before it is back.
constexpr int kJoinOnlyLanes = 8;

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

// Hands out parts to the lanes and collects them for joining, in order. One thread joins; it
// alone waits for coded parts, and only the lanes wait for parts to take (the joiner, when it
// codes too, never waits for one: only its own joins make more parts takeable). Each event
// wakes one waiting thread, so that many lanes do not all wake for every part.
class PartSchedule {
public:
    PartSchedule(int partCount, int inFlight)
        : partCount_(partCount), inFlight_(inFlight),
          done_(static_cast<std::size_t>(inFlight), -1) {}

    // The next part for a lane to code, or -1 when none is left or the write failed. With
    // `wait`, blocks until one may be taken; otherwise -1 also when none may be taken yet
    // (parts in flight wait to be joined).
    int take(bool wait) {
        std::unique_lock lock(mutex_);
        if (wait) {
            takeable_.wait(lock, [&] { return stopped_ || next_ >= partCount_ || mayTake(); });
        }
        if (stopped_ || !mayTake()) {
            return -1;
        }
        return next_++;
    }

    void done(int part) {
        {
            std::lock_guard lock(mutex_);
            done_[ring(part)] = part;
        }
        joinable_.notify_one();
    }

    // The joiner: waits until the next part to join is coded or, with `orPart`, a part may be
    // taken.
    void waitForJoinOrPart(bool orPart) {
        std::unique_lock lock(mutex_);
        joinable_.wait(lock,
                       [&] { return done_[ring(joined_)] == joined_ || (orPart && mayTake()); });
    }

    bool readyToJoin() {
        std::lock_guard lock(mutex_);
        return joined_ < partCount_ && done_[ring(joined_)] == joined_;
    }

    int nextToJoin() const { return joined_; }

    void joined() {
        {
            std::lock_guard lock(mutex_);
            ++joined_;
        }
        takeable_.notify_one(); // one more part may be taken
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        takeable_.notify_all();
    }

private:
    bool mayTake() const { return next_ < partCount_ && next_ < joined_ + inFlight_; }
    std::size_t ring(int part) const { return static_cast<std::size_t>(part % inFlight_); }

    std::mutex mutex_;
    std::condition_variable joinable_; // the joiner waits on it
    std::condition_variable takeable_; // the lanes wait on it
    int partCount_;
    int inFlight_;
    int next_ = 0;
    int joined_ = 0; // written by the joining thread only, under the lock
    bool stopped_ = false;
    std::vector<int> done_; // for each buffer of the ring, the last part coded into it
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
    int inFlight = 1;
    std::vector<std::unique_ptr<CodedPart>> parts;
    std::vector<std::unique_ptr<PartCoder>> coders;

    CodedPart& slot(int part) { return *parts[static_cast<std::size_t>(part % inFlight)]; }
    void code(std::size_t lane, int part) {
        const std::int32_t first = part * partRows;
        coders[lane]->code(first, std::min(first + partRows, mcuRows), slot(part));
    }
};

// MCU rows per part: the source's part size on few lanes; with more lanes, few enough rows that
// each lane gets kPartsPerLane parts and the `inFlight` parts hold kInFlightPixels at most, but
// not below kLeastPartPixels (or the source's size when that is smaller). Whole MCU rows, at
// least one.
std::int32_t partRowsFor(std::int32_t mcuRows, std::int64_t mcuRowPixels, std::int64_t partPixels,
                         int lanes, int inFlight) {
    const std::int64_t most = std::clamp<std::int64_t>(partPixels / mcuRowPixels, 1, mcuRows);
    const std::int64_t least = std::clamp<std::int64_t>(kLeastPartPixels / mcuRowPixels, 1, most);
    const std::int64_t spread = std::min(mcuRows / (std::int64_t{lanes} * kPartsPerLane),
                                         kInFlightPixels / (inFlight * mcuRowPixels));
    return static_cast<std::int32_t>(std::clamp(spread, least, most));
}

// Sizes the parts and makes their buffers and a coder for each lane that gets parts. False
// when memory runs out.
bool planParts(JpegEncoderState& state, JpegScanRecord& scan, PartPlan& plan) {
    const EncoderConfig& config = state.config;
    const std::int64_t mcuRowPixels = std::int64_t{config.mcusPerRow} *
                                      config.frameHeader.mcuWidth * config.frameHeader.mcuHeight;
    const int sourceLanes = std::clamp(state.coder.rowSource->lanes(), 1, kMaxRowSourceLanes);
    plan.mcuRows = config.mcuRows;
    plan.partRows = partRowsFor(config.mcuRows, mcuRowPixels, state.coder.rowSource->partPixels(),
                                sourceLanes, partsInFlight(sourceLanes));
    plan.partCount = static_cast<int>((config.mcuRows + plan.partRows - 1) / plan.partRows);
    // A lane for each part at most: a small picture starts no threads that would find no part.
    const int lanes = std::min(sourceLanes, plan.partCount);
    plan.inFlight = partsInFlight(lanes);
    try {
        // Room for the coded bytes of a part at four bits a pixel, which quality-95 pictures
        // rarely exceed: the part's stream then grows without being moved. The slots are
        // reused, so only the first parts in flight touch fresh memory.
        const auto partBytes = static_cast<std::size_t>(plan.partRows * mcuRowPixels / 2);
        for (int i = 0; i < plan.inFlight; ++i) {
            plan.parts.push_back(std::make_unique<CodedPart>());
            plan.parts.back()->bytes.reserve(partBytes);
        }
        for (int lane = 0; lane < lanes; ++lane) {
            plan.coders.push_back(std::make_unique<PartCoder>(state, scan, lane));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// A thread for each lane from `firstLane` on, coding the parts it takes; fewer when the system
// gives fewer (the parts are then shared among those there are and the calling thread).
std::vector<std::thread> startHelpers(PartPlan& plan, PartSchedule& schedule,
                                      std::size_t firstLane) {
    std::vector<std::thread> helpers;
    try {
        helpers.reserve(plan.coders.size());
        for (std::size_t lane = firstLane; lane < plan.coders.size(); ++lane) {
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

// The calling thread joins each part as soon as it and those before it are done, and codes
// parts on lane `ownLane` meanwhile (none when it is negative). The joiner's status.
int codeAndJoin(PartPlan& plan, PartSchedule& schedule, PartJoiner& joiner, int ownLane) {
    int result = JPEG_SUCCESS;
    while (result == JPEG_SUCCESS && schedule.nextToJoin() < plan.partCount) {
        if (schedule.readyToJoin()) {
            result = joiner.join(plan.slot(schedule.nextToJoin()));
            schedule.joined();
        } else if (const int part = ownLane >= 0 ? schedule.take(false) : -1; part >= 0) {
            plan.code(static_cast<std::size_t>(ownLane), part);
            schedule.done(part);
        } else {
            schedule.waitForJoinOrPart(ownLane >= 0);
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
    std::unique_ptr<PartSchedule> schedule;
    try {
        if (planParts(state, scan, plan)) {
            schedule = std::make_unique<PartSchedule>(plan.partCount, plan.inFlight);
        }
    } catch (const std::bad_alloc&) {
    }
    if (schedule == nullptr) {
        return JPEG_ERR_MEMORY;
    }
    // With few lanes the calling thread codes on lane 0 besides joining; with many it only
    // joins, unless some lanes got no thread: it then codes on the last of them.
    const std::size_t lanes = plan.coders.size();
    const bool joinOnly = lanes >= static_cast<std::size_t>(kJoinOnlyLanes);
    std::vector<std::thread> helpers = startHelpers(plan, *schedule, joinOnly ? 0 : 1);
    const int ownLane = !joinOnly ? 0 : helpers.size() < lanes ? static_cast<int>(lanes) - 1 : -1;
    PartJoiner joiner(state, jobs, blockCount, scan.componentCount);
    const int result = codeAndJoin(plan, *schedule, joiner, ownLane);
    schedule->stop();
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
