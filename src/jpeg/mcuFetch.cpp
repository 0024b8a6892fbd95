// MCU fetch and colour conversion (yccWeights.h) for 4-byte RGB sources without subsampling.
#include "jpeg/mcuFetch.h"

#include "jpeg/jpegCodes.h"
#include "jpeg/jpegEncoderState.h"
#include "jpeg/jpegStatus.h"
#include "jpeg/yccWeights.h"

#include <cstring>

#if defined(__SSE2__)
#include "jpeg/rgbxConvertAvx2.h"
#include "jpeg/rgbxConvertSse2.h"
#endif

namespace {

constexpr int kMcuSize = 8;

struct McuExtent {
    const std::uint8_t* first; // first source byte of the MCU
    int validColumns;
    int validRows;
};

McuExtent mcuExtent(const ScanCoderState& coder, std::int32_t column, std::int32_t row) {
    McuExtent extent;
    extent.validColumns = kMcuSize;
    extent.validRows = kMcuSize;
    if (column == coder.config->mcusPerRow - 1 && coder.config->fields.inputWidth % kMcuSize != 0) {
        extent.validColumns = coder.config->fields.inputWidth % kMcuSize;
    }
    const std::int32_t height = coder.config->fields.inputHeight < 0
                                    ? -coder.config->fields.inputHeight
                                    : coder.config->fields.inputHeight;
    if (row == coder.config->mcuRows - 1 && height % kMcuSize != 0) {
        extent.validRows = height % kMcuSize;
    }
    extent.first =
        coder.sourceOrigin +
        (static_cast<std::ptrdiff_t>(row) * kMcuSize - coder.sourceFirstRow) *
            coder.config->rowStride +
        static_cast<std::ptrdiff_t>(column) * kMcuSize * coder.config->fields.inputChannels;
    return extent;
}

} // namespace

void fetchMcuRgbxPlain(ScanCoderState* coder, std::int32_t column, std::int32_t row) {
    const McuExtent extent = mcuExtent(*coder, column, row);
    const int channels = coder->config->fields.inputChannels;
    std::int16_t planes[3][kMcuSize][kMcuSize];

    for (int r = 0; r < extent.validRows; ++r) {
        const std::uint8_t* source = extent.first + r * coder->config->rowStride;
        for (int c = 0; c < extent.validColumns; ++c) {
            planes[0][r][c] = source[c * channels];
            planes[1][r][c] = source[c * channels + 1];
            planes[2][r][c] = source[c * channels + 2];
        }
        for (int k = 0; k < 3; ++k) {
            for (int c = extent.validColumns; c < kMcuSize; ++c) {
                planes[k][r][c] = planes[k][r][extent.validColumns - 1];
            }
        }
    }
    for (int k = 0; k < 3; ++k) {
        for (int r = extent.validRows; r < kMcuSize; ++r) {
            std::memcpy(planes[k][r], planes[k][extent.validRows - 1], sizeof(planes[k][r]));
        }
    }

    std::int16_t* y = coder->mcuBlocks;
    std::int16_t* cb = y + 64;
    std::int16_t* cr = y + 128;
    for (int r = 0; r < kMcuSize; ++r) {
        for (int c = 0; c < kMcuSize; ++c) {
            const int red = planes[0][r][c];
            const int green = planes[1][r][c];
            const int blue = planes[2][r][c];
            const int n = r * kMcuSize + c;
            y[n] = yccComponent(kLumaWeights, red, green, blue);
            cb[n] = yccComponent(kBlueDifferenceWeights, red, green, blue);
            cr[n] = yccComponent(kRedDifferenceWeights, red, green, blue);
        }
    }
}

#if defined(__SSE2__)

namespace {

// Converts the 8 rows of an MCU (`stride` bytes apart) into its Y, Cb and Cr blocks.
using ConvertMcuFn = void (*)(const std::uint8_t* pixels, std::ptrdiff_t stride,
                              std::int16_t* blocks);

void convertMcuRgbxSse2(const std::uint8_t* pixels, std::ptrdiff_t stride, std::int16_t* blocks) {
    for (int r = 0; r < kMcuSize; ++r) {
        rgbx_sse2::convertRow(pixels + r * stride, blocks + 8 * r, blocks + 64 + 8 * r,
                              blocks + 128 + 8 * r);
    }
}

template <ConvertMcuFn convert>
void fetchMcuRgbxWith(ScanCoderState* coder, std::int32_t column, std::int32_t row) {
    const McuExtent extent = mcuExtent(*coder, column, row);
    if (extent.validColumns == kMcuSize && extent.validRows == kMcuSize &&
        coder->config->fields.inputChannels == 4) {
        convert(extent.first, coder->config->rowStride, coder->mcuBlocks);
        return;
    }
    // Edge MCU: stage the valid pixels with the last column and row repeated.
    alignas(32) std::uint8_t tile[kMcuSize][kMcuSize * 4];
    const int channels = coder->config->fields.inputChannels;
    for (int r = 0; r < extent.validRows; ++r) {
        const std::uint8_t* source = extent.first + r * coder->config->rowStride;
        for (int c = 0; c < extent.validColumns; ++c) {
            tile[r][4 * c] = source[c * channels];
            tile[r][4 * c + 1] = source[c * channels + 1];
            tile[r][4 * c + 2] = source[c * channels + 2];
            tile[r][4 * c + 3] = 0;
        }
        for (int c = extent.validColumns; c < kMcuSize; ++c) {
            std::memcpy(&tile[r][4 * c], &tile[r][4 * (extent.validColumns - 1)], 4);
        }
    }
    for (int r = extent.validRows; r < kMcuSize; ++r) {
        std::memcpy(tile[r], tile[extent.validRows - 1], sizeof(tile[r]));
    }
    convert(tile[0], sizeof(tile[0]), coder->mcuBlocks);
}

} // namespace

void fetchMcuRgbxSse2(ScanCoderState* coder, std::int32_t column, std::int32_t row) {
    fetchMcuRgbxWith<convertMcuRgbxSse2>(coder, column, row);
}

#if defined(QMJPEG_AVX2_ROUTINES)
void fetchMcuRgbxAvx2(ScanCoderState* coder, std::int32_t column, std::int32_t row) {
    fetchMcuRgbxWith<convertMcuRgbxAvx2>(coder, column, row);
}
#endif

#endif

int selectFetchRoutine(JpegEncoderState& state) {
    const int count = state.config.frameHeader.componentCount;
    if (state.config.colorConversion != 0 && state.config.subsampled != 0 &&
        (count < 1 || count > 255)) {
        return JPEG_ERR_COMPONENTS;
    }
    if (state.config.colorConversion != 0 && state.config.subsampled == 0 && count == 3 &&
        state.config.fields.inputChannels == 4 &&
        state.config.fields.inputColor == JPEG_COLOR_RGB &&
        state.config.fields.inputSampling == 0) {
        state.routines.fetchMcu = state.routines.fetchMcuRgbx;
        return JPEG_SUCCESS;
    }
    state.config.fetchLayout = describeFetchLayout(state);
    state.routines.fetchMcu = state.routines.fetchMcuLayouts;
    return JPEG_SUCCESS;
}
