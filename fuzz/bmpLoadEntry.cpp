// The bitmap path on one input: the bytes as a BMP file through loadBmp (file header
// checks, fromDib, the DIB conversion and run-length decoding) and through the band reader of
// the streamed -i mode, which must refuse and accept the same files and give the same pixels;
// then the shading ratio of the image against a copy-on-write copy of itself and, for small
// images, the JPEG file writer. Shared by the fuzz target and the regression replay in the
// tests.
#include "fuzzEntries.h"

#include "bmpChecks.h"
#include "fuzzInput.h"
#include "image/iplImage.h"
#include "tool/bmpLoader.h"
#include "tool/jpegFileWriter.h"
#include "tool/ratioBands.h"
#include "tool/shadingRatio.h"
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

const char* runBmpLoad(const std::uint8_t* data, std::size_t size) {
    static fuzz_support::MemoryFile file("qmjpeg-fuzz-bmp");
    if (!file.ok() || !file.assign(data, size)) {
        return nullptr;
    }
    if (bmpTooLargeToTry(data, size, kBmpPixelLimit)) {
        return nullptr;
    }
    ReturningErrorMode mode;

    QimImgT<Rgba8> image;
    image.create(0, 0, false, false, 0.0);
    const LoadOutcome whole = outcomeOf(loadBmp(file.path().c_str(), image));
    if (!whole.accepted && whole.reason.empty()) {
        return "a refused bitmap left no reason";
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
