#include "tool/ratioBands.h"

#include "tool/shadingRatio.h"
#include "util/platformFile.h"

#include <algorithm>
#include <string>

// One lane's bands: both bitmaps' converted rows, the ratio rows, and the readers' scratch.
struct RatioBandSource::Lane {
    explicit Lane(int width)
        : source(width, kBandRows), finalImage(width, kBandRows), ratio(width, kBandRows) {}
    bool valid() const { return source.valid() && finalImage.valid() && ratio.valid(); }

    BandImage source;
    BandImage finalImage;
    BandImage ratio;
    BmpBandReader::Scratch sourceScratch;
    BmpBandReader::Scratch finalScratch;
};

RatioBandSource::RatioBandSource(BmpBandReader& source, BmpBandReader& finalImage, int threads)
    : source_(source), final_(finalImage), width_(source.width()), height_(source.height()) {
    for (int i = 0; i < std::clamp(threads, 1, kMaxRowSourceLanes); ++i) {
        lanes_.push_back(std::make_unique<Lane>(width_));
        valid_ = valid_ && lanes_.back()->valid();
    }
}

RatioBandSource::~RatioBandSource() = default;

std::int64_t RatioBandSource::rowStep() const {
    return lanes_.front()->ratio.rowStep();
}

const std::uint8_t* RatioBandSource::anyRow() const {
    return lanes_.front()->ratio.row(0);
}

void RatioBandSource::fail(FailedInput input) {
    FailedInput none = FailedInput::None;
    if (failedInput_.compare_exchange_strong(none, input)) {
        const std::string system = platform::lastFailure();
        failureReason_ = system.empty() ? "it changed after it was checked" : system;
    }
}

const std::uint8_t* RatioBandSource::rows(int lane, std::int32_t firstRow, std::int32_t count) {
    if (!valid_ || lane < 0 || lane >= lanes() || firstRow % kBandRows != 0 || firstRow < 0 ||
        firstRow >= height_ || count != std::min(kBandRows, height_ - firstRow)) {
        return nullptr;
    }
    Lane& l = *lanes_[static_cast<std::size_t>(lane)];
    platform::clearFailure(); // a failed read below leaves its own reason
    if (!source_.readBand(firstRow, count, l.source, l.sourceScratch)) {
        fail(FailedInput::Source);
        return nullptr;
    }
    if (!final_.readBand(firstRow, count, l.finalImage, l.finalScratch)) {
        fail(FailedInput::Final);
        return nullptr;
    }
    shadingRatioRows(l.source.row(0), l.finalImage.row(0), l.ratio.row(0), width_, count,
                     l.ratio.rowStep());
    return l.ratio.row(0);
}
