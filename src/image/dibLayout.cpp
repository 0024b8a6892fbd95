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

// How a reason names the block's end: the end of the file, or the end its size field gives.
const char* blockEnd(const DibBlock& block) {
    return block.endsAtSizeField ? "file size field ends the bitmap at byte" : "file ends at byte";
}

// The info header forms that are read, by their size.
enum class HeaderForm { Core, Info, InfoMasks, Os2 };

bool formOf(std::int64_t infoSize, HeaderForm& form) {
    switch (infoSize) {
    case 12:
        form = HeaderForm::Core; // OS/2 1.x
        return true;
    case 40:
        form = HeaderForm::Info;
        return true;
    case 52:
    case 56:
    case 108:
    case 124:
        form = HeaderForm::InfoMasks; // colour masks inside the header, at 40 to 51
        return true;
    case 64:
        form = HeaderForm::Os2; // OS/2 2.x
        return true;
    default:
        return false;
    }
}

// The OS/2 1.x header: 16-bit unsigned sizes, rows always bottom-up, no compression field.
void readCoreHeader(const std::uint8_t* p, DibLayout& layout) {
    layout.width = loadLe16(p + 4);
    layout.height = loadLe16(p + 6);
    layout.bottomUp = true;
    layout.planes = loadLe16(p + 8);
    layout.bitCount = loadLe16(p + 10);
    layout.compression = BI_RGB;
    layout.clrUsed = 0;
    layout.entryBytes = 3;
}

