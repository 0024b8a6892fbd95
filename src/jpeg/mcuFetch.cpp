// MCU fetch and colour conversion for 4-byte RGB sources without subsampling.
//
//   Y  = (77 R + 150 G + 29 B - 32640) >> 8   (level shift and rounding folded in)
//   Cb = (128 B - 43 R - 85 G + 128) >> 8
//   Cr = (128 R - 107 G - 21 B + 128) >> 8
#include "jpeg/mcuFetch.h"

#include "jpeg/jpegCodes.h"
#include "jpeg/jpegEncoderState.h"
#include "jpeg/jpegStatus.h"

#include <cstring>

#if defined(__SSE2__)
#include "jpeg/rgbxConvertSse2.h"
#endif

namespace {

constexpr int kMcuSize = 8;

struct McuExtent {
    const std::uint8_t* first; // first source byte of the MCU
    int validColumns;
    int validRows;
};

McuExtent mcuExtent(const JpegEncoderState& state, std::int32_t column, std::int32_t row) {
    McuExtent extent;
    extent.validColumns = kMcuSize;
    extent.validRows = kMcuSize;
    if (column == state.mcusPerRow - 1 && state.fields.inputWidth % kMcuSize != 0) {
        extent.validColumns = state.fields.inputWidth % kMcuSize;
    }
    const std::int32_t height =
        state.fields.inputHeight < 0 ? -state.fields.inputHeight : state.fields.inputHeight;
    if (row == state.mcuRows - 1 && height % kMcuSize != 0) {
        extent.validRows = height % kMcuSize;
    }
    extent.first =
        state.sourceOrigin +
        (static_cast<std::ptrdiff_t>(row) * kMcuSize - state.sourceFirstRow) * state.rowStride +
        static_cast<std::ptrdiff_t>(column) * kMcuSize * state.fields.inputChannels;
    return extent;
}

} // namespace

void fetchMcuRgbxPlain(JpegEncoderState* state, std::int32_t column, std::int32_t row) {
    const McuExtent extent = mcuExtent(*state, column, row);
    const int channels = state->fields.inputChannels;
    std::int16_t planes[3][kMcuSize][kMcuSize];

    for (int r = 0; r < extent.validRows; ++r) {
        const std::uint8_t* source = extent.first + r * state->rowStride;
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

    std::int16_t* y = state->mcuBlocks;
    std::int16_t* cb = y + 64;
    std::int16_t* cr = y + 128;
    for (int r = 0; r < kMcuSize; ++r) {
        for (int c = 0; c < kMcuSize; ++c) {
            const int red = planes[0][r][c];
            const int green = planes[1][r][c];
            const int blue = planes[2][r][c];
            const int n = r * kMcuSize + c;
            y[n] = static_cast<std::int16_t>((77 * red + 150 * green + 29 * blue - 32640) >> 8);
            cb[n] = static_cast<std::int16_t>((128 * blue - 43 * red - 85 * green + 128) >> 8);
            cr[n] = static_cast<std::int16_t>((128 * red - 107 * green - 21 * blue + 128) >> 8);
        }
    }
}

#if defined(__SSE2__)

void fetchMcuRgbxSse2(JpegEncoderState* state, std::int32_t column, std::int32_t row) {
    const McuExtent extent = mcuExtent(*state, column, row);
    std::int16_t* y = state->mcuBlocks;
    if (extent.validColumns == kMcuSize && extent.validRows == kMcuSize &&
        state->fields.inputChannels == 4) {
        for (int r = 0; r < kMcuSize; ++r) {
            rgbx_sse2::convertRow(extent.first + r * state->rowStride, y + 8 * r, y + 64 + 8 * r,
                                  y + 128 + 8 * r);
        }
        return;
    }
    // Edge MCU: stage the valid pixels with the last column and row repeated.
    alignas(16) std::uint8_t tile[kMcuSize][kMcuSize * 4];
    const int channels = state->fields.inputChannels;
    for (int r = 0; r < extent.validRows; ++r) {
        const std::uint8_t* source = extent.first + r * state->rowStride;
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
    for (int r = 0; r < kMcuSize; ++r) {
        rgbx_sse2::convertRow(tile[r], y + 8 * r, y + 64 + 8 * r, y + 128 + 8 * r);
    }
}

#endif

int selectFetchRoutine(JpegEncoderState& state) {
    const int count = state.frameHeader.componentCount;
    if (state.colorConversion != 0 && state.subsampled != 0 && (count < 1 || count > 255)) {
        return JPEG_ERR_COMPONENTS;
    }
    if (state.colorConversion != 0 && state.subsampled == 0 && count == 3 &&
        state.fields.inputChannels == 4 && state.fields.inputColor == JPEG_COLOR_RGB &&
        state.fields.inputSampling == 0) {
        state.routines.fetchMcu = state.routines.fetchMcuRgbx;
        return JPEG_SUCCESS;
    }
    state.fetchLayout = describeFetchLayout(state);
    state.routines.fetchMcu = state.routines.fetchMcuLayouts;
    return JPEG_SUCCESS;
}
