// jpegInitialize, jpegWrite and jpegRelease: the record's life cycle over the encoder's config,
// tables and scan coder, and the output file of the file requests.
#include "jpeg/jpegEncoder.h"

#include "jpeg/defaultTables.h"
#include "jpeg/encoderConfig.h"
#include "jpeg/jpegFile.h"
#include "jpeg/jpegValidation.h"
#include "jpeg/outputSink.h"
#include "jpeg/processorInfo.h"
#include "jpeg/routineTable.h"
#include "jpeg/scanEncoder.h"
#include "jpeg/streamWriter.h"

#include <algorithm>
#include <optional>

namespace {

constexpr JpegPublicFields kPublicDefaults = {
    .useStateAsIs = 0,
    .inputPixels = nullptr,
    .inputWidth = 0,
    .inputHeight = 0,
    .inputRowPadding = 0,
    .inputChannels = 3,
    .inputColor = JPEG_COLOR_BGR,
    .inputSampling = 0,
    .outputFileName = nullptr,
    .outputBuffer = nullptr,
    .outputBufferSize = 0,
    .outputWidth = 0,
    .outputHeight = 0,
    .outputChannels = 3,
    .outputColor = JPEG_COLOR_YCBCR,
    .outputSampling = JPEG_SAMPLING_H2V2,
    .thumbnailWidth = 0,
    .thumbnailHeight = 0,
    .convertColor = 1,
    .upsample = 1,
    .quality = 75,
};

// The state starts with copies of the public defaults.
void setStateDefaults(JpegEncoderState& s, int processorClass) {
    s = JpegEncoderState{};
    setConfigFields(s.config, kPublicDefaults);
    s.requestCode = JPEG_NO_REQUEST;
    s.dctMethod = 1;
    assignDefaultHuffmanTableNumbers(s.config);
    for (int i = 0; i < kJpegMaxComponents; ++i) {
        s.config.components[i] = {0, 0, 0, defaultTableNumber(i)};
    }
    s.coder.config = &s.config;
    s.outputFile = kNoJpegFile;
    s.processorClass = processorClass;
    s.jfifVersion = 0x0101;
    s.densityUnits = 0;
    s.xDensity = 1;
    s.yDensity = 1;
    s.app14Version = 100;
    s.routines = routinesForClass(processorClass);
}

// Closes the open output file. A file that holds no complete stream (the write failed, the
// close failed, or a suspended write was never finished) is removed, unless it is not a regular
// file or its name now stands for another file.
void closeOutputFile(JpegEncoderState& s, int& result, bool finished) {
    if (s.outputFile == kNoJpegFile) {
        return;
    }
    const bool removable = jpegFileNamedBy(s.outputFile, s.outputPath);
    const bool closed = jpegFileClose(s.outputFile);
    s.outputFile = kNoJpegFile;
    if (!closed) {
        result = JPEG_ERR_CLOSE_FILE;
    }
    if (removable && (!finished || result < 0)) {
        jpegFileRemove(s.outputPath);
    }
    s.outputPath = nullptr;
}

// Points the coder's output at the file of a file request, opening it by name unless the
// caller gave a sink of its own or a suspended write left the file open. 0 or
// JPEG_ERR_FILE_NAME.
int attachOutputFile(JPEG_PROPERTIES& p, int request, std::optional<FileSink>& fileSink) {
    JpegEncoderState& s = p.state;
    if (s.coder.stream.sink != nullptr) {
        return JPEG_SUCCESS;
    }
    if (isFileRequest(request) && s.outputFile == kNoJpegFile) {
        const char* name = p.useStateAsIs != 0 ? s.config.fields.outputFileName : p.outputFileName;
        s.outputFile = name != nullptr ? jpegFileOpen(name) : kNoJpegFile;
        if (s.outputFile == kNoJpegFile) {
            return JPEG_ERR_FILE_NAME;
        }
        s.outputPath = name;
    }
    if (s.outputFile != kNoJpegFile) {
        s.coder.stream.sink = &fileSink.emplace(s.outputFile);
    }
    return JPEG_SUCCESS;
}

int writeRequest(JPEG_PROPERTIES& p, int request, std::optional<FileSink>& fileSink) {
    JpegEncoderState& s = p.state;
    s.requestCode = request;
    if (const int result = validateProperties(p, request); result != 0) {
        return result;
    }
    if (!isWriteRequest(request)) {
        return JPEG_ERR_NOT_SUPPORTED; // decoder requests
    }
    if (const int result = attachOutputFile(p, request, fileSink); result != 0) {
        return result;
    }
    const bool suspended = s.suspendedScan != nullptr;
    if (p.useStateAsIs == 0 && !suspended) {
        setConfigFields(s.config, p);
    }
    installDefaultTables(s);
    if (const int result = layOutComponents(s.config, callerSuppliedQuantTables(s)); result != 0) {
        return result;
    }

    if (!suspended) {
        s.coder.config = &s.config;
        s.coder.stream.byteCount = 0;
        s.coder.sourceOrigin = s.config.fields.inputPixels;
        s.coder.sourceFirstRow = 0;
        // Only image requests read the source, and only their sizes have been checked.
        if (isImageRequest(request) && s.config.fields.inputHeight < 0 &&
            s.config.fields.inputPixels != nullptr) {
            const std::ptrdiff_t lastRow =
                -static_cast<std::ptrdiff_t>(s.config.fields.inputHeight) - 1;
            s.coder.sourceOrigin = s.config.fields.inputPixels + lastRow * -s.config.rowStride;
        }
        if (const int result = writeStreamHeader(s); result != 0) {
            return result;
        }
        if (isTablesRequest(request)) {
            p.outputBufferSize = s.config.fields.outputBufferSize = s.coder.stream.byteCount;
        }
    }
    if (!isImageRequest(request)) {
        return JPEG_SUCCESS;
    }
    const int result = writeFrameAndScan(s);
    p.outputBufferSize = s.config.fields.outputBufferSize = s.coder.stream.byteCount;
    if ((result == JPEG_INTERRUPT_SUCCESS || result == JPEG_ROI_SUCCESS) &&
        s.suspendedScan != nullptr) {
        const JpegFrameHeader& frame = s.config.frameHeader;
        s.resumeX = std::min((s.suspendedScan->lastMcuColumn + 1) * frame.mcuWidth, frame.width);
        s.resumeY = std::min((s.suspendedScan->lastMcuRow + 1) * frame.mcuHeight, frame.height);
    }
    return result;
}

// jpegInitialize fills the routine table; jpegRelease empties it.
bool initialized(const JpegEncoderState& s) {
    return s.routines.encodeBlock != nullptr;
}

} // namespace

