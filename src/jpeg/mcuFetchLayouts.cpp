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
#include "jpeg/mcuFetchLayoutsShared.h"
#include "jpeg/yccWeights.h"

#include <algorithm>
#include <cstring>

namespace {

using namespace mcu_layouts;

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
                planes[0][r][c] =
                    yccComponent(kLumaWeights, planes[0][r][c], planes[1][r][c], planes[2][r][c]);
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
                planes[0][r][c] = yccComponent(kLumaWeights, red, green, blue);
                planes[1][r][c] = yccComponent(kBlueDifferenceWeights, red, green, blue);
                planes[2][r][c] = yccComponent(kRedDifferenceWeights, red, green, blue);
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