// The fields that the 40-byte header and the longer ones share.
void readInfoHeader(const std::uint8_t* p, DibLayout& layout) {
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
void placeParts(HeaderForm form, DibLayout& layout) {
    const std::int64_t bits = layout.bitCount;
    const bool maskCompression =
        layout.compression == BI_BITFIELDS || layout.compression == BI_ALPHABITFIELDS;
    layout.runLength = layout.compression == BI_RLE8 || layout.compression == BI_RLE4;
    layout.bitFields = form != HeaderForm::Os2 && maskCompression && (bits == 16 || bits == 32);
    layout.tableOffset = layout.infoSize;
    if (bits == 1 || bits == 4 || bits == 8) {
        layout.tableEntries = layout.clrUsed != 0 ? layout.clrUsed : std::int64_t{1} << bits;
    } else {
        layout.tableEntries = layout.clrUsed;
    }
    if (layout.bitFields && form == HeaderForm::InfoMasks) {
        layout.maskOffset = kInfoHeaderSize;
    } else if (layout.bitFields) {
        // Red, green, blue (and for alpha bit fields an alpha mask) ahead of the table.
        const std::int64_t maskWords = layout.compression == BI_ALPHABITFIELDS ? 4 : 3;
        layout.maskOffset = layout.infoSize;
        layout.tableOffset = layout.maskOffset + 4 * maskWords;
    }
    layout.pixelOffset = layout.tableOffset + layout.entryBytes * layout.tableEntries;
    layout.rowBytes = rowStep(layout.width * bits, 4);
}

void readMasks(const DibBlock& block, DibLayout& layout) {
    const std::uint8_t* p =
        block.bytesAfterHeader != nullptr && layout.maskOffset == layout.infoSize
            ? block.bytesAfterHeader
            : block.data + layout.maskOffset;
    layout.masks = {loadLe32(p), loadLe32(p + 4), loadLe32(p + 8)};
    if (layout.bitCount == 16) {
        layout.masks.red &= 0xFFFFu;
        layout.masks.green &= 0xFFFFu;
        layout.masks.blue &= 0xFFFFu;
    }
}

// True when `rows` rows of `rowBytes` fit in `room` bytes.
bool rowsFit(std::int64_t rows, std::int64_t rowBytes, std::int64_t room) {
    return room >= 0 && (rowBytes <= 0 || rows <= room / rowBytes);
}

bool storesRows(const DibLayout& layout) {
    return !layout.runLength && layout.compression != BI_JPEG && layout.compression != BI_PNG;
}

// The file header's pixel-data offset is honoured when it lies after the table and masks and
// the rows (for run-length data, at least one code) fit from there; otherwise the rows are
// taken from directly after the table, so bitmaps with a zero or wrong offset still load.
void placeRows(const DibBlock& block, DibLayout& layout) {
    const std::int64_t offset = block.pixelOffset;
    if (offset <= layout.pixelOffset || offset > block.size) {
        return;
    }
    const bool fits = storesRows(layout)
                          ? rowsFit(layout.height, layout.rowBytes, block.size - offset)
                          : block.size - offset >= 2;
    if (fits) {
        layout.pixelOffset = offset;
    }
}

DibStatus checkRows(const DibBlock& block, const DibLayout& layout) {
    if (storesRows(layout) && layout.width > 0 &&
        !rowsFit(layout.height, layout.rowBytes, block.size - layout.pixelOffset)) {
        // Every row, the last one included, is padded to 4 bytes.
        const double needed =
            static_cast<double>(layout.pixelOffset + block.fileOffset) +
            static_cast<double>(layout.height) * static_cast<double>(layout.rowBytes);
        return refuse(DibFault::RowsPastEnd, "%s %lld but its pixel rows need %.0f",
                      blockEnd(block), fileByte(block, block.size), needed);
    }
    return {};
}

DibStatus checkCompression(HeaderForm form, const DibLayout& layout) {
    const std::uint32_t compression = layout.compression;
    if (form == HeaderForm::Os2 && compression == 3) {
        return refuse(DibFault::Compression, "OS/2 Huffman-compressed bitmaps are not supported");
    }
    if (form == HeaderForm::Os2 && compression == 4) {
        return refuse(DibFault::Compression, "OS/2 RLE24-compressed bitmaps are not supported");
    }
    if (compression == BI_JPEG) {
        return refuse(DibFault::Compression, "JPEG-compressed bitmaps are not supported");
    }
    if (compression == BI_PNG) {
        return refuse(DibFault::Compression, "PNG-compressed bitmaps are not supported");
    }
    if (compression == BI_ALPHABITFIELDS && form != HeaderForm::Os2 &&
        (layout.bitCount == 16 || layout.bitCount == 32)) {
        return {};
    }
    if (compression == BI_ALPHABITFIELDS) {
        return refuse(DibFault::Compression,
                      "alpha bit fields with %lld bits per pixel are not supported",
                      static_cast<long long>(layout.bitCount));
    }
    if (compression > BI_BITFIELDS) {
        return refuse(DibFault::Compression, "unsupported compression %u", compression);
    }
    return {};
}

DibStatus checkFormat(HeaderForm form, const DibLayout& layout) {
    const long long bits = layout.bitCount;
    const std::uint32_t compression = layout.compression;
    if (layout.planes != 1) {
        return refuse(DibFault::Planes, "%lld colour planes (only 1 is supported)",
                      static_cast<long long>(layout.planes));
    }
    if (DibStatus status = checkCompression(form, layout); !status.ok()) {
        return status;
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
    if (form == HeaderForm::Core && (bits == 16 || bits == 32)) {
        return refuse(DibFault::BitCount, "OS/2 1.x bitmaps with %lld bits per pixel", bits);
    }
    return {};
}

} // namespace

DibStatus describeDib(const DibBlock& block, DibLayout& layout) {
    layout = DibLayout{};
    if (block.size < 4) {
        return refuse(DibFault::HeaderPastEnd, "%s %lld inside the info header", blockEnd(block),
                      fileByte(block, block.size));
    }
    layout.infoSize = loadLe32(block.data);
    HeaderForm form = HeaderForm::Info;
    const bool known = formOf(layout.infoSize, form);
    const std::int64_t readable = known ? layout.infoSize : kInfoHeaderSize;
    if (block.size < readable && !known) {
        return refuse(DibFault::HeaderPastEnd, "unsupported info header size %lld",
                      static_cast<long long>(layout.infoSize));
    }
    if (block.size < readable) {
        return refuse(DibFault::HeaderPastEnd, "%s %lld but its %lld-byte info header needs %lld",
                      blockEnd(block), fileByte(block, block.size),
                      static_cast<long long>(layout.infoSize), fileByte(block, readable));
    }
    if (form == HeaderForm::Core) {
        readCoreHeader(block.data, layout);
    } else {
        readInfoHeader(block.data, layout);
    }
    // An unknown header is placed as a 40-byte one, so that its extent can still be checked.
    placeParts(form, layout);
    if (!known) {
        return refuse(DibFault::InfoSize, "unsupported info header size %lld",
                      static_cast<long long>(layout.infoSize));
    }
    return checkFormat(form, layout);
}

DibStatus checkDibExtent(const DibBlock& block, DibLayout& layout) {
    if (layout.pixelOffset > block.size) {
        return refuse(DibFault::TablePastEnd, "%s %lld but its colour table needs %lld",
                      blockEnd(block), fileByte(block, block.size),
                      fileByte(block, layout.pixelOffset));
    }
    if (layout.bitFields) {
        readMasks(block, layout);
        const char* zero = layout.masks.red == 0     ? "red"
                           : layout.masks.green == 0 ? "green"
                           : layout.masks.blue == 0  ? "blue"
                                                     : nullptr;
        if (zero != nullptr) {
            return refuse(DibFault::ZeroMask, "the %s bit-field mask is 0", zero);
        }
    }
    placeRows(block, layout);
    return checkRows(block, layout);
}
