// The -i mode: the shading-ratio image of a source and a final bitmap, written as a JPEG file.
// The bitmaps are read, converted and turned into ratio rows one band at a time while the
// encoder codes them, so memory does not grow with the height of the picture.
#include "tool/bmpBandReader.h"
#include "tool/jpegFileWriter.h"
#include "tool/loadRefusal.h"
#include "tool/modes.h"
#include "tool/ratioBands.h"
#include "util/outputFile.h"

#include <stdexcept>

namespace {
constexpr int kJpegQuality = 95;

// Opens and checks the bitmap; when that fails, one standard-error line says why (written
// before the image library ends the process for the refusals it reports itself).
bool openWithReason(const std::string& path, BmpBandReader& bitmap) {
    const LibraryRefusalReporter reporter(path);
    std::string reason;
    if (bitmap.open(path, &reason)) {
        return true;
    }
    if (!reporter.reported()) {
        writeLoadRefusal(path, reason);
    }
    return false;
}

} // namespace

void runImageMode(const std::string& sourceFile, const std::string& finalFile,
                  const std::string& outputFile) {
    // Every check of both bitmaps runs here, before the output is touched.
    BmpBandReader source;
    BmpBandReader finalImage;
    if (!openWithReason(sourceFile, source)) {
        throw std::runtime_error("Unable to load src image\n");
    }
    if (!openWithReason(finalFile, finalImage)) {
        throw std::runtime_error("Unable to load final image\n");
    }
    if (source.width() != finalImage.width() || source.height() != finalImage.height()) {
        throw std::runtime_error("Image dimensions don't match\n");
    }
    if (source.width() == 0 || source.height() == 0) {
        throw std::runtime_error("Image dimensions cannot be zero\n");
    }

    RatioBandSource ratio(source, finalImage, pipelineThreads());
    if (!ratio.valid()) {
        throw std::runtime_error("Memory allocation error.\n");
    }

    // The encoder writes a temporary file that replaces the output only once it is complete,
    // so the inputs it reads meanwhile stay as they were even when the output is one of them.
    OutputFile output(outputFile);
    if (!output.prepare() ||
        !writeJpegRows(output.writePath(), source.width(), source.height(), ratio.rowStep(),
                       ratio.anyRow(), kJpegQuality, ratio) ||
        !output.commit()) {
        // An input that changed under the run is reported as the input it is.
        switch (ratio.failedInput()) {
        case RatioBandSource::FailedInput::Source:
            throw std::runtime_error("Unable to load src image\n");
        case RatioBandSource::FailedInput::Final:
            throw std::runtime_error("Unable to load final image\n");
        case RatioBandSource::FailedInput::None:
            break;
        }
        throw std::runtime_error("Unable to create output file.\n");
    }
}
