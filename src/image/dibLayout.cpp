#include "image/dibLayout.h"

#include "util/byteOrder.h"

#include <cstdarg>
#include <cstdio>

namespace {

DibStatus refuse(DibFault fault, const char* format, ...) {
    DibStatus status;
    status.fault = fault;
    va_list args;
    va_start(args, format);
    std::vsnprintf(status.reason, sizeof status.reason, format, args);
    va_end(args);
    return status;
}

long long fileByte(const DibBlock& block, std::int64_t offset) {
    return static_cast<long long>(block.fileOffset + offset);
}

// The fields of the 40-byte header.
void readInfoHeader(const std::uint8_t* p, DibLayout& layout) {
    layout.infoSize = loadLe32(p);
    layout.width = loadLeI32(p + 4);
    const std::int64_t height = loadLeI32(p + 8);
    layout.bottomUp = height >= 0;
    layout.height = height < 0 ? -height : height;
    layout.planes = loadLe16(p + 12);
    layout.bitCount = loadLe16(p + 14);
    layout.compression = loadLe32(p + 16);
    layout.clrUsed = loadLe32(p + 32);
}

// Where the table, masks and rows lie, from the header fields.
void placeParts(DibLayout& layout) {
    const std::int64_t bits = layout.bitCount;
    layout.runLength = layout.compression == BI_RLE8 || layout.compression == BI_RLE4;
    layout.bitFields = layout.compression == BI_BITFIELDS && (bits == 16 || bits == 32);
    layout.tableOffset = layout.infoSize;
    std::int64_t maskWords = 0;
    if (bits == 1 || bits == 4 || bits == 8) {
        layout.tableEntries = layout.clrUsed != 0 ? layout.clrUsed : std::int64_t{1} << bits;
    } else {
        layout.tableEntries = layout.clrUsed;
    }
    if (layout.bitFields) {
        // The masks come first, the colour table after them.
        layout.maskOffset = layout.infoSize;
        maskWords = 3;
        layout.tableOffset = layout.maskOffset + 4 * maskWords;
    }
    layout.pixelOffset = layout.tableOffset + layout.entryBytes * layout.tableEntries;
    layout.rowBytes = rowStep(layout.width * bits, 4);
}

void readMasks(const std::uint8_t* data, DibLayout& layout) {
    const std::uint8_t* p = data + layout.maskOffset;
    layout.masks = {loadLe32(p), loadLe32(p + 4), loadLe32(p + 8)};
    if (layout.bitCount == 16) {
        layout.masks.red &= 0xFFFFu;
        layout.masks.green &= 0xFFFFu;
        layout.masks.blue &= 0xFFFFu;
    }
}

// Bytes the stored rows need from the first row on: every row padded, except that the last
// row needs only the bytes its pixels occupy.
std::int64_t rowsExtent(const DibLayout& layout) {
    if (layout.width <= 0 || layout.height == 0) {
        return 0;
    }
    return (layout.height - 1) * layout.rowBytes + (layout.width * layout.bitCount + 7) / 8;
}

DibStatus checkRows(const DibBlock& block, const DibLayout& layout) {
    if (!layout.runLength && layout.compression != BI_JPEG && layout.compression != BI_PNG) {
        const std::int64_t room = block.size - layout.pixelOffset;
        const std::int64_t rows = layout.height;
        // Compared row by row first, so huge row counts cannot overflow.
        if (layout.rowBytes > 0 && rows > 0 && (rows - 1) > room / layout.rowBytes) {
            return refuse(DibFault::RowsPastEnd,
                          "file ends at byte %lld but its %lld pixel rows "
                          "of %lld bytes need more",
                          fileByte(block, block.size), static_cast<long long>(rows),
                          static_cast<long long>(layout.rowBytes));
        }
        const std::int64_t needed = rowsExtent(layout);
        if (needed > room) {
            return refuse(
                DibFault::RowsPastEnd, "file ends at byte %lld but its pixel rows need %lld",
                fileByte(block, block.size), fileByte(block, layout.pixelOffset + needed));
        }
    }
    return {};
}

DibStatus checkFormat(const DibLayout& layout) {
    const long long bits = layout.bitCount;
    const std::uint32_t compression = layout.compression;
    if (layout.planes != 1) {
        return refuse(DibFault::Planes, "%lld colour planes (only 1 is supported)",
                      static_cast<long long>(layout.planes));
    }
    if (compression == BI_JPEG) {
        return refuse(DibFault::Compression, "JPEG-compressed bitmaps are not supported");
    }
    if (compression == BI_PNG) {
        return refuse(DibFault::Compression, "PNG-compressed bitmaps are not supported");
    }
    if (compression > BI_BITFIELDS) {
        return refuse(DibFault::Compression, "unsupported compression %u", compression);
    }
    if (compression == BI_RLE8 && bits != 8) {
        return refuse(DibFault::Rle8BitCount, "RLE8 compression with %lld bits per pixel", bits);
    }
    if (compression == BI_RLE4 && bits != 4) {
        return refuse(DibFault::Rle4BitCount, "RLE4 compression with %lld bits per pixel", bits);
    }
    if (layout.runLength && !layout.bottomUp) {
        return refuse(DibFault::RleTopDown, "run-length bitmaps stored top-down are not supported");
    }
    if (layout.clrUsed > 0x8000) {
        return refuse(DibFault::PaletteHuge, "palette of %u entries is larger than 32768",
                      layout.clrUsed);
    }
    if (bits == 8 && layout.clrUsed > 256) {
        return refuse(DibFault::Palette8TooLarge, "palette of %u entries is larger than 256",
                      layout.clrUsed);
    }
    if (bits == 4 && layout.clrUsed > 16) {
        return refuse(DibFault::Palette4TooLarge, "palette of %u entries is larger than 16",
                      layout.clrUsed);
    }
    if (layout.width < 0) {
        return refuse(DibFault::NegativeWidth, "negative width %lld",
                      static_cast<long long>(layout.width));
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return refuse(DibFault::BitCount, "unsupported bit count %lld", bits);
    }
    return {};
}

} // namespace

DibStatus describeDib(const DibBlock& block, DibLayout& layout) {
    layout = DibLayout{};
    if (block.size < kInfoHeaderSize) {
        return refuse(DibFault::HeaderPastEnd, "file ends at byte %lld inside the info header",
                      fileByte(block, block.size));
    }
    readInfoHeader(block.data, layout);
    if (layout.infoSize != kInfoHeaderSize) {
        return refuse(DibFault::InfoSize, "unsupported info header size %lld",
                      static_cast<long long>(layout.infoSize));
    }
    placeParts(layout);
    return checkFormat(layout);
}

DibStatus checkDibExtent(const DibBlock& block, DibLayout& layout) {
    if (layout.pixelOffset > block.size) {
        return refuse(DibFault::TablePastEnd,
                      "file ends at byte %lld but its colour table needs %lld",
                      fileByte(block, block.size), fileByte(block, layout.pixelOffset));
    }
    if (layout.bitFields) {
        readMasks(block.data, layout);
        const char* zero = layout.masks.red == 0     ? "red"
                           : layout.masks.green == 0 ? "green"
                           : layout.masks.blue == 0  ? "blue"
                                                     : nullptr;
        if (zero != nullptr) {
            return refuse(DibFault::ZeroMask, "the %s bit-field mask is 0", zero);
        }
    }
    return checkRows(block, layout);
}
