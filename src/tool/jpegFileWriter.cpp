// The tool's bridge to the JPEG encoder: one record, one whole-image write to a named file, an
// open file or memory.
#include "tool/jpegFileWriter.h"

#include "jpeg/jpegEncoder.h"
#include "jpeg/jpegFile.h"
#include "jpeg/jpegRowSource.h"
#include "jpeg/outputSink.h"
#include "vx2Image/QimImg.h"

#include <memory>

namespace {

// Where a write goes: the open `file` (which the write closes), else `sink`, else the named
// file.
struct Destination {
    const std::string* fileName = nullptr;
    JpegFileHandle file = kNoJpegFile;
    bool syncedAfter = false; // the open file is synced after the write
    ByteSink* sink = nullptr;
};

// One write of 4-byte RGB pixels (`rowStep` bytes per row) as a 4:4:4 YCbCr JFIF stream:
// through `rows` when given, else from the whole buffer at `pixels`. The encoder's status.
int writeRgbx(const Destination& destination, const std::uint8_t* pixels, int width, int height,
              std::int64_t rowStep, int quality, JpegRowSource* rows) {
    // The record carries the encoder's whole working state; keep it off the stack.
    auto properties = std::make_unique<JPEG_PROPERTIES>();
    if (const int status = jpegInitialize(properties.get()); status != JPEG_SUCCESS) {
        if (destination.file != kNoJpegFile) {
            jpegFileClose(destination.file);
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
    p.outputWidth = width;
    p.outputHeight = height;
    p.outputChannels = 3;
    p.outputColor = JPEG_COLOR_YCBCR;
    p.outputSampling = JPEG_SAMPLING_NONE;
    p.quality = quality;
    if (destination.fileName != nullptr) {
        p.outputFileName = destination.fileName->c_str();
    }
    int result = JPEG_SUCCESS;
    if (destination.file != kNoJpegFile) {
        result = jpegWriteRowsTo(&p, JPEG_WRITE_FILE_IMAGE, rows, destination.file,
                                 destination.syncedAfter);
    } else if (destination.sink != nullptr) {
        result = jpegWriteRowsInto(&p, JPEG_WRITE_FILE_IMAGE, rows, *destination.sink);
    } else if (rows != nullptr) {
        result = jpegWriteRows(&p, JPEG_WRITE_FILE_IMAGE, rows);
    } else {
        result = jpegWrite(&p, JPEG_WRITE_FILE_IMAGE);
    }
    jpegRelease(&p);
    return result;
}

// writeRgbx into memory.
int encodeRgbx(std::vector<std::uint8_t>& bytes, const std::uint8_t* pixels, int width, int height,
               std::int64_t rowStep, int quality, JpegRowSource* rows) {
    bytes.clear();
    MemorySink sink(bytes);
    Destination destination;
    destination.sink = &sink;
    const int result = writeRgbx(destination, pixels, width, height, rowStep, quality, rows);
    if (result != JPEG_SUCCESS) {
        bytes.clear();
    }
    return result;
}

} // namespace

bool writeJpegFile(const std::string& fileName, const QimImgT<Rgba8>& image, int quality) {
    Destination destination;
    destination.fileName = &fileName;
    return writeRgbx(destination, reinterpret_cast<const std::uint8_t*>(image.imageData()),
                     image.width(), image.height(), image.widthStep(), quality,
                     nullptr) == JPEG_SUCCESS;
}

bool writeJpegRows(const std::string& fileName, int width, int height, std::int64_t rowStep,
                   const std::uint8_t* anyRow, int quality, JpegRowSource& rows) {
    Destination destination;
    destination.fileName = &fileName;
    return writeRgbx(destination, anyRow, width, height, rowStep, quality, &rows) == JPEG_SUCCESS;
}

int writeJpegRowsTo(int file, bool syncedAfter, const std::string& fileName, int width, int height,
                    std::int64_t rowStep, const std::uint8_t* anyRow, int quality,
                    JpegRowSource& rows) {
    Destination destination;
    destination.fileName = &fileName;
    destination.file = file;
    destination.syncedAfter = syncedAfter;
    return writeRgbx(destination, anyRow, width, height, rowStep, quality, &rows);
}

int encodeJpegImage(std::vector<std::uint8_t>& bytes, const QimImgT<Rgba8>& image, int quality) {
    return encodeRgbx(bytes, reinterpret_cast<const std::uint8_t*>(image.imageData()),
                      image.width(), image.height(), image.widthStep(), quality, nullptr);
}

int encodeJpegRows(std::vector<std::uint8_t>& bytes, int width, int height, std::int64_t rowStep,
                   const std::uint8_t* anyRow, int quality, JpegRowSource& rows) {
    return encodeRgbx(bytes, anyRow, width, height, rowStep, quality, &rows);
}
