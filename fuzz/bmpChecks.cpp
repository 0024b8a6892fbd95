#include "bmpChecks.h"

#include "image/dibLayout.h"
#include "image/iplImage.h"
#include "tool/ratioBands.h"

#include <algorithm>
#include <cstring>

namespace fuzz_entry {

ReturningErrorMode::ReturningErrorMode() : previous_(iplGetErrorMode()) {
    iplSetErrorMode(IPL_ErrModeParent);
    iplSetStatus(IPL_StsOk);
}

ReturningErrorMode::~ReturningErrorMode() {
    iplSetStatus(IPL_StsOk);
    iplSetErrorMode(previous_);
}

// The size as the info header gives it, in whichever form.
bool bmpTooLargeToTry(const std::uint8_t* data, std::size_t size, std::int64_t limit) {
    if (size < 14) {
        return false;
    }
    DibBlock block;
    block.data = data + 14;
    block.size = static_cast<std::int64_t>(size) - 14;
    DibLayout layout;
    describeDib(block, layout);
    return layout.width >= 0 && layout.width <= 65535 && layout.height <= 65535 &&
           layout.width * layout.height > limit;
}

LoadOutcome outcomeOf(const Outcome& checked) {
    iplSetStatusReason("");
    iplSetStatus(IPL_StsOk);
    return {static_cast<bool>(checked), checked.code(), checked.reason()};
}

namespace {

// Reads every band of an opened reader into one reused band, as the streamed mode does, and
// compares the colour bytes with the whole image's rows (alpha aside: the whole loader makes
// alpha-less bitmaps opaque afterwards). The band is filled with a marker before each read,
// so pixels that a read leaves unset show up instead of keeping the previous band's values.
const char* compareBands(BmpBandReader& reader, const QimImgT<Rgba8>& image) {
    const int width = image.width();
    const int height = image.height();
    BandImage band(width, kBandRows);
    if (!band.valid()) {
        return "no band for an image the whole loader held";
    }
    for (int firstRow = 0; firstRow < height; firstRow += kBandRows) {
        const int rows = std::min(kBandRows, height - firstRow);
        for (int y = 0; y < kBandRows; ++y) {
            std::memset(band.row(y), 0xA5, static_cast<std::size_t>(width) * 4);
        }
        if (!reader.readBand(firstRow, rows, band)) {
            return "band reader failed on a file it had opened";
        }
        for (int y = 0; y < rows; ++y) {
            const std::uint8_t* streamed = band.row(y);
            const auto* whole = reinterpret_cast<const std::uint8_t*>(image.imageData()) +
                                std::int64_t{firstRow + y} * image.widthStep();
            for (int x = 0; x < width; ++x) {
                if (std::memcmp(streamed + 4 * x, whole + 4 * x, 3) != 0) {
                    return "band pixels differ from the whole image's";
                }
            }
        }
    }
    return nullptr;
}

} // namespace

const char* checkStreamed(const std::string& path, const LoadOutcome& whole,
                          const QimImgT<Rgba8>& image) {
    BmpBandReader reader;
    const LoadOutcome streamed = outcomeOf(reader.open(path));
    if (streamed.accepted != whole.accepted) {
        return streamed.accepted ? "band reader accepted a bitmap the whole loader refused"
                                 : "band reader refused a bitmap the whole loader accepted";
    }
    if (streamed.code != whole.code || streamed.reason != whole.reason) {
        return "band reader refused with another cause than the whole loader";
    }
    if (!whole.accepted) {
        return nullptr;
    }
    if (reader.width() != image.width() || reader.height() != image.height()) {
        return "band reader and whole loader give different sizes";
    }
    if (image.width() <= 0 || image.height() <= 0 || !image.hasPixels() ||
        image.widthStep() < 4 * image.width()) {
        return nullptr; // nothing to compare; the whole image's own checks follow
    }
    return compareBands(reader, image);
}

} // namespace fuzz_entry
