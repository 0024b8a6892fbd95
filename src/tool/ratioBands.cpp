#include "tool/ratioBands.h"

#include "tool/shadingRatio.h"
#include "util/platformFile.h"

#include <algorithm>
#include <optional>
#include <string>

// One lane's bands: the ratio rows, the readers' scratch and, unless the ratio is taken
// straight from both bitmaps' stored rows, their converted rows.
struct RatioBandSource::Lane {
    Lane(int width, bool converts) : ratio(width, kBandRows) {
        if (converts) {
            source.emplace(width, kBandRows);
            finalImage.emplace(width, kBandRows);
        }
    }
    bool valid() const {
        return ratio.valid() && (!source || source->valid()) &&
               (!finalImage || finalImage->valid());
    }

    BandImage ratio;
    std::optional<BandImage> source;
    std::optional<BandImage> finalImage;
    BmpBandReader::Scratch sourceScratch;
    BmpBandReader::Scratch finalScratch;
};

RatioBandSource::RatioBandSource(BmpBandReader& source, BmpBandReader& finalImage, int threads)
    : source_(source), final_(finalImage), width_(source.width()), height_(source.height()),
      converts_(source.storedBgrPixelBytes() == 0 || finalImage.storedBgrPixelBytes() == 0) {
    for (int i = 0; i < std::clamp(threads, 1, kMaxRowSourceLanes); ++i) {
        lanes_.push_back(std::make_unique<Lane>(width_, converts_));
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
    return converts_ ? convertedRatio(l, firstRow, count) : storedRatio(l, firstRow, count);
}

const std::uint8_t* RatioBandSource::storedRatio(Lane& l, std::int32_t firstRow,
                                                 std::int32_t count) {
    std::int64_t sourceStep = 0;
    std::int64_t finalStep = 0;
    const std::uint8_t* source =
        source_.readStoredBand(firstRow, count, l.sourceScratch, sourceStep);
    if (source == nullptr) {
        fail(FailedInput::Source);
        return nullptr;
    }
    const std::uint8_t* finalRow =
        final_.readStoredBand(firstRow, count, l.finalScratch, finalStep);
    if (finalRow == nullptr) {
        fail(FailedInput::Final);
        return nullptr;
    }
    for (int y = 0; y < count; ++y) {
        shadingRatioStoredRow(source + y * sourceStep, source_.storedBgrPixelBytes(),
                              finalRow + y * finalStep, final_.storedBgrPixelBytes(),
                              l.ratio.row(y), width_);
    }
    return l.ratio.row(0);
}

const std::uint8_t* RatioBandSource::convertedRatio(Lane& l, std::int32_t firstRow,
                                                    std::int32_t count) {
    if (!source_.readBand(firstRow, count, *l.source, l.sourceScratch)) {
        fail(FailedInput::Source);
        return nullptr;
    }
    if (!final_.readBand(firstRow, count, *l.finalImage, l.finalScratch)) {
        fail(FailedInput::Final);
        return nullptr;
    }
    shadingRatioRows(l.source->row(0), l.finalImage->row(0), l.ratio.row(0), width_, count,
                     l.ratio.rowStep());
    return l.ratio.row(0);
}
