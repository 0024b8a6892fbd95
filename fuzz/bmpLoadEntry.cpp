// The bitmap path on one input: the bytes as a BMP file through loadBmpFile (file header
// checks, fromDib, the DIB conversion and run-length decoding) and through the band reader of
// the streamed -i mode, which must refuse and accept the same files and give the same pixels;
// then the shading ratio of the image against a copy-on-write copy of itself and, for small
// images, the JPEG file writer. Shared by the fuzz target and the regression replay in the
// tests.
#include "fuzzEntries.h"

#include "fuzzInput.h"
#include "image/dibLayout.h"
#include "image/iplImage.h"
#include "tool/bmpBandReader.h"
#include "tool/bmpLoader.h"
#include "tool/jpegFileWriter.h"
#include "tool/ratioBands.h"
#include "tool/shadingRatio.h"
#include "util/lastError.h"
#include "vx2Image/QimImg.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace fuzz_entry {

// Larger images that the loader would accept are skipped to keep one run short; sizes that it
// refuses (negative widths, sides above 65535) still go in, as it refuses them before
// allocating anything.
inline constexpr std::int64_t kBmpPixelLimit = std::int64_t{1} << 20;
// Images up to this many pixels are also written as a JPEG file.
inline constexpr std::int64_t kBmpEncodeLimit = 64 * 1024;

// The image library reports refusals by ending the process in its fixed error mode; the
// returning mode lets one process take many inputs. The previous mode comes back afterwards.
class ReturningErrorMode {
public:
    ReturningErrorMode() : previous_(iplGetErrorMode()) {
        iplSetErrorMode(IPL_ErrModeParent);
        iplSetStatus(IPL_StsOk);
    }
    ~ReturningErrorMode() {
        iplSetStatus(IPL_StsOk);
        iplSetErrorMode(previous_);
    }
    ReturningErrorMode(const ReturningErrorMode&) = delete;
    ReturningErrorMode& operator=(const ReturningErrorMode&) = delete;

private:
    int previous_;
};

// The size as the info header gives it, in whichever form.
inline bool bmpTooLargeToTry(const std::uint8_t* data, std::size_t size) {
    if (size < 14) {
        return false;
    }
    DibBlock block;
    block.data = data + 14;
    block.size = static_cast<std::int64_t>(size) - 14;
    DibLayout layout;
    describeDib(block, layout);
    return layout.width >= 0 && layout.width <= 65535 && layout.height <= 65535 &&
           layout.width * layout.height > kBmpPixelLimit;
}

// What a loader decided on one file: accepted or not, the recorded cause and the image
// library's reason for a refusal. The library's status is left out: in the returning error
// mode a refusal inside the whole conversion is reported again by its caller, which the fixed
// mode never reaches, as the first report ends the process.
struct LoadOutcome {
    bool accepted = false;
    std::int32_t code = kLastErrorNone;
    std::string reason;
};

LoadOutcome outcomeOf(bool accepted) {
    LoadOutcome outcome{accepted, lastError().code, iplGetStatusReason()};
    iplSetStatusReason("");
    clearLastError();
    iplSetStatus(IPL_StsOk);
    return outcome;
}

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

// The band reader on the same file: the same decision, cause and size as the whole loader,
// and when both accept, the same pixels.
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

const char* runBmpLoad(const std::uint8_t* data, std::size_t size) {
    static fuzz_support::MemoryFile file("qmjpeg-fuzz-bmp");
    if (!file.ok() || !file.assign(data, size)) {
        return nullptr;
    }
    if (bmpTooLargeToTry(data, size)) {
        return nullptr;
    }
    ReturningErrorMode mode;
    clearLastError();

    QimImgT<Rgba8> image;
    image.create(0, 0, false, false, 0.0);
    const LoadOutcome whole = outcomeOf(loadBmpFile(file.path().c_str(), image));
    if (!whole.accepted && whole.code == kLastErrorNone) {
        return "a refused bitmap left no cause";
    }
    if (const char* failure = checkStreamed(file.path(), whole, image)) {
        return failure;
    }
    if (!whole.accepted) {
        return nullptr;
    }
    const int width = image.width();
    const int height = image.height();
    if (width < 0 || height < 0) {
        return "loaded image has a negative size";
    }
    if (width == 0 || height == 0) {
        return nullptr;
    }
    if (!image.hasPixels() || image.widthStep() < 4 * width) {
        return "loaded image has no pixels or too short rows";
    }
    if (std::int64_t{width} * height > kBmpPixelLimit) {
        return "loaded image is larger than its header";
    }

    // The copy shares the body until the ratio computation unshares it.
    QimImgT<Rgba8> finalImage = image;
    QimImgT<Rgba8> result;
    result.create(width, height, true, false, 0.0);
    if (!computeShadingRatio(image, finalImage, result)) {
        return "shading ratio refused two images of one size";
    }
    if (std::int64_t{width} * height <= kBmpEncodeLimit &&
        !writeJpegFile("/dev/null", result, 95)) {
        return "shading-ratio image could not be encoded";
    }
    return nullptr;
}

} // namespace fuzz_entry
