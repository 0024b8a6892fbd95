// The tool's bridge to the JPEG encoder: one record, one whole-image write to a file.
#include "tool/jpegFileWriter.h"

#include "jpeg/jpegEncoder.h"
#include "jpeg/jpegRowSource.h"
#include "vx2Image/QimImg.h"

#include <memory>

namespace {

// One write of 4-byte RGB pixels (`rowStep` bytes per row) as a 4:4:4 YCbCr JFIF file: through
// `rows` when given, else from the whole buffer at `pixels`.
bool writeRgbx(const std::string& fileName, const std::uint8_t* pixels, int width, int height,
               std::int64_t rowStep, int quality, JpegRowSource* rows) {
    // The record carries the encoder's whole working state; keep it off the stack.
    auto properties = std::make_unique<JPEG_PROPERTIES>();
    if (jpegInitialize(properties.get()) != JPEG_SUCCESS) {
        return false;
    }
    JPEG_PROPERTIES& p = *properties;
    p.inputPixels = pixels;
    p.inputWidth = width;
    p.inputHeight = height;
    p.inputRowPadding = static_cast<std::int32_t>((rowStep / 4 - width) * 4);
    p.inputChannels = 4;
    p.inputColor = JPEG_COLOR_RGB;
    p.outputFileName = fileName.c_str();
    p.outputWidth = width;
    p.outputHeight = height;
    p.outputChannels = 3;
    p.outputColor = JPEG_COLOR_YCBCR;
    p.outputSampling = JPEG_SAMPLING_NONE;
    p.quality = quality;
    const int result = rows != nullptr ? jpegWriteRows(&p, JPEG_WRITE_FILE_IMAGE, rows)
                                       : jpegWrite(&p, JPEG_WRITE_FILE_IMAGE);
    jpegRelease(&p);
    return result == JPEG_SUCCESS;
}

} // namespace

bool writeJpegFile(const std::string& fileName, const QimImgT<Rgba8>& image, int quality) {
    return writeRgbx(fileName, reinterpret_cast<const std::uint8_t*>(image.imageData()),
                     image.width(), image.height(), image.widthStep(), quality, nullptr);
}

bool writeJpegRows(const std::string& fileName, int width, int height, std::int64_t rowStep,
                   const std::uint8_t* anyRow, int quality, JpegRowSource& rows) {
    return writeRgbx(fileName, anyRow, width, height, rowStep, quality, &rows);
}
