// Validation of the public fields, in a fixed order: the first failed check decides.
#include "jpeg/jpegValidation.h"

#include "jpeg/jpegEncoder.h"

#include <cstdlib>

namespace {

constexpr std::int32_t kLargestDimension = 65535;

bool inRange(std::int64_t value, std::int64_t low, std::int64_t high) {
    return value >= low && value <= high;
}

bool samplingAllowed(std::int32_t sampling, std::int32_t channels) {
    switch (channels) {
    case 3:
        return sampling == JPEG_SAMPLING_NONE || sampling == JPEG_SAMPLING_H2V2 ||
               sampling == JPEG_SAMPLING_H2V1;
    case 4:
        return sampling == JPEG_SAMPLING_NONE || sampling == JPEG_SAMPLING_H2V2_ALPHA ||
               sampling == JPEG_SAMPLING_H2V1_ALPHA;
    default:
        return sampling == JPEG_SAMPLING_NONE;
    }
}

bool colourPairAccepted(const JPEG_PROPERTIES& p) {
    const auto output = [&](std::int32_t color, std::int32_t channels) {
        return p.outputColor == color && p.outputChannels == channels;
    };
    switch (p.inputColor) {
    case JPEG_COLOR_GRAY:
        return p.inputChannels == 1 && (output(JPEG_COLOR_GRAY, 1) || output(JPEG_COLOR_YCBCR, 3));
    case JPEG_COLOR_RGB:
        if (p.inputChannels == 3) {
            return output(JPEG_COLOR_GRAY, 1) || output(JPEG_COLOR_RGB, 3) ||
                   output(JPEG_COLOR_YCBCR, 3);
        }
        return p.inputChannels == 4 && output(JPEG_COLOR_YCBCR, 3);
    case JPEG_COLOR_BGR:
        return p.inputChannels == 3 && (output(JPEG_COLOR_GRAY, 1) || output(JPEG_COLOR_RGB, 3) ||
                                        output(JPEG_COLOR_YCBCR, 3));
    case JPEG_COLOR_FOUR_CHANNEL:
        return p.inputChannels == 4 &&
               (output(JPEG_COLOR_FOUR_CHANNEL, 4) || output(JPEG_COLOR_YCC_FOUR_CHANNEL, 4));
    case JPEG_COLOR_YCBCR:
        return p.inputChannels == 3 && output(JPEG_COLOR_YCBCR, 3);
    case JPEG_COLOR_OTHER:
        // One interleaved scan carries at most four components.
        return p.outputColor == JPEG_COLOR_OTHER && p.inputChannels >= p.outputChannels &&
               p.outputChannels <= kJpegMaxComponents;
    default:
        return false;
    }
}

} // namespace

int validateProperties(const JPEG_PROPERTIES& p, int request) {
    if (p.useStateAsIs != 0) {
        return JPEG_SUCCESS;
    }
    if (!inRange(request, JPEG_FIRST_REQUEST, JPEG_LAST_REQUEST)) {
        return JPEG_ERR_PROPERTIES;
    }
    const bool image = isImageRequest(request);
    if (image) {
        // A source of height 0 has no rows to read.
        if (p.inputPixels == nullptr || !inRange(p.inputWidth, 1, kLargestDimension) ||
            !inRange(p.inputHeight, -kLargestDimension, kLargestDimension) || p.inputHeight == 0 ||
            p.inputRowPadding < 0 || !inRange(p.inputChannels, 1, 255)) {
            return JPEG_ERR_PROPERTIES;
        }
        if (p.inputSampling != 0 && !(p.inputSampling == 2 && p.inputColor == JPEG_COLOR_YCBCR)) {
            return JPEG_ERR_SUBSAMPLING;
        }
        // Packed Y0 Cb Y1 Cr pairs: an odd width would end on half a pair, without its Cr.
        if (p.inputSampling == 2 && p.inputWidth % 2 != 0) {
            return JPEG_ERR_SUBSAMPLING;
        }
    }
    // A file request writes into the named file, or into the sink of jpegWriteRowsInto.
    if (isFileRequest(request) && p.outputFileName == nullptr &&
        p.state.coder.stream.sink == nullptr) {
        return JPEG_ERR_PROPERTIES;
    }
    if (isBufferRequest(request) && (p.outputBuffer == nullptr || p.outputBufferSize == 0)) {
        return JPEG_ERR_PROPERTIES;
    }
    if (!inRange(p.outputChannels, 1, 256)) {
        return JPEG_ERR_PROPERTIES;
    }
    if (image) {
        if (!inRange(p.outputWidth, 1, kLargestDimension) ||
            !inRange(p.outputHeight, 1, kLargestDimension)) {
            return JPEG_ERR_PROPERTIES;
        }
        if (p.inputColor != JPEG_COLOR_GRAY && p.outputColor != JPEG_COLOR_YCBCR &&
            p.outputChannels > p.inputChannels) {
            return JPEG_ERR_PROPERTIES;
        }
        // The scan reads the source over the whole output size.
        if (p.inputWidth < p.outputWidth || std::abs(p.inputHeight) < p.outputHeight) {
            return JPEG_ERR_PROPERTIES;
        }
    }
    if (!samplingAllowed(p.outputSampling, p.outputChannels)) {
        return JPEG_ERR_SUBSAMPLING;
    }
    if (!colourPairAccepted(p)) {
        return JPEG_ERR_PROPERTIES;
    }
    if (p.state.dctMethod != 0 && p.state.dctMethod != 1) {
        return JPEG_ERR_PROPERTIES;
    }
    return JPEG_SUCCESS;
}
