// The tool's bridge to the JPEG encoder: one record, one whole-image write to a file.
#include "tool/jpegFileWriter.h"

#include "jpeg/jpegEncoder.h"
#include "jpeg/jpegFile.h"
#include "jpeg/jpegRowSource.h"
#include "vx2Image/QimImg.h"

#include <memory>

namespace {

// One write of 4-byte RGB pixels (`rowStep` bytes per row) as a 4:4:4 YCbCr JFIF file: through
// `rows` when given, else from the whole buffer at `pixels`; into `file` when it is open, else
// into the file `fileName`. The encoder's status.
int writeRgbx(JpegFileHandle file, const std::string& fileName, const std::uint8_t* pixels,
              int width, int height, std::int64_t rowStep, int quality, JpegRowSource* rows) {
    // The record carries the encoder's whole working state; keep it off the stack.
    auto properties = std::make_unique<JPEG_PROPERTIES>();
    if (const int status = jpegInitialize(properties.get()); status != JPEG_SUCCESS) {
        if (file != kNoJpegFile) {
            jpegFileClose(file);
        }
        return status;
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
    int result = JPEG_SUCCESS;
    if (file != kNoJpegFile) {
        result = jpegWriteRowsTo(&p, JPEG_WRITE_FILE_IMAGE, rows, file);
    } else if (rows != nullptr) {
        result = jpegWriteRows(&p, JPEG_WRITE_FILE_IMAGE, rows);
    } else {
        result = jpegWrite(&p, JPEG_WRITE_FILE_IMAGE);
    }
    jpegRelease(&p);
    return result;
}

} // namespace

bool writeJpegFile(const std::string& fileName, const QimImgT<Rgba8>& image, int quality) {
    return writeRgbx(kNoJpegFile, fileName,
                     reinterpret_cast<const std::uint8_t*>(image.imageData()), image.width(),
                     image.height(), image.widthStep(), quality, nullptr) == JPEG_SUCCESS;
}

bool writeJpegRows(const std::string& fileName, int width, int height, std::int64_t rowStep,
                   const std::uint8_t* anyRow, int quality, JpegRowSource& rows) {
    return writeRgbx(kNoJpegFile, fileName, anyRow, width, height, rowStep, quality, &rows) ==
           JPEG_SUCCESS;
}

int writeJpegRowsTo(int file, const std::string& fileName, int width, int height,
                    std::int64_t rowStep, const std::uint8_t* anyRow, int quality,
                    JpegRowSource& rows) {
    return writeRgbx(file, fileName, anyRow, width, height, rowStep, quality, &rows);
}
