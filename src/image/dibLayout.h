// The layout of a device-independent bitmap in memory, worked out once from its info header:
// sizes, pixel format, where the colour table, the masks and the pixel rows lie, and how the
// rows are ordered. The bitmap loader, the conversion and the run-length decoder all read the
// bitmap through this description.
#pragma once

#include "image/iplImage.h"

#include <cstdint>

// Compression codes of the info header.
constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::uint32_t BI_JPEG = 4;
constexpr std::uint32_t BI_PNG = 5;
constexpr std::uint32_t BI_ALPHABITFIELDS = 6;

// The smallest and the usual info header.
constexpr std::int64_t kCoreInfoHeaderSize = 12;
constexpr std::int64_t kInfoHeaderSize = 40;

// A bitmap block: the info header at `data`, `size` readable bytes. `pixelOffset` is where
// the file header says the pixel data starts, counted from `data` (0 when not known), and
// `fileOffset` the number of file bytes in front of the block (used to name file positions).
struct DibBlock {
    const std::uint8_t* data = nullptr;
    std::int64_t size = 0;
    std::int64_t pixelOffset = 0;
    std::int64_t fileOffset = 0;
    // When set, the 16 bytes at the info header's end (where bit-field masks follow a header
    // without masks of its own), for a `data` that holds only the block's first bytes.
    const std::uint8_t* bytesAfterHeader = nullptr;
    // The block ends where the file header's size field says, before the file itself ends.
    bool endsAtSizeField = false;
};

struct DibMasks {
    std::uint32_t red = 0;
    std::uint32_t green = 0;
    std::uint32_t blue = 0;
};

struct DibLayout {
    std::int64_t infoSize = 0;
    std::int64_t width = 0;
    std::int64_t height = 0; // number of rows (the stored height's absolute value)
    bool bottomUp = true;    // rows stored from the bottom row of the picture up
    std::int64_t planes = 0;
    std::int64_t bitCount = 0;
    std::uint32_t compression = BI_RGB;
    std::uint32_t clrUsed = 0;
    bool runLength = false;        // RLE8 or RLE4 data instead of rows
    bool bitFields = false;        // 16 or 32 bits read through `masks`
    std::int64_t tableOffset = 0;  // first colour table entry
    std::int64_t tableEntries = 0; // palette entries
    std::int64_t entryBytes = 4;   // 4 (blue, green, red, reserved) or 3 (blue, green, red)
    std::int64_t maskOffset = 0;   // red, green and blue masks (bit-field bitmaps)
    DibMasks masks;
    std::int64_t pixelOffset = 0; // first stored row, or the run-length data
    std::int64_t rowBytes = 0;    // stored row, padded to 4 bytes
};

// Why a bitmap cannot be converted, in the order the checks are made.
enum class DibFault {
    None,
    HeaderPastEnd,    // the block is shorter than the info header
    InfoSize,         // an info header size that is not supported
    Planes,           // planes other than 1
    Compression,      // a compression that is not supported
    Rle8BitCount,     // RLE8 without 8 bits per pixel
    Rle4BitCount,     // RLE4 without 4 bits per pixel
    RleTopDown,       // run-length data stored top-down
    PaletteHuge,      // more than 32768 table entries
    Palette8TooLarge, // 8 bits with more than 256 table entries
    Palette4TooLarge, // 4 bits with more than 16 table entries
    NegativeWidth,    // width below 0
    BitCount,         // bits per pixel other than 1, 4, 8, 16, 24 or 32
    TablePastEnd,     // colour table or masks run past the block
    ZeroMask,         // a bit-field colour mask of 0
    RowsPastEnd,      // pixel rows (or the run-length data) run past the block
};

// True for the faults that say the block holds less than its header promises.
constexpr bool isTruncation(DibFault fault) {
    return fault == DibFault::HeaderPastEnd || fault == DibFault::TablePastEnd ||
           fault == DibFault::RowsPastEnd;
}

// The outcome of describing a bitmap: no fault, or the first fault with a reason for people.
struct DibStatus {
    DibFault fault = DibFault::None;
    char reason[128] = {};
    bool ok() const { return fault == DibFault::None; }
};

// Describes the bitmap in `block` from its info header: the header's form and fields and where
// its parts lie. The layout is filled as far as the header could be read, also when a fault
// is returned (all of it once the header lies inside the block and its size is supported).
DibStatus describeDib(const DibBlock& block, DibLayout& layout);

// Checks that the parts the layout names lie inside the block: the colour table and masks
// (reading the masks into the layout and refusing a mask of 0), then the pixel rows.
DibStatus checkDibExtent(const DibBlock& block, DibLayout& layout);
