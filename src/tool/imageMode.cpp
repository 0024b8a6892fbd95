// The -i mode: the shading-ratio image of a source and a final bitmap, written as a JPEG file.
#include "tool/bmpLoader.h"
#include "tool/jpegFileWriter.h"
#include "tool/loadRefusal.h"
#include "tool/modes.h"
#include "tool/shadingRatio.h"
#include "util/outputFile.h"
#include "vx2Image/QimImg.h"

#include <stdexcept>

namespace {
constexpr int kJpegQuality = 95;

// Loads the bitmap; when that fails, one standard-error line says why (written before the
// image library ends the process for the refusals it reports itself).
bool loadWithReason(const std::string& path, QimImgT<Rgba8>& image) {
    const LibraryRefusalReporter reporter(path);
    std::string reason;
    if (loadBmpFile(path.c_str(), image, &reason)) {
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
    QimImgT<Rgba8> source;
    QimImgT<Rgba8> finalImage;
    source.create(0, 0, false, false, 0.0);
    finalImage.create(0, 0, false, false, 0.0);

    if (!loadWithReason(sourceFile, source)) {
        throw std::runtime_error("Unable to load src image\n");
    }
    if (!loadWithReason(finalFile, finalImage)) {
        throw std::runtime_error("Unable to load final image\n");
    }
    if (source.width() != finalImage.width() || source.height() != finalImage.height()) {
        throw std::runtime_error("Image dimensions don't match\n");
    }
    if (source.width() == 0 || source.height() == 0) {
        throw std::runtime_error("Image dimensions cannot be zero\n");
    }

    QimImgT<Rgba8> result;
    result.create(source.width(), source.height(), true, false, 0.0);
    if (!computeShadingRatio(source, finalImage, result)) {
        throw std::runtime_error("Memory allocation error.\n");
    }

    // Both bitmaps are wholly in memory by now, so the output may even be one of them. The
    // encoder writes a temporary file that replaces the output only once it is complete.
    OutputFile output(outputFile);
    if (!output.prepare() || !writeJpegFile(output.writePath(), result, kJpegQuality) ||
        !output.commit()) {
        throw std::runtime_error("Unable to create output file.\n");
    }
}
