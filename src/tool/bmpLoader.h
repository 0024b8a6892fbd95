// Reads a Windows bitmap file (BMP) into an RGBA image.
#pragma once

#include "util/lastError.h"
#include "util/outcome.h"
#include "vx2Image/QimImg.h"

#include <cstdint>
#include <string>

struct DibBlock;
struct DibLayout;

// Bytes of the BMP file header in front of the bitmap block.
inline constexpr std::int64_t kFileHeaderSize = 14;

// The checks below return an Outcome whose code is the last-error code that the loader records
// for the failure; kLastErrorConversion marks a refusal of the image library's conversion.

// The input could not be opened (errno says why).
Outcome cannotOpenBitmap();

// Checks the file header (`headerBytes` bytes of it were read) and sets `blockSize` to the
// bitmap bytes it says follow it.
Outcome checkBmpFileHeader(const unsigned char* fileHeader, std::int64_t headerBytes,
                           std::int64_t& blockSize);
// Checks that a file of `fileLength` bytes (-1 when not known) holds the block.
Outcome checkBmpFileLength(std::int64_t blockSize, std::int64_t fileLength);

// Every check of a bitmap block before its pixels are read: that it holds everything its
// header promises and that its size can be held by an image (the loader's own refusals),
// then, for a bitmap with pixels, the faults of its format that the image library's
// conversion refuses, in the order the conversion finds them. Reads only the header, table
// and masks.
Outcome checkBitmapBlock(const DibBlock& block, DibLayout& layout);

// Loads the bitmap file into `image`, an RGBA image of the bitmap's size, top row first.
// Bitmaps without any alpha information (every alpha byte 0) become opaque. A bitmap of width
// or height 0 gives an image of that size without pixels. The image's content is not defined
// after a failure. Refusals of the image library's conversion go through its status channel
// (in its default error mode they end the process before this returns).
Outcome loadBmp(const char* fileName, QimImgT<Rgba8>& image);

// loadBmp with the outcome as a success flag and the cause of a failure recorded with
// setLastError.
bool loadBmpFile(const char* fileName, QimImgT<Rgba8>& image);
