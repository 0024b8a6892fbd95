// jpegInitialize, jpegWrite and jpegRelease: the record's life cycle, the copying of the public
// fields into the working state and the component and MCU layout of a write.
#include "jpeg/jpegEncoder.h"

#include "jpeg/defaultTables.h"
#include "jpeg/jpegFile.h"
#include "jpeg/jpegValidation.h"
#include "jpeg/processorInfo.h"
#include "jpeg/routineTable.h"
#include "jpeg/scanEncoder.h"
#include "jpeg/streamWriter.h"

#include <algorithm>
#include <limits>
#include <new>

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

void setPublicDefaults(JPEG_PROPERTIES& p) {
    p.useStateAsIs = 0;
    p.inputPixels = nullptr;
    p.inputWidth = 0;
    p.inputHeight = 0;
    p.inputRowPadding = 0;
    p.inputChannels = 3;
    p.inputColor = JPEG_COLOR_BGR;
    p.inputSampling = 0;
    p.outputFileName = nullptr;
    p.outputBuffer = nullptr;
    p.outputBufferSize = 0;
    p.outputWidth = 0;
    p.outputHeight = 0;
    p.outputChannels = 3;
    p.outputColor = JPEG_COLOR_YCBCR;
    p.outputSampling = JPEG_SAMPLING_H2V2;
    p.thumbnailWidth = 0;
    p.thumbnailHeight = 0;
    p.convertColor = 1;
    p.upsample = 1;
    p.quality = 75;
}

void copyPublicFields(const JPEG_PROPERTIES& p, JpegEncoderState& s);

// The state starts with copies of the public defaults (`p` already holds them).
void setStateDefaults(const JPEG_PROPERTIES& p, JpegEncoderState& s, RoutineTable* routines,
                      JpegComponent* components, int processorClass) {
    s = JpegEncoderState{};
    copyPublicFields(p, s);
    s.requestCode = JPEG_NO_REQUEST;
    s.dctMethod = 1;
    for (int i = 0; i < 4; ++i) {
        s.dcTableNumbers[i] = i == 0 ? 0 : 1;
        s.acTableNumbers[i] = i == 0 ? 0 : 1;
    }
    for (int i = 0; i < kJpegMaxComponents; ++i) {
        components[i] = {0, 0, 0, i == 0 ? 0 : 1};
    }
    s.components = components;
    s.frameHeader.precision = 8;
    s.frameHeader.components = components;
    s.stream.file = kNoJpegFile;
    s.processorClass = processorClass;
    s.jfifVersion = 0x0101;
    s.densityUnits = 0;
    s.xDensity = 1;
    s.yDensity = 1;
    s.app14Version = 100;
    s.routines = routines;
}

void copyPublicFields(const JPEG_PROPERTIES& p, JpegEncoderState& s) {
    s.inputPixels = p.inputPixels;
    s.inputWidth = p.inputWidth;
    s.inputHeight = p.inputHeight;
    s.inputRowPadding = p.inputRowPadding;
    s.inputChannels = p.inputChannels;
    s.inputColor = p.inputColor;
    s.inputSampling = p.inputSampling;
    s.outputFileName = p.outputFileName;
    s.outputBuffer = p.outputBuffer;
    s.outputBufferSize = p.outputBufferSize;
    s.outputWidth = p.outputWidth;
    s.outputHeight = p.outputHeight;
    s.outputChannels = p.outputChannels;
    s.outputColor = p.outputColor;
    s.outputSampling = p.outputSampling;
    s.convertColor = p.convertColor;
    s.upsample = p.upsample;
    s.quality = p.quality;

    const std::int64_t pixelBytes = p.inputSampling == 2
                                        ? 2 * static_cast<std::int64_t>(p.inputWidth)
                                        : static_cast<std::int64_t>(p.inputWidth) * p.inputChannels;
    const std::int64_t stride = p.inputRowPadding + pixelBytes;
    s.rowStride = static_cast<std::ptrdiff_t>(p.inputHeight < 0 ? -stride : stride);
    if (p.inputSampling == 2 && p.inputColor == JPEG_COLOR_YCBCR &&
        p.outputColor == JPEG_COLOR_YCBCR) {
        s.outputSampling = JPEG_SAMPLING_H2V1;
    }
}