int jpegInitialize(JPEG_PROPERTIES* properties) {
    if (properties == nullptr) {
        return JPEG_ERR_PROPERTIES;
    }
    static_cast<JpegPublicFields&>(*properties) = kPublicDefaults;
    setStateDefaults(properties->state, detectProcessorClass());
    return JPEG_SUCCESS;
}

int jpegWrite(JPEG_PROPERTIES* properties, int requestCode) {
    if (properties == nullptr || !initialized(properties->state)) {
        return JPEG_ERR_INVALID_ENCODER;
    }
    JpegEncoderState& s = properties->state;
    int result = JPEG_ERR_EXCEPTION;
    std::optional<FileSink> fileSink;
    try {
        result = writeRequest(*properties, requestCode, fileSink);
    } catch (...) {
        result = JPEG_ERR_EXCEPTION;
    }
    if (fileSink.has_value()) {
        // The sink lives for this call; the file stays open.
        if (const int finished = fileSink->finish(); finished != JPEG_SUCCESS && result >= 0) {
            result = finished;
        }
        s.coder.stream.sink = nullptr;
    }
    const bool suspended = (result == JPEG_INTERRUPT_SUCCESS || result == JPEG_ROI_SUCCESS) &&
                           s.suspendedScan != nullptr;
    if (!suspended) {
        closeOutputFile(s, result, true);
    }
    return result;
}

int jpegRelease(JPEG_PROPERTIES* properties) {
    if (properties == nullptr) {
        return JPEG_ERR_PROPERTIES;
    }
    JpegEncoderState& s = properties->state;
    int result = JPEG_SUCCESS;
    closeOutputFile(s, result, false);
    for (const std::uint16_t*& table : s.tables.quantTables) {
        table = nullptr;
    }
    if (result == JPEG_SUCCESS && s.config.fields.outputChannels > 255) {
        result = JPEG_ERR_PROPERTIES;
    }
    // The working memory is freed whatever happened above.
    delete s.suspendedScan;
    s.suspendedScan = nullptr;
    for (JpegQuantSlot& slot : s.quantSlots) {
        slot = {nullptr, 0};
    }
    for (JpegHuffmanSlot& slot : s.huffmanSlots) {
        slot = {nullptr, nullptr, 0, 0};
    }
    s.quantTableCount = 0;
    s.huffmanPairCount = 0;
    s.callerQuantTables = 0;
    s.callerHuffmanTables = 0;
    s.routines = RoutineTable{};
    return result;
}
