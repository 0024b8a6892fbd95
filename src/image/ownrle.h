// Run-length decoding of 8-bit (BI_RLE8) and 4-bit (BI_RLE4) device-independent bitmaps.
#pragma once

#include "image/imageRefusal.h"

#include <cstdint>

struct BITMAPINFOHEADER;
struct DibBlock;
struct DibLayout;
namespace rle {
struct Form;
}

// Expands the run-length data of the bitmap block `dib` (`dibSize` readable bytes) into a new
// block laid out like the uncompressed pixel array: rows bottom-up, indices packed as in an
// 8- or 4-bit bitmap, each row padded to 4 bytes, pixels the data never sets holding index 0.
// `biCompression` 1 selects RLE8, any other value RLE4. The caller has checked the header
// (bit count matching the form, biHeight not negative, the colour table inside the block).
// Returns the block (release it with iplAlignedFree), or null after reporting the refusal
// through iplReportStatus.
std::uint8_t* decodeRleDib(const BITMAPINFOHEADER* dib, std::int64_t dibSize);

// The same for a bitmap already described by describeDib (bit count matching the form, rows
// stored bottom-up, the table inside the block); the data starts at the layout's pixel offset.
std::uint8_t* decodeRleRows(const DibBlock& dib, const DibLayout& layout);

// The run-length form (RLE8 or RLE4) of a described run-length bitmap.
const rle::Form& rleForm(const DibLayout& layout);

// The decoder's refusal of a described bitmap whose run-length data does not start inside the
// block; no refusal when it does.
ImageRefusal rleDataRefusal(const DibBlock& dib, const DibLayout& layout);
