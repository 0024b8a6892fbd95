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

McuArea mcuArea(const JpegEncoderState& state, std::int32_t column, std::int32_t row) {
    McuArea area;
    area.width = state.frameHeader.mcuWidth;
    area.height = state.frameHeader.mcuHeight;
    area.validColumns = area.width;
    area.validRows = area.height;
    if (column == state.mcusPerRow - 1 && state.fields.inputWidth % area.width != 0) {
        area.validColumns = state.fields.inputWidth % area.width;
    }
    const std::int32_t height = std::abs(state.fields.inputHeight);
    if (row == state.mcuRows - 1 && height % area.height != 0) {
        area.validRows = height % area.height;
    }
    area.first =
        state.sourceOrigin +
        (static_cast<std::ptrdiff_t>(row) * area.height - state.sourceFirstRow) * state.rowStride +
        static_cast<std::ptrdiff_t>(column) * area.width * state.fetchLayout.pixelBytes;
    return area;
}

// The source bytes of the MCU's valid pixels, then the repeated edges.
void gather(const FetchLayout& layout, const McuArea& area, std::ptrdiff_t stride, Plane* planes) {
    const int planeCount = layout.planeCount;
    for (int r = 0; r < area.validRows; ++r) {
        const std::uint8_t* source = area.first + r * stride;
        if (layout.packed != 0) {
            // Two pixels share the Cb and the Cr of their pair: Y0 Cb Y1 Cr.
            for (int c = 0; c < area.validColumns; ++c) {
                const std::uint8_t* pair = source + 4 * (c / 2);
                planes[0][r][c] = source[2 * c];
                planes[1][r][c] = pair[1];
                planes[2][r][c] = pair[3];
            }
        } else {
            for (int k = 0; k < planeCount; ++k) {
                const std::uint8_t* bytes = source + layout.byteOffset[k];
                for (int c = 0; c < area.validColumns; ++c) {
                    planes[k][r][c] = bytes[c * layout.pixelBytes];
                }
            }
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

// The planes become the components' level-shifted samples, in place.
void convert(const FetchLayout& layout, int componentCount, const McuArea& area, Plane* planes) {
    const int width = area.width;
    const int height = area.height;
    switch (layout.conversion) {
    case FetchConversion::Direct:
        for (int k = 0; k < componentCount; ++k) {
            for (int r = 0; r < height; ++r) {
                for (int c = 0; c < width; ++c) {
                    planes[k][r][c] = static_cast<std::int16_t>(
                        k < layout.planeCount ? planes[k][r][c] - 128 : 0);
                }
            }
        }
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
        for (int k = 3; k < componentCount; ++k) {
            for (int r = 0; r < height; ++r) {
                for (int c = 0; c < width; ++c) {
                    planes[k][r][c] = static_cast<std::int16_t>(
                        k < layout.planeCount ? planes[k][r][c] - 128 : 0);
                }
            }
        }
        return;
    }
}

// floor((sum + count / 2) / count): the rounded mean, halves rounded up.
inline std::int16_t roundedMean(int sum, int count) {
    const int biased = sum + count / 2;
    const int quotient = biased / count;
    return static_cast<std::int16_t>(quotient * count > biased ? quotient - 1 : quotient);
}

// The H x V blocks of a component, in raster order, from its full-resolution plane.
std::int16_t* layOutBlocks(const Plane& plane, const JpegComponent& component,
                           const JpegFrameHeader& frame, std::int16_t* out) {
    const int h = std::max(1, component.h);
    const int v = std::max(1, component.v);
    const int cellWidth = std::max(1, frame.hMax / h);
    const int cellHeight = std::max(1, frame.vMax / v);
    const int cellSize = cellWidth * cellHeight;
    for (int by = 0; by < v; ++by) {
        for (int bx = 0; bx < h; ++bx) {
            for (int r = 0; r < 8; ++r) {
                const int top = (8 * by + r) * cellHeight;
                for (int c = 0; c < 8; ++c) {
                    const int left = (8 * bx + c) * cellWidth;
                    if (cellSize == 1) {
                        out[8 * r + c] = plane[top][left];
                        continue;
                    }
                    int sum = 0;
                    for (int dy = 0; dy < cellHeight; ++dy) {
                        for (int dx = 0; dx < cellWidth; ++dx) {
                            sum += plane[top + dy][left + dx];
                        }
                    }
                    out[8 * r + c] = roundedMean(sum, cellSize);
                }
            }
            out += 64;
        }
    }
    return out;
}

} // namespace

void fetchMcuLayoutsPlain(JpegEncoderState* state, std::int32_t column, std::int32_t row) {
    const FetchLayout& layout = state->fetchLayout;
    const McuArea area = mcuArea(*state, column, row);
    const int count = std::min(state->frameHeader.componentCount, kJpegMaxComponents);
    alignas(32) Plane planes[kJpegMaxComponents];
    gather(layout, area, state->rowStride, planes);
    convert(layout, count, area, planes);
    std::int16_t* out = state->mcuBlocks;
    for (int k = 0; k < count; ++k) {
        out = layOutBlocks(planes[k], state->components[k], state->frameHeader, out);
    }
}

FetchLayout describeFetchLayout(const JpegEncoderState& state) {
    const JpegPublicFields& f = state.fields;
    const int count = state.frameHeader.componentCount;
    FetchLayout layout{FetchConversion::Direct, 1, {0, 1, 2, 3}, f.inputChannels, 0};
    if (f.inputSampling == 2) {
        layout.packed = 1;
        layout.pixelBytes = 2;
        layout.planeCount = 3;
        return layout;
    }
    if (state.colorConversion != 0 && f.inputChannels >= 3) {
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
