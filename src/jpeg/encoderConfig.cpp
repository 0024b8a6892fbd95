// The layout of a write: the copy of the public fields and the components, sampling factors,
// table numbers, frame header and MCU geometry that follow from them.
#include "jpeg/encoderConfig.h"

#include "jpeg/defaultTables.h"
#include "jpeg/jpegCodes.h"
#include "jpeg/jpegStatus.h"

#include <algorithm>

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

} // namespace

void setConfigFields(EncoderConfig& config, const JpegPublicFields& p) {
    config.fields = p;
    const std::int64_t pixelBytes = p.inputSampling == 2
                                        ? 2 * static_cast<std::int64_t>(p.inputWidth)
                                        : static_cast<std::int64_t>(p.inputWidth) * p.inputChannels;
    const std::int64_t stride = p.inputRowPadding + pixelBytes;
    config.rowStride = static_cast<std::ptrdiff_t>(p.inputHeight < 0 ? -stride : stride);
    if (p.inputSampling == 2 && p.inputColor == JPEG_COLOR_YCBCR &&
        p.outputColor == JPEG_COLOR_YCBCR) {
        config.fields.outputSampling = JPEG_SAMPLING_H2V1;
    }
}

int layOutComponents(EncoderConfig& config, bool callerQuantTables) {
    config.colorConversion = 1;
    if (config.fields.outputColor == JPEG_COLOR_RGB ||
        config.fields.outputColor == JPEG_COLOR_FOUR_CHANNEL ||
        config.fields.inputColor == JPEG_COLOR_YCBCR ||
        config.fields.inputColor == JPEG_COLOR_GRAY ||
        config.fields.inputColor == JPEG_COLOR_OTHER) {
        config.colorConversion = 0;
    }
    const int count = config.fields.outputChannels;
    // A baseline scan carries at most four components, and the component array has four.
    if (count < 1 || count > kJpegMaxComponents) {
        return JPEG_ERR_NOT_SUPPORTED;
    }
    const int sampling = config.fields.outputSampling;
    if (sampling < 0 || sampling > 4) {
        return JPEG_ERR_SUBSAMPLING;
    }
    for (int i = 0; i < count; ++i) {
        config.components[i].index = i;
        config.components[i].h = kSamplingFactors[sampling][i].h;
        config.components[i].v = kSamplingFactors[sampling][i].v;
    }
    if (!callerQuantTables) {
        assignDefaultQuantTables(config, count, sampling);
    }

    JpegFrameHeader& frame = config.frameHeader;
    frame.width = config.fields.outputWidth;
    frame.height = config.fields.outputHeight;
    frame.componentCount = count;
    frame.hMax = 1;
    frame.vMax = 1;
    config.subsampled = 0;
    for (int i = 0; i < count; ++i) {
        frame.hMax = std::max(frame.hMax, config.components[i].h);
        frame.vMax = std::max(frame.vMax, config.components[i].v);
        if (config.components[i].h != 1 || config.components[i].v != 1) {
            config.subsampled = 1;
        }
    }
    config.fields.upsample = config.subsampled;
    frame.mcuWidth = 8 * frame.hMax;
    frame.mcuHeight = 8 * frame.vMax;
    // Sizes are only checked for image requests; a table request may carry any values.
    const auto units = [](std::int64_t size, std::int64_t unit) {
        return size > 0 ? static_cast<std::int32_t>((size + unit - 1) / unit) : 0;
    };
    config.mcusPerRow = units(frame.width, frame.mcuWidth);
    config.mcuRows = units(frame.height, frame.mcuHeight);
    return JPEG_SUCCESS;
}
