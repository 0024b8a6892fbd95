// The -i mode: the shading-ratio image of a source and a final bitmap, written as a JPEG file.
#include "tool/bmpLoader.h"
#include "tool/jpegFileWriter.h"
#include "tool/modes.h"
#include "tool/shadingRatio.h"
#include "util/outputFile.h"
#include "vx2Image/QimImg.h"

#include <stdexcept>

namespace {
constexpr int kJpegQuality = 95;
} // namespace

void runImageMode(const std::string& sourceFile, const std::string& finalFile,
                  const std::string& outputFile) {
    QimImgT<Rgba8> source;
    QimImgT<Rgba8> finalImage;
    source.create(0, 0, false, false, 0.0);
    finalImage.create(0, 0, false, false, 0.0);

    if (!loadBmpFile(sourceFile.c_str(), source)) {
        throw std::runtime_error("Unable to load src image\n");
    }
    if (!loadBmpFile(finalFile.c_str(), finalImage)) {
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
