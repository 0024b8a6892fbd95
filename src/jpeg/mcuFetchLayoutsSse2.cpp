// SSE2 fetch for the layouts converted to YCbCr (RGB, BGR and four-component sources): the
// MCU's pixels are gathered into a tile of 4-byte pixels and converted with the SSE2 RGB
// conversion; subsampled components take their means 8 samples a step. The other layouts go
// to the plain routine.
#include "jpeg/mcuFetch.h"

#if defined(__SSE2__)

#include "jpeg/jpegEncoderState.h"
#include "jpeg/mcuFetchLayoutsShared.h"
#include "jpeg/rgbxConvertSse2.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

namespace {

using namespace mcu_layouts;

using RgbxTile = std::uint8_t[kLargestMcu][4 * kLargestMcu];

// The MCU's valid pixels as 4-byte pixels (planes 0 to 2, then plane 3 or any byte), the last
// valid column and row repeated; for YccFromInverse every byte as 255 - x.
void gatherTile(const FetchLayout& layout, const McuArea& area, std::ptrdiff_t stride,
                RgbxTile& tile) {
    const int pixelBytes = layout.pixelBytes;
    const int o0 = layout.byteOffset[0];
    const int o1 = layout.byteOffset[1];
    const int o2 = layout.byteOffset[2];
    const int o3 = layout.planeCount > 3 ? layout.byteOffset[3] : o0;
    const bool asStored = pixelBytes == 4 && o0 == 0 && o1 == 1 && o2 == 2 && o3 == 3;
    const int last = area.validColumns - 1;
    for (int r = 0; r < area.validRows; ++r) {
        const std::uint8_t* source = area.first + r * stride;
        std::uint8_t* out = tile[r];
        int c = 0;
        if (asStored) {
            std::memcpy(out, source, 4 * static_cast<std::size_t>(area.validColumns));
            c = last + 1;
        } else if (pixelBytes == 3 && o1 == 1 && o2 == 2 - o0 && o3 == o0 && (o0 == 0 || o0 == 2)) {
            // RGB or BGR: four bytes at a time (the fourth is the next pixel's first one,
            // weighted 0), all but the last pixel, whose next byte may lie outside the source.
            for (; c < last; ++c) {
                std::uint32_t pixel;
                std::memcpy(&pixel, source + 3 * c, 4);
                if (o0 == 2) {
                    pixel =
                        (pixel & 0xFF00FF00u) | ((pixel >> 16) & 0xFFu) | ((pixel & 0xFFu) << 16);
                }
                std::memcpy(out + 4 * c, &pixel, 4);
            }
        }
        for (; c <= last; ++c) {
            const std::uint8_t* pixel = source + c * pixelBytes;
            out[4 * c] = pixel[o0];
            out[4 * c + 1] = pixel[o1];
            out[4 * c + 2] = pixel[o2];
            out[4 * c + 3] = pixel[o3];
        }
        for (; c < area.width; ++c) {
            std::memcpy(out + 4 * c, out + 4 * last, 4);
        }
    }
    for (int r = area.validRows; r < area.height; ++r) {
        std::memcpy(tile[r], tile[area.validRows - 1], 4 * static_cast<std::size_t>(area.width));
    }
    if (layout.conversion == FetchConversion::YccFromInverse) {
        const __m128i ones = _mm_set1_epi8(-1);
        for (int r = 0; r < area.height; ++r) {
            for (int i = 0; i < 4 * area.width; i += 16) {
                __m128i* bytes = reinterpret_cast<__m128i*>(tile[r] + i);
                _mm_store_si128(bytes, _mm_xor_si128(_mm_load_si128(bytes), ones));
            }
        }
    }
}

// The rounded means of blockFromCells, a row of 8 samples at a time. Sums of two samples stay
// within 16 bits (samples lie in -128..128); pairs are added into 32 bits.
struct Sse2Cells {
    template <int kCellWidth, int kCellHeight>
    static void block(const Plane& plane, int top, int left, std::int16_t* out) {
        static_assert(kCellWidth == 2 || kCellHeight == 1, "no 1 x 2 cells");
        constexpr int kShift = (kCellWidth == 2 ? 1 : 0) + (kCellHeight == 2 ? 1 : 0);
        const __m128i ones = _mm_set1_epi16(1);
        const __m128i half = _mm_set1_epi32((1 << kShift) >> 1);
        for (int r = 0; r < 8; ++r) {
            const auto* row = reinterpret_cast<const __m128i*>(&plane[top + r * kCellHeight][left]);
            __m128i result = _mm_load_si128(row);
            if constexpr (kCellWidth == 2) {
                __m128i low = result;
                __m128i high = _mm_load_si128(row + 1);
                if constexpr (kCellHeight == 2) {
                    low = _mm_add_epi16(low, _mm_load_si128(row + 2));
                    high = _mm_add_epi16(high, _mm_load_si128(row + 3));
                }
                low = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(low, ones), half), kShift);
                high = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(high, ones), half), kShift);
                result = _mm_packs_epi32(low, high);
            }
            _mm_store_si128(reinterpret_cast<__m128i*>(out + 8 * r), result);
        }
    }
};

} // namespace

void fetchMcuLayoutsSse2(ScanCoderState* coder, std::int32_t column, std::int32_t row) {
    const FetchLayout& layout = coder->config->fetchLayout;
    if (layout.conversion != FetchConversion::YccFromRgb &&
        layout.conversion != FetchConversion::YccFromInverse) {
        fetchMcuLayoutsPlain(coder, column, row);
        return;
    }
    const McuArea area = mcuArea(*coder, column, row);
    const int count = std::min(coder->config->frameHeader.componentCount, kJpegMaxComponents);
    alignas(16) RgbxTile tile;
    gatherTile(layout, area, coder->config->rowStride, tile);
    std::int16_t* out = coder->mcuBlocks;
    if (coder->config->subsampled == 0 && count <= 3) {
        // 8x8 MCU of one block per component: converted straight into the blocks.
        for (int r = 0; r < 8; ++r) {
            rgbx_sse2::convertRow(tile[r], out + 8 * r, out + 64 + 8 * r, out + 128 + 8 * r);
        }
        return;
    }
    alignas(32) Plane planes[kJpegMaxComponents];
    for (int r = 0; r < area.height; ++r) {
        for (int x = 0; x < area.width; x += 8) {
            rgbx_sse2::convertRow(tile[r] + 4 * x, &planes[0][r][x], &planes[1][r][x],
                                  &planes[2][r][x]);
        }
    }
    for (int k = 3; k < count; ++k) {
        const int keep = k < layout.planeCount ? 1 : 0;
        for (int r = 0; r < area.height; ++r) {
            for (int c = 0; c < area.width; ++c) {
                planes[k][r][c] = static_cast<std::int16_t>((tile[r][4 * c + 3] - 128) * keep);
            }
        }
    }
    for (int k = 0; k < count; ++k) {
        out = layOutBlocks<Sse2Cells>(planes[k], coder->config->components[k],
                                      coder->config->frameHeader, out);
    }
}

#endif
