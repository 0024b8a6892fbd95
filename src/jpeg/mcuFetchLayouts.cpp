// MCU fetch for every source and component layout other than 4-byte RGB to YCbCr 4:4:4.
//
// An MCU goes through three steps: the source bytes of each plane are gathered into 16-bit
// planes of the MCU's size, with the last valid column and row repeated; the planes become the
// components' samples at full resolution (level-shifted, or converted with the same equations
// as the RGB routine); each component's blocks are then laid out, a subsampled component's
// samples being the rounded means of their cells.
#include "jpeg/mcuFetch.h"

#include "jpeg/jpegCodes.h"
#include "jpeg/jpegEncoderState.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include "jpeg/rgbxConvertSse2.h"
#endif

namespace {

constexpr int kLargestMcu = 16;

using Plane = std::int16_t[kLargestMcu][kLargestMcu];

struct McuArea {
    const std::uint8_t* first; // first source byte of the MCU
    int width;                 // MCU size in pixels
    int height;
    int validColumns; // columns and rows that lie in the source
    int validRows;
};

McuArea mcuArea(const ScanCoderState& coder, std::int32_t column, std::int32_t row) {
    McuArea area;
    area.width = coder.config->frameHeader.mcuWidth;
    area.height = coder.config->frameHeader.mcuHeight;
    area.validColumns = area.width;
    area.validRows = area.height;
    if (column == coder.config->mcusPerRow - 1 &&
        coder.config->fields.inputWidth % area.width != 0) {
        area.validColumns = coder.config->fields.inputWidth % area.width;
    }
    const std::int32_t height = std::abs(coder.config->fields.inputHeight);
    if (row == coder.config->mcuRows - 1 && height % area.height != 0) {
        area.validRows = height % area.height;
    }
    area.first =
        coder.sourceOrigin +
        (static_cast<std::ptrdiff_t>(row) * area.height - coder.sourceFirstRow) *
            coder.config->rowStride +
        static_cast<std::ptrdiff_t>(column) * area.width * coder.config->fetchLayout.pixelBytes;
    return area;
}

// One row of kPlanes planes from pixels of `pixelBytes` bytes.
template <int kPlanes>
void gatherRow(const std::uint8_t* source, int pixelBytes, const std::int32_t* byteOffset,
               int columns, Plane* planes, int r) {
    int offset[kPlanes];
    for (int k = 0; k < kPlanes; ++k) {
        offset[k] = byteOffset[k];
    }
    for (int c = 0; c < columns; ++c) {
        const std::uint8_t* pixel = source + c * pixelBytes;
        for (int k = 0; k < kPlanes; ++k) {
            planes[k][r][c] = pixel[offset[k]];
        }
    }
}

// The source bytes of the MCU's valid pixels, then the repeated edges.
void gather(const FetchLayout& layout, const McuArea& area, std::ptrdiff_t stride, Plane* planes) {
    const int planeCount = layout.planeCount;
    for (int r = 0; r < area.validRows; ++r) {
        const std::uint8_t* source = area.first + r * stride;
        const int columns = area.validColumns;
        if (layout.packed != 0) {
            // Two pixels share the Cb and the Cr of their pair: Y0 Cb Y1 Cr.
            for (int c = 0; c < columns; ++c) {
                const std::uint8_t* pair = source + 4 * (c / 2);
                planes[0][r][c] = source[2 * c];
                planes[1][r][c] = pair[1];
                planes[2][r][c] = pair[3];
            }
        } else if (planeCount == 1) {
            gatherRow<1>(source, layout.pixelBytes, layout.byteOffset, columns, planes, r);
        } else if (planeCount == 2) {
            gatherRow<2>(source, layout.pixelBytes, layout.byteOffset, columns, planes, r);
        } else if (planeCount == 3) {
            gatherRow<3>(source, layout.pixelBytes, layout.byteOffset, columns, planes, r);
        } else {
            gatherRow<4>(source, layout.pixelBytes, layout.byteOffset, columns, planes, r);
        }
        for (int k = 0; k < planeCount; ++k) {
            std::fill(&planes[k][r][area.validColumns], &planes[k][r][area.width],
                      planes[k][r][area.validColumns - 1]);
        }
    }
    for (int k = 0; k < planeCount; ++k) {
        for (int r = area.validRows; r < area.height; ++r) {
            std::memcpy(planes[k][r], planes[k][area.validRows - 1],
                        sizeof(std::int16_t) * static_cast<std::size_t>(area.width));
        }
    }
}

// Planes first .. count - 1 level-shifted in place; those from planeCount on become 0.
void levelShift(Plane* planes, int first, int count, int planeCount, const McuArea& area) {
    for (int k = first; k < count; ++k) {
        const int keep = k < planeCount ? 1 : 0;
        const int shift = 128 * keep;
        for (int r = 0; r < area.height; ++r) {
            for (int c = 0; c < area.width; ++c) {
                planes[k][r][c] = static_cast<std::int16_t>(planes[k][r][c] * keep - shift);
            }
        }
    }
}

// The planes become the components' level-shifted samples, in place.
void convert(const FetchLayout& layout, int componentCount, const McuArea& area, Plane* planes) {
    const int width = area.width;
    const int height = area.height;
    switch (layout.conversion) {
    case FetchConversion::Direct:
        levelShift(planes, 0, componentCount, layout.planeCount, area);
        return;
    case FetchConversion::Luminance:
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c) {
                planes[0][r][c] = static_cast<std::int16_t>(
                    (77 * planes[0][r][c] + 150 * planes[1][r][c] + 29 * planes[2][r][c] - 32640) >>
                    8);
            }
        }
        return;
    case FetchConversion::YccFromInverse:
        for (int k = 0; k < layout.planeCount; ++k) {
            for (int r = 0; r < height; ++r) {
                for (int c = 0; c < width; ++c) {
                    planes[k][r][c] = static_cast<std::int16_t>(255 - planes[k][r][c]);
                }
            }
        }
        [[fallthrough]];
    case FetchConversion::YccFromRgb:
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c) {
                const int red = planes[0][r][c];
                const int green = planes[1][r][c];
                const int blue = planes[2][r][c];
                planes[0][r][c] =
                    static_cast<std::int16_t>((77 * red + 150 * green + 29 * blue - 32640) >> 8);
                planes[1][r][c] =
                    static_cast<std::int16_t>((128 * blue - 43 * red - 85 * green + 128) >> 8);
                planes[2][r][c] =
                    static_cast<std::int16_t>((128 * red - 107 * green - 21 * blue + 128) >> 8);
            }
        }
        levelShift(planes, 3, componentCount, layout.planeCount, area);
        return;
    }
}

