// The tool's bridge to the JPEG encoder: one record, one whole-image write to a file, into an
// open file or into memory.
#include "tool/jpegFileWriter.h"

#include "jpeg/jpegEncoder.h"
#include "jpeg/jpegFile.h"
#include "jpeg/jpegRowSource.h"
#include "vx2Image/QimImg.h"

#include <algorithm>
#include <limits>
#include <memory>

namespace {

// Where a write goes: the open `file`, else the named file, else `memory` (of `capacity`
// bytes).
struct Destination {
    JpegFileHandle file = kNoJpegFile; // owned by the write, which closes it
    const std::string* fileName = nullptr;
    std::uint8_t* memory = nullptr;
    std::int32_t capacity = 0;
    std::int32_t written = 0; // bytes of a successful write into memory
};

// One write of 4-byte RGB pixels (`rowStep` bytes per row) as a 4:4:4 YCbCr JFIF stream:
// through `rows` when given, else from the whole buffer at `pixels`. The encoder's status.
int writeRgbx(Destination& destination, const std::uint8_t* pixels, int width, int height,
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
    int request = JPEG_WRITE_FILE_IMAGE;
    if (destination.fileName != nullptr) {
        p.outputFileName = destination.fileName->c_str();
    } else {
        request = JPEG_WRITE_BUFFER_IMAGE;
        p.outputBuffer = destination.memory;
        p.outputBufferSize = destination.capacity;
    }
    int result = JPEG_SUCCESS;
    if (destination.file != kNoJpegFile) {
        result = jpegWriteRowsTo(&p, request, rows, destination.file);
    } else if (rows != nullptr) {
        result = jpegWriteRows(&p, request, rows);
    } else {
        result = jpegWrite(&p, request);
    }
    destination.written = p.outputBufferSize;
    jpegRelease(&p);
    return result;
}

// writeRgbx into memory that grows until the stream fits.
int encodeRgbx(std::vector<std::uint8_t>& bytes, const std::uint8_t* pixels, int width, int height,
               std::int64_t rowStep, int quality, JpegRowSource* rows) {
    constexpr std::int64_t kLargest = std::numeric_limits<std::int32_t>::max();
    // Room for the headers and about two bytes a pixel, more than most pictures need.
    std::int64_t capacity =
        std::min(kLargest, 4096 + 2 * std::int64_t{std::max(width, 0)} * std::max(height, 0));
    for (;;) {
        bytes.resize(static_cast<std::size_t>(capacity));
        Destination destination;
        destination.memory = bytes.data();
        destination.capacity = static_cast<std::int32_t>(capacity);
        const int result = writeRgbx(destination, pixels, width, height, rowStep, quality, rows);
        if (result == JPEG_ERR_BUFFER_TOO_SMALL && capacity < kLargest) {
            capacity = std::min(kLargest, 2 * capacity);
            continue;
        }
        bytes.resize(result == JPEG_SUCCESS ? static_cast<std::size_t>(destination.written) : 0);
        return result;
    }
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

int writeJpegRowsTo(int file, const std::string& fileName, int width, int height,
                    std::int64_t rowStep, const std::uint8_t* anyRow, int quality,
                    JpegRowSource& rows) {
    Destination destination;
    destination.file = file;
    destination.fileName = &fileName;
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
