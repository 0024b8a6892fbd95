// The tool's bridge to the JPEG encoder: one record, one whole-image write to a file.
#include "tool/jpegFileWriter.h"

#include "jpeg/jpegEncoder.h"
#include "vx2Image/QimImg.h"

#include <memory>

bool writeJpegFile(const std::string& fileName, const QimImgT<Rgba8>& image, int quality) {
    // The record carries the encoder's whole working state; keep it off the stack.
    auto properties = std::make_unique<JPEG_PROPERTIES>();
    if (jpegInitialize(properties.get()) != JPEG_SUCCESS) {
        return false;
    }
    JPEG_PROPERTIES& p = *properties;
    p.inputPixels = reinterpret_cast<const std::uint8_t*>(image.imageData());
    p.inputWidth = image.width();
    p.inputHeight = image.height();
    p.inputRowPadding = (image.widthStep() / 4 - image.width()) * 4;
    p.inputChannels = 4;
    p.inputColor = JPEG_COLOR_RGB;
    p.outputFileName = fileName.c_str();
    p.outputWidth = image.width();
    p.outputHeight = image.height();
    p.outputChannels = 3;
    p.outputColor = JPEG_COLOR_YCBCR;
    p.outputSampling = JPEG_SAMPLING_NONE;
    p.quality = quality;
    const int result = jpegWrite(&p, JPEG_WRITE_FILE_IMAGE);
    jpegRelease(&p);
    return result == JPEG_SUCCESS;
}