// Components, sampling factors, quantisation table numbers, frame header and MCU geometry.
int layOutComponents(JpegEncoderState& s) {
    s.colorConversion = 1;
    if (s.outputColor == JPEG_COLOR_RGB || s.outputColor == JPEG_COLOR_FOUR_CHANNEL ||
        s.inputColor == JPEG_COLOR_YCBCR || s.inputColor == JPEG_COLOR_GRAY ||
        s.inputColor == JPEG_COLOR_OTHER) {
        s.colorConversion = 0;
    }
    const int count = s.outputChannels;
    // A baseline scan carries at most four components, and the component array has four.
    if (count < 1 || count > kJpegMaxComponents) {
        return JPEG_ERR_NOT_SUPPORTED;
    }
    const int sampling = s.outputSampling;
    if (sampling < 0 || sampling > 4) {
        return JPEG_ERR_SUBSAMPLING;
    }
    for (int i = 0; i < count; ++i) {
        s.components[i].index = i;
        s.components[i].h = kSamplingFactors[sampling][i].h;
        s.components[i].v = kSamplingFactors[sampling][i].v;
    }
    if (!callerSuppliedQuantTables(s)) {
        if (sampling == JPEG_SAMPLING_NONE) {
            s.components[0].quantTable = 0;
            if (s.colorConversion != 0) {
                for (int i = 1; i < count; ++i) {
                    s.components[i].quantTable = 1;
                }
            }
        } else {
            const bool chroma = s.convertColor != 0;
            for (int i = 0; i < count; ++i) {
                s.components[i].quantTable = chroma && (i == 1 || i == 2) ? 1 : 0;
            }
        }
    }

    JpegFrameHeader& frame = s.frameHeader;
    frame.precision = 8;
    frame.width = s.outputWidth;
    frame.height = s.outputHeight;
    frame.componentCount = count;
    frame.components = s.components;
    frame.hMax = 1;
    frame.vMax = 1;
    s.subsampled = 0;
    for (int i = 0; i < count; ++i) {
        frame.hMax = std::max(frame.hMax, s.components[i].h);
        frame.vMax = std::max(frame.vMax, s.components[i].v);
        if (s.components[i].h != 1 || s.components[i].v != 1) {
            s.subsampled = 1;
        }
    }
    s.upsample = s.subsampled;
    frame.mcuWidth = s.forceMcu8x8 != 0 ? 8 : 8 * frame.hMax;
    frame.mcuHeight = s.forceMcu8x8 != 0 ? 8 : 8 * frame.vMax;
    // Sizes are only checked for image requests; a table request may carry any values.
    const auto units = [](std::int64_t size, std::int64_t unit) {
        return size > 0 ? static_cast<std::int32_t>((size + unit - 1) / unit) : 0;
    };
    s.mcusPerRow = units(frame.width, frame.mcuWidth);
    s.mcuRows = units(frame.height, frame.mcuHeight);
    frame.mcusPerRow = s.mcusPerRow;
    frame.totalMcus = static_cast<std::int32_t>(std::min<std::int64_t>(
        std::int64_t{s.mcusPerRow} * s.mcuRows, std::numeric_limits<std::int32_t>::max()));
    return JPEG_SUCCESS;
}

void closeOutputFile(JpegEncoderState& s, int& result) {
    if (s.stream.file == kNoJpegFile) {
        return;
    }
    const bool closed = jpegFileClose(s.stream.file);
    s.stream.file = kNoJpegFile;
    if (!closed) {
        result = JPEG_ERR_CLOSE_FILE;
    }
}

