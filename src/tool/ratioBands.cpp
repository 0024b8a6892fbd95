#include "tool/ratioBands.h"

#include "tool/shadingRatio.h"
#include "util/platformFile.h"

#include <cstdlib>
#include <string>
#include <system_error>

namespace {

// Bands held between the two threads: one being coded, the others being produced or ready.
constexpr int kSlots = 3;

} // namespace

int pipelineThreads() {
    const char* forced = std::getenv("QMJPEG_THREADS");
    if (forced != nullptr && std::string(forced) == "1") {
        return 1;
    }
    return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

struct RatioBandSource::Slot {
    explicit Slot(int width) : ratio(width, kBandRows) {}
    BandImage ratio;
};

RatioBandSource::RatioBandSource(BmpBandReader& source, BmpBandReader& finalImage, int threads)
    : source_(source), final_(finalImage), width_(source.width()), height_(source.height()),
      bands_((source.height() + kBandRows - 1) / kBandRows) {
    // One band needs no second thread.
    const bool pipelined = threads >= 2 && bands_ > 1;
    sourceBand_ = std::make_unique<BandImage>(width_, kBandRows);
    finalBand_ = std::make_unique<BandImage>(width_, kBandRows);
    for (int i = 0; i < (pipelined ? kSlots : 1); ++i) {
        slots_.push_back(std::make_unique<Slot>(width_));
    }
    valid_ = sourceBand_->valid() && finalBand_->valid();
    for (const auto& slot : slots_) {
        valid_ = valid_ && slot->ratio.valid();
    }
    if (valid_ && pipelined) {
        try {
            // Started while interruptions are held, the producer keeps them blocked for good:
            // they reach the main thread, whose holds keep a temporary output file and its
            // removal on interruption in step.
            const platform::InterruptHold hold;
            producer_ = std::thread([this] { producerLoop(); });
        } catch (const std::system_error&) {
            // No second thread to be had: the bands are produced on the caller's thread.
        }
    }
}

RatioBandSource::~RatioBandSource() {
    if (producer_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        producer_.join();
    }
}

std::int64_t RatioBandSource::rowStep() const {
    return slots_.front()->ratio.rowStep();
}

const std::uint8_t* RatioBandSource::anyRow() const {
    return slots_.front()->ratio.row(0);
}

bool RatioBandSource::produce(int band, Slot& slot, BandImage& sourceBand, BandImage& finalBand) {
    const int firstRow = band * kBandRows;
    const int rows = std::min(kBandRows, height_ - firstRow);
    if (!source_.readBand(firstRow, rows, sourceBand)) {
        failedInput_ = FailedInput::Source;
        return false;
    }
    if (!final_.readBand(firstRow, rows, finalBand)) {
        failedInput_ = FailedInput::Final;
        return false;
    }
    shadingRatioRows(sourceBand.row(0), finalBand.row(0), slot.ratio.row(0), width_, rows,
                     slot.ratio.rowStep());
    return true;
}

void RatioBandSource::producerLoop() {
    const int slots = static_cast<int>(slots_.size());
    for (int band = 0; band < bands_; ++band) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || band - consumed_ < slots; });
            if (stopping_) {
                return;
            }
        }
        const bool ok = produce(band, *slots_[band % slots], *sourceBand_, *finalBand_);
        {
            std::lock_guard lock(mutex_);
            if (ok) {
                produced_ = band + 1;
            } else {
                failed_ = true;
            }
        }
        changed_.notify_all();
        if (!ok) {
            return;
        }
    }
}

const std::uint8_t* RatioBandSource::rows(std::int32_t firstRow, std::int32_t count) {
    const int band = firstRow / kBandRows;
    if (!valid_ || firstRow % kBandRows != 0 || band >= bands_ ||
        count != std::min(kBandRows, height_ - firstRow)) {
        return nullptr;
    }
    if (!producer_.joinable()) {
        Slot& slot = *slots_.front();
        return produce(band, slot, *sourceBand_, *finalBand_) ? slot.ratio.row(0) : nullptr;
    }
    std::unique_lock lock(mutex_);
    // Asking for band b means the bands before it are coded.
    if (band < consumed_) {
        return nullptr;
    }
    consumed_ = band;
    changed_.notify_all();
    changed_.wait(lock, [&] { return failed_ || produced_ > band; });
    if (produced_ <= band) {
        return nullptr;
    }
    return slots_[band % slots_.size()]->ratio.row(0);
}
