// jpegInitialize, jpegWrite and jpegRelease: the record's life cycle, the copying of the public
// fields into the working state and the component and MCU layout of a write.
#include "jpeg/jpegEncoder.h"

#include "jpeg/defaultTables.h"
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

struct SamplingFactors {
    std::int32_t h;
    std::int32_t v;
};

// Factors of components 0 to 3 for each sampling code.
constexpr SamplingFactors kSamplingFactors[5][kJpegMaxComponents] = {
    {{1, 1}, {1, 1}, {1, 1}, {1, 1}}, {{2, 2}, {1, 1}, {1, 1}, {1, 1}},
    {{2, 1}, {1, 1}, {1, 1}, {1, 1}}, {{2, 2}, {1, 1}, {1, 1}, {2, 2}},
    {{2, 1}, {1, 1}, {1, 1}, {2, 1}},
};

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

// The copy of the public fields and what follows from them.
void copyPublicFields(const JpegPublicFields& p, JpegEncoderState& s) {
    s.config.fields = p;
    const std::int64_t pixelBytes = p.inputSampling == 2
                                        ? 2 * static_cast<std::int64_t>(p.inputWidth)
                                        : static_cast<std::int64_t>(p.inputWidth) * p.inputChannels;
    const std::int64_t stride = p.inputRowPadding + pixelBytes;
    s.config.rowStride = static_cast<std::ptrdiff_t>(p.inputHeight < 0 ? -stride : stride);
    if (p.inputSampling == 2 && p.inputColor == JPEG_COLOR_YCBCR &&
        p.outputColor == JPEG_COLOR_YCBCR) {
        s.config.fields.outputSampling = JPEG_SAMPLING_H2V1;
    }
}

// The state starts with copies of the public defaults.
void setStateDefaults(JpegEncoderState& s, int processorClass) {
    s = JpegEncoderState{};
    copyPublicFields(kPublicDefaults, s);
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

// The default tables: luminance for component 0, chrominance for the colour components.
void assignDefaultQuantTables(EncoderConfig& config, int count, int sampling) {
    if (sampling == JPEG_SAMPLING_NONE) {
        for (int i = 0; i < count; ++i) {
            if (i == 0 || config.colorConversion != 0) {
                config.components[i].quantTable = defaultTableNumber(i);
            }
        }
        return;
    }
    // Subsampled: a fourth component is sampled as luminance is and takes its table.
    const bool chroma = config.fields.convertColor != 0;
    for (int i = 0; i < count; ++i) {
        config.components[i].quantTable =
            chroma && (i == 1 || i == 2) ? kChrominanceTableNumber : kLuminanceTableNumber;
    }
}

// Components, sampling factors, quantisation table numbers, frame header and MCU geometry.
int layOutComponents(JpegEncoderState& s) {
    s.config.colorConversion = 1;
    if (s.config.fields.outputColor == JPEG_COLOR_RGB ||
        s.config.fields.outputColor == JPEG_COLOR_FOUR_CHANNEL ||
        s.config.fields.inputColor == JPEG_COLOR_YCBCR ||
        s.config.fields.inputColor == JPEG_COLOR_GRAY ||
        s.config.fields.inputColor == JPEG_COLOR_OTHER) {
        s.config.colorConversion = 0;
    }
    const int count = s.config.fields.outputChannels;
    // A baseline scan carries at most four components, and the component array has four.
    if (count < 1 || count > kJpegMaxComponents) {
        return JPEG_ERR_NOT_SUPPORTED;
    }
    const int sampling = s.config.fields.outputSampling;
    if (sampling < 0 || sampling > 4) {
        return JPEG_ERR_SUBSAMPLING;
    }
    for (int i = 0; i < count; ++i) {
        s.config.components[i].index = i;
        s.config.components[i].h = kSamplingFactors[sampling][i].h;
        s.config.components[i].v = kSamplingFactors[sampling][i].v;
    }
    if (!callerSuppliedQuantTables(s)) {
        assignDefaultQuantTables(s.config, count, sampling);
    }

    JpegFrameHeader& frame = s.config.frameHeader;
    frame.width = s.config.fields.outputWidth;
    frame.height = s.config.fields.outputHeight;
    frame.componentCount = count;
    frame.hMax = 1;
    frame.vMax = 1;
    s.config.subsampled = 0;
    for (int i = 0; i < count; ++i) {
        frame.hMax = std::max(frame.hMax, s.config.components[i].h);
        frame.vMax = std::max(frame.vMax, s.config.components[i].v);
        if (s.config.components[i].h != 1 || s.config.components[i].v != 1) {
            s.config.subsampled = 1;
        }
    }
    s.config.fields.upsample = s.config.subsampled;
    frame.mcuWidth = 8 * frame.hMax;
    frame.mcuHeight = 8 * frame.vMax;
    // Sizes are only checked for image requests; a table request may carry any values.
    const auto units = [](std::int64_t size, std::int64_t unit) {
        return size > 0 ? static_cast<std::int32_t>((size + unit - 1) / unit) : 0;
    };
    s.config.mcusPerRow = units(frame.width, frame.mcuWidth);
    s.config.mcuRows = units(frame.height, frame.mcuHeight);
    return JPEG_SUCCESS;
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
        copyPublicFields(p, s);
    }
    installDefaultTables(s);
    if (const int result = layOutComponents(s); result != 0) {
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
        s.coder.stream.sink = nullptr; // the sink lives for this call; the file stays open
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
