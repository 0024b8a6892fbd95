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
#include <emmintrin.h>
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

namespace {

// 16-bit lanes a, b, a, b, ... for _mm_madd_epi16.
inline __m128i weightPair(short a, short b) {
    return _mm_setr_epi16(a, b, a, b, a, b, a, b);
}

// Converts 8 pixels of 4 bytes each into one row of the Y, Cb and Cr blocks. The fourth byte
// of each pixel gets the weight 0.
inline void convertRow(const std::uint8_t* pixels, std::int16_t* y, std::int16_t* cb,
                       std::int16_t* cr) {
    const __m128i evenMask = _mm_set1_epi32(0x00FF00FF);
    const __m128i yRedBlue = weightPair(77, 29);
    const __m128i yGreen = weightPair(150, 0);
    const __m128i cbRedBlue = weightPair(-43, 128);
    const __m128i cbGreen = weightPair(-85, 0);
    const __m128i crRedBlue = weightPair(128, -21);
    const __m128i crGreen = weightPair(-107, 0);
    const __m128i yBias = _mm_set1_epi32(-32640);
    const __m128i chromaBias = _mm_set1_epi32(128);

    __m128i yHalf[2];
    __m128i cbHalf[2];
    __m128i crHalf[2];
    for (int half = 0; half < 2; ++half) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 16 * half));
        const __m128i redBlue = _mm_and_si128(p, evenMask); // 16-bit lanes R, B
        const __m128i greenX = _mm_srli_epi16(p, 8);        // 16-bit lanes G, fourth byte
        yHalf[half] = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(redBlue, yRedBlue),
                                                                 _mm_madd_epi16(greenX, yGreen)),
                                                   yBias),
                                     8);
        cbHalf[half] =
            _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(redBlue, cbRedBlue),
                                                       _mm_madd_epi16(greenX, cbGreen)),
                                         chromaBias),
                           8);
        crHalf[half] =
            _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(redBlue, crRedBlue),
                                                       _mm_madd_epi16(greenX, crGreen)),
                                         chromaBias),
                           8);
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(y), _mm_packs_epi32(yHalf[0], yHalf[1]));
    _mm_store_si128(reinterpret_cast<__m128i*>(cb), _mm_packs_epi32(cbHalf[0], cbHalf[1]));
    _mm_store_si128(reinterpret_cast<__m128i*>(cr), _mm_packs_epi32(crHalf[0], crHalf[1]));
}

} // namespace

void fetchMcuRgbxSse2(JpegEncoderState* state, std::int32_t column, std::int32_t row) {
    const McuExtent extent = mcuExtent(*state, column, row);
    std::int16_t* y = state->mcuBlocks;
    if (extent.validColumns == kMcuSize && extent.validRows == kMcuSize &&
        state->fields.inputChannels == 4) {
        for (int r = 0; r < kMcuSize; ++r) {
            convertRow(extent.first + r * state->rowStride, y + 8 * r, y + 64 + 8 * r,
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
        convertRow(tile[r], y + 8 * r, y + 64 + 8 * r, y + 128 + 8 * r);
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
