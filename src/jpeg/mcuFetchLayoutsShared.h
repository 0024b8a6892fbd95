// The pieces that the fetch routines for the other layouts share: the MCU's planes, its area in
// the source, and the laying out of a component's blocks from its full-resolution plane.
#pragma once

#include "jpeg/jpegEncoderState.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace mcu_layouts {

constexpr int kLargestMcu = 16;

using Plane = std::int16_t[kLargestMcu][kLargestMcu];

struct McuArea {
    const std::uint8_t* first; // first source byte of the MCU
    int width;                 // MCU size in pixels
    int height;
    int validColumns; // columns and rows that lie in the source
    int validRows;
};

inline McuArea mcuArea(const ScanCoderState& coder, std::int32_t column, std::int32_t row) {
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

// The H x V blocks of a component, in raster order, from its full-resolution plane. Its cells
// are 1 x 1 (factors equal to the largest ones), 2 x 1 or 2 x 2; Cells::block<w, h> makes one
// 8x8 block of the rounded means of w x h cells.
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

} // namespace mcu_layouts