// One 8x8 block from a full-resolution plane: each sample is the rounded mean of its cell of
// kCellWidth x kCellHeight samples, floor((sum + n / 2) / n) (halves round up).
template <int kCellWidth, int kCellHeight>
void blockFromCells(const Plane& plane, int top, int left, std::int16_t* out) {
    constexpr int kShift = (kCellWidth == 2 ? 1 : 0) + (kCellHeight == 2 ? 1 : 0);
    constexpr int kHalf = (1 << kShift) >> 1;
    for (int r = 0; r < 8; ++r) {
        const std::int16_t* row = &plane[top + r * kCellHeight][left];
        for (int c = 0; c < 8; ++c) {
            int sum = 0;
            for (int dy = 0; dy < kCellHeight; ++dy) {
                for (int dx = 0; dx < kCellWidth; ++dx) {
                    sum += row[dy * kLargestMcu + c * kCellWidth + dx];
                }
            }
            out[8 * r + c] = static_cast<std::int16_t>((sum + kHalf) >> kShift);
        }
    }
}

struct PlainCells {
    template <int kCellWidth, int kCellHeight>
    static void block(const Plane& plane, int top, int left, std::int16_t* out) {
        blockFromCells<kCellWidth, kCellHeight>(plane, top, left, out);
    }
};

// The H x V blocks of a component, in raster order, from its full-resolution plane. Its cells
// are 1 x 1 (factors equal to the largest ones), 2 x 1 or 2 x 2.
template <class Cells>
std::int16_t* layOutBlocks(const Plane& plane, const JpegComponent& component,
                           const JpegFrameHeader& frame, std::int16_t* out) {
    const int h = std::max(1, component.h);
    const int v = std::max(1, component.v);
    const int cellWidth = frame.hMax / h;
    const int cellHeight = frame.vMax / v;
    for (int by = 0; by < v; ++by) {
        for (int bx = 0; bx < h; ++bx) {
            const int top = 8 * by * cellHeight;
            const int left = 8 * bx * cellWidth;
            if (cellWidth == 2 && cellHeight == 2) {
                Cells::template block<2, 2>(plane, top, left, out);
            } else if (cellWidth == 2) {
                Cells::template block<2, 1>(plane, top, left, out);
            } else {
                Cells::template block<1, 1>(plane, top, left, out);
            }
            out += 64;
        }
    }
    return out;
}

} // namespace

void fetchMcuLayoutsPlain(ScanCoderState* coder, std::int32_t column, std::int32_t row) {
    const FetchLayout& layout = coder->config->fetchLayout;
    const McuArea area = mcuArea(*coder, column, row);
    const int count = std::min(coder->config->frameHeader.componentCount, kJpegMaxComponents);
    alignas(32) Plane planes[kJpegMaxComponents];
    gather(layout, area, coder->config->rowStride, planes);
    convert(layout, count, area, planes);
    std::int16_t* out = coder->mcuBlocks;
    for (int k = 0; k < count; ++k) {
        out = layOutBlocks<PlainCells>(planes[k], coder->config->components[k],
                                       coder->config->frameHeader, out);
    }
}

#if defined(__SSE2__)

namespace {

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

FetchLayout describeFetchLayout(const JpegEncoderState& state) {
    const JpegPublicFields& f = state.config.fields;
    const int count = state.config.frameHeader.componentCount;
    FetchLayout layout{FetchConversion::Direct, 1, {0, 1, 2, 3}, f.inputChannels, 0};
    if (f.inputSampling == 2) {
        layout.packed = 1;
        layout.pixelBytes = 2;
        layout.planeCount = 3;
        return layout;
    }
    if (state.config.colorConversion != 0 && f.inputChannels >= 3) {
        if (count == 1) {
            layout.conversion = FetchConversion::Luminance;
        } else if (f.inputColor == JPEG_COLOR_FOUR_CHANNEL) {
            layout.conversion = FetchConversion::YccFromInverse;
        } else {
            layout.conversion = FetchConversion::YccFromRgb;
        }
        layout.planeCount = count == 4 && f.inputChannels >= 4 ? 4 : 3;
    } else {
        layout.planeCount = std::clamp(std::min(f.inputChannels, count), 1, kJpegMaxComponents);
    }
    if (f.inputColor == JPEG_COLOR_BGR) {
        layout.byteOffset[0] = 2;
        layout.byteOffset[2] = 0;
    }
    return layout;
}
