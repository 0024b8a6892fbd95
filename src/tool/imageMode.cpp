// The -i mode: the shading-ratio image of a source and a final bitmap, written as a JPEG file.
// The bitmaps are read, converted and turned into ratio rows one band at a time while the
// encoder codes them, so memory does not grow with the height of the picture.
#include "jpeg/jpegStatus.h"
#include "tool/bmpBandReader.h"
#include "tool/failureReport.h"
#include "tool/jpegFileWriter.h"
#include "tool/laneCount.h"
#include "tool/messages.h"
#include "tool/modes.h"
#include "tool/ratioBands.h"
#include "util/lastError.h"
#include "util/outputFile.h"

#include <string>

namespace {
constexpr int kJpegQuality = 95;

// Opens and checks the bitmap, or fails the run with `message` and the reason. A refusal of
// the image library's conversion ends the run as the library ends it: status 1 and nothing
// on standard output.
void openOrFail(const std::string& path, BmpBandReader& bitmap, const char* message) {
    if (Outcome opened = bitmap.open(path); !opened) {
        throw ToolFailure(opened.code() == kLastErrorConversion ? "" : message, path,
                          opened.reason());
    }
}

std::string sizeText(const BmpBandReader& bitmap) {
    return std::to_string(bitmap.width()) + "x" + std::to_string(bitmap.height());
}

// The message and reason of a write that failed with the encoder's `status`.
[[noreturn]] void failWrite(const RatioBandSource& ratio, const std::string& sourceFile,
                            const std::string& finalFile, const std::string& outputFile,
                            int status) {
    // An input that changed under the run is reported as the input it is.
    switch (ratio.failedInput()) {
    case RatioBandSource::FailedInput::Source:
        throw ToolFailure(messages::kLoadSource, sourceFile, ratio.failureReason());
    case RatioBandSource::FailedInput::Final:
        throw ToolFailure(messages::kLoadFinal, finalFile, ratio.failureReason());
    case RatioBandSource::FailedInput::None:
        break;
    }
    const std::string reason = status == JPEG_ERR_MEMORY ? std::string("Cannot allocate memory")
                                                         : systemReason("write failed");
    throw ToolFailure(messages::kCreateOutput, outputFile, reason);
}

} // namespace

void runImageMode(const std::string& sourceFile, const std::string& finalFile,
                  const std::string& outputFile) {
    // Every check of both bitmaps runs here, before the output is touched.
    BmpBandReader source;
    BmpBandReader finalImage;
    openOrFail(sourceFile, source, messages::kLoadSource);
    openOrFail(finalFile, finalImage, messages::kLoadFinal);
    if (source.width() != finalImage.width() || source.height() != finalImage.height()) {
        throw ToolFailure(messages::kSizesDiffer, finalFile,
                          sizeText(finalImage) + ", but " + sourceFile + " is " + sizeText(source));
    }
    if (source.width() == 0 || source.height() == 0) {
        throw ToolFailure(messages::kZeroSize, finalFile,
                          sizeText(finalImage) + ", and " + sourceFile + " is " + sizeText(source) +
                              ": no pixels to encode");
    }

    RatioBandSource ratio(source, finalImage, pipelineThreads());
    if (!ratio.valid()) {
        throw ToolFailure(messages::kNoMemory, outputFile, "Cannot allocate memory");
    }

    // The encoder writes a temporary file that replaces the output only once it is complete,
    // so the inputs it reads meanwhile stay as they were even when the output is one of them.
    OutputFile output(outputFile);
    if (Outcome prepared = output.prepare(); !prepared) {
        throw ToolFailure(messages::kCreateOutput, outputFile, prepared.reason());
    }
    platform::clearFailure();
    const platform::FileHandle file = output.openContent();
    if (file == platform::kNoFile) {
        throw ToolFailure(messages::kCreateOutput, outputFile, systemReason("cannot be opened"));
    }
    const int status =
        writeJpegRowsTo(file, output.syncsOnCommit(), outputFile, source.width(), source.height(),
                        ratio.rowStep(), ratio.anyRow(), kJpegQuality, ratio);
    if (status != JPEG_SUCCESS) {
        failWrite(ratio, sourceFile, finalFile, outputFile, status);
    }
    if (Outcome committed = output.commit(); !committed) {
        throw ToolFailure(messages::kCreateOutput, outputFile, committed.reason());
    }
}