int writeRequest(JPEG_PROPERTIES& p, int request) {
    JpegEncoderState& s = p.state;
    s.requestCode = request;
    if (const int result = validateProperties(p, request); result != 0) {
        return result;
    }
    if (request < JPEG_WRITE_FILE_IMAGE || request > JPEG_WRITE_BUFFER_SCAN) {
        return JPEG_ERR_NOT_SUPPORTED; // decoder requests
    }
    if (isFileRequest(request) && s.stream.file == kNoJpegFile) {
        const char* name = p.useStateAsIs != 0 ? s.outputFileName : p.outputFileName;
        s.stream.file = name != nullptr ? jpegFileOpen(name) : kNoJpegFile;
        if (s.stream.file == kNoJpegFile) {
            return JPEG_ERR_FILE_NAME;
        }
    }
    const bool suspended = s.suspendedScan != nullptr;
    if (p.useStateAsIs == 0 && !suspended) {
        copyPublicFields(p, s);
    }
    if (const int result = installDefaultTables(s); result != 0) {
        return result;
    }
    if (const int result = layOutComponents(s); result != 0) {
        return result;
    }

    if (!suspended) {
        s.stream.byteCount = 0;
        s.sourceOrigin = s.inputPixels;
        s.sourceFirstRow = 0;
        // Only image requests read the source, and only their sizes have been checked.
        if (isImageRequest(request) && s.inputHeight < 0 && s.inputPixels != nullptr) {
            const std::ptrdiff_t lastRow = -static_cast<std::ptrdiff_t>(s.inputHeight) - 1;
            s.sourceOrigin = s.inputPixels + lastRow * -s.rowStride;
        }
        if (const int result = writeStreamHeader(s); result != 0) {
            return result;
        }
        if (request == JPEG_WRITE_FILE_TABLES || request == JPEG_WRITE_BUFFER_TABLES) {
            p.outputBufferSize = s.outputBufferSize = s.stream.byteCount;
        }
    }
    if (!isImageRequest(request)) {
        return JPEG_SUCCESS;
    }
    const int result = writeFrameAndScan(s);
    p.outputBufferSize = s.outputBufferSize = s.stream.byteCount;
    if ((result == JPEG_INTERRUPT_SUCCESS || result == JPEG_ROI_SUCCESS) &&
        s.suspendedScan != nullptr) {
        const JpegFrameHeader& frame = s.frameHeader;
        s.resumeX = std::min((s.suspendedScan->lastMcuColumn + 1) * frame.mcuWidth, frame.width);
        s.resumeY = std::min((s.suspendedScan->lastMcuRow + 1) * frame.mcuHeight, frame.height);
    }
    return result;
}

} // namespace

int jpegInitialize(JPEG_PROPERTIES* properties) {
    if (properties == nullptr) {
        return JPEG_ERR_PROPERTIES;
    }
    try {
        RoutineTable* routines = new (std::nothrow) RoutineTable;
        if (routines == nullptr) {
            return JPEG_ERR_MEMORY;
        }
        const int processorClass = detectProcessorClass();
        fillRoutineTable(*routines, processorClass);
        setPublicDefaults(*properties);
        JpegComponent* components = new (std::nothrow) JpegComponent[kJpegMaxComponents];
        if (components == nullptr) {
            delete routines;
            return JPEG_ERR_MEMORY;
        }
        setStateDefaults(*properties, properties->state, routines, components, processorClass);
        return JPEG_SUCCESS;
    } catch (...) {
        return JPEG_ERR_EXCEPTION;
    }
}

int jpegWrite(JPEG_PROPERTIES* properties, int requestCode) {
    if (properties == nullptr || properties->state.routines == nullptr) {
        return JPEG_ERR_INVALID_ENCODER;
    }
    JpegEncoderState& s = properties->state;
    int result = JPEG_ERR_EXCEPTION;
    try {
        result = writeRequest(*properties, requestCode);
    } catch (...) {
        result = JPEG_ERR_EXCEPTION;
    }
    const bool suspended = (result == JPEG_INTERRUPT_SUCCESS || result == JPEG_ROI_SUCCESS) &&
                           s.suspendedScan != nullptr;
    if (!suspended) {
        closeOutputFile(s, result);
    }
    s.routines->endOfOperation();
    return result;
}

int jpegRelease(JPEG_PROPERTIES* properties) {
    if (properties == nullptr) {
        return JPEG_ERR_PROPERTIES;
    }
    JpegEncoderState& s = properties->state;
    int result = JPEG_SUCCESS;
    try {
        closeOutputFile(s, result);
        for (const std::uint16_t*& table : s.quantTables) {
            table = nullptr;
        }
        if (result == JPEG_SUCCESS && s.outputChannels > 255) {
            result = JPEG_ERR_PROPERTIES;
        }
        // The working memory is freed whatever happened above.
        delete[] s.components;
        s.components = nullptr;
        s.frameHeader.components = nullptr;
        delete s.suspendedScan;
        s.suspendedScan = nullptr;
        for (JpegQuantSlot& slot : s.quantSlots) {
            slot = {nullptr, 0};
        }
        for (JpegHuffmanSlot& slot : s.huffmanSlots) {
            slot = {nullptr, nullptr, 0, 0};
        }
        s.quantTableCount = 0;
        s.dcTableCount = 0;
        s.acTableCount = 0;
        s.huffmanPairCount = 0;
        s.callerQuantTables = 0;
        s.callerHuffmanTables = 0;
        delete s.routines;
        s.routines = nullptr;
    } catch (...) {
        result = JPEG_ERR_EXCEPTION;
    }
    return result;
}
