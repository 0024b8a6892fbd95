// The whole -i run on one input holding two bitmaps: each through loadBmp and through the
// band reader, which must agree on acceptance, cause, size and pixels; then, for two accepted
// bitmaps of one size, the shading-ratio image coded three ways, which must give the same
// bytes: the whole images through computeShadingRatio and the whole-image write, the band
// source with one lane, and the band source with two to four lanes coding the scan in parts
// of a size the input chooses (down to one MCU row each, so that small pictures have many
// parts to join). Everything is written to memory. Shared by the fuzz target and the
// regression replay in the tests.
//
// Input: a lane byte (2 + its value % 3 lanes), a part-size byte, the source bitmap's length
// (4 bytes, little-endian, taken modulo what follows), the source bitmap, the final bitmap.
#include "fuzzEntries.h"

#include "bmpChecks.h"
#include "fuzzInput.h"
#include "jpeg/jpegRowSource.h"
#include "jpeg/jpegStatus.h"
#include "tool/bmpBandReader.h"
#include "tool/bmpLoader.h"
#include "tool/jpegFileWriter.h"
#include "tool/ratioBands.h"
#include "tool/shadingRatio.h"
#include "vx2Image/QimImg.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fuzz_entry {

namespace {

// Pictures above this many pixels (the bitmap suite's 127 x 64) are skipped to keep one run
// short: each is read five times and coded three times, and the bands, parts and joins are
// the same in small pictures.
constexpr std::int64_t kImageRunPixelLimit = 127 * 64;
constexpr int kQuality = 95; // the tool's

// A band source with the lanes of `rows` and parts of at least `partPixels` pixels.
class PartedRows final : public JpegRowSource {
public:
    PartedRows(RatioBandSource& rows, std::int64_t partPixels)
        : rows_(rows), partPixels_(partPixels) {}

    const std::uint8_t* rows(int lane, std::int32_t firstRow, std::int32_t count) override {
        return rows_.rows(lane, firstRow, count);
    }
    int lanes() const override { return rows_.lanes(); }
    std::int64_t partPixels() const override { return partPixels_; }

private:
    RatioBandSource& rows_;
    std::int64_t partPixels_;
};

// One bitmap of the input: its file (which lives on from one input to the next), the whole
// loader's image and outcome.
struct Bitmap {
    explicit Bitmap(fuzz_support::MemoryFile& memoryFile) : file(memoryFile) {}
    fuzz_support::MemoryFile& file;
    QimImgT<Rgba8> image;
    LoadOutcome whole;
};

// Loads the bitmap whole and checks the band reader against it. Null when they agree.
const char* loadBoth(Bitmap& bitmap, const std::uint8_t* data, std::size_t size) {
    if (!bitmap.file.ok() || !bitmap.file.assign(data, size)) {
        return nullptr;
    }
    bitmap.image.create(0, 0, false, false, 0.0);
    bitmap.whole = outcomeOf(loadBmp(bitmap.file.path().c_str(), bitmap.image));
    if (!bitmap.whole.accepted && bitmap.whole.reason.empty()) {
        return "a refused bitmap left no reason";
    }
    return checkStreamed(bitmap.file.path(), bitmap.whole, bitmap.image);
}

// The ratio image of the two open readers through the band source with `lanes` lanes.
int encodeStreamed(BmpBandReader& source, BmpBandReader& finalImage, int lanes,
                   std::int64_t partPixels, std::vector<std::uint8_t>& bytes) {
    RatioBandSource ratio(source, finalImage, lanes);
    if (!ratio.valid()) {
        return JPEG_ERR_MEMORY;
    }
    PartedRows rows(ratio, partPixels);
    return encodeJpegRows(bytes, source.width(), source.height(), ratio.rowStep(), ratio.anyRow(),
                          kQuality, rows);
}

} // namespace

const char* runImageRun(const std::uint8_t* data, std::size_t size) {
    fuzz_support::FuzzInput in(data, size);
    // 2 to 10: from 8 on the calling thread only joins.
    const int lanes = 2 + in.byte() % 9;
    // 1 pixel: parts of one MCU row; then steps of two MCU rows of a 32-pixel-wide picture.
    const std::int64_t partPixels = 1 + std::int64_t{in.byte()} * 512;
    const std::size_t sourceSize = in.u32() % (in.restSize() + 1);
    const std::uint8_t* const sourceData = in.rest();
    const std::uint8_t* const finalData = sourceData + sourceSize;
    const std::size_t finalSize = in.restSize() - sourceSize;
    if (bmpTooLargeToTry(sourceData, sourceSize, kImageRunPixelLimit) ||
        bmpTooLargeToTry(finalData, finalSize, kImageRunPixelLimit)) {
        return nullptr;
    }

    ReturningErrorMode mode;
    static fuzz_support::MemoryFile sourceFile("qmjpeg-fuzz-source");
    static fuzz_support::MemoryFile finalFile("qmjpeg-fuzz-final");
    Bitmap source(sourceFile);
    Bitmap finalImage(finalFile);
    if (const char* failure = loadBoth(source, sourceData, sourceSize)) {
        return failure;
    }
    if (const char* failure = loadBoth(finalImage, finalData, finalSize)) {
        return failure;
    }
    const int width = source.image.width();
    const int height = source.image.height();
    if (!source.whole.accepted || !finalImage.whole.accepted || width <= 0 || height <= 0 ||
        width != finalImage.image.width() || height != finalImage.image.height()) {
        return nullptr; // the run stops before any coding
    }

    // The whole images, as the tool once worked.
    QimImgT<Rgba8> ratio;
    ratio.create(width, height, true, false, 0.0);
    if (!computeShadingRatio(source.image, finalImage.image, ratio)) {
        return "shading ratio refused two images of one size";
    }
    std::vector<std::uint8_t> whole;
    if (encodeJpegImage(whole, ratio, kQuality) != JPEG_SUCCESS) {
        return "the whole ratio image could not be coded";
    }

    // The band route of the -i mode.
    BmpBandReader sourceReader;
    BmpBandReader finalReader;
    if (!sourceReader.open(source.file.path()) || !finalReader.open(finalImage.file.path())) {
        return "band reader refused a bitmap it accepted before";
    }
    std::vector<std::uint8_t> oneLane;
    if (encodeStreamed(sourceReader, finalReader, 1, kDefaultPartPixels, oneLane) != JPEG_SUCCESS) {
        return "the band source with one lane could not be coded";
    }
    if (oneLane != whole) {
        return "the band source with one lane gives other bytes than the whole images";
    }
    std::vector<std::uint8_t> parted;
    if (encodeStreamed(sourceReader, finalReader, lanes, partPixels, parted) != JPEG_SUCCESS) {
        return "the band source with several lanes could not be coded";
    }
    if (parted != oneLane) {
        return "the band source with several lanes gives other bytes than with one";
    }
    return nullptr;
}

} // namespace fuzz_entry
