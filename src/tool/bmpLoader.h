// Reads a Windows bitmap file (BMP) into an RGBA image.
#pragma once

#include "vx2Image/QimImg.h"

#include <cstdint>

// Codes left in the last-error record when a load fails.
inline constexpr int kBmpErrorFileRead = 1;    // "File read error."
inline constexpr int kBmpErrorNotDib = 2;      // "Image file is not a DIB, or cannot be read."
inline constexpr int kBmpErrorCannotOpen = 4;  // the file name
inline constexpr int kBmpErrorMemory = 10;     // "Memory allocation error."
inline constexpr int kBmpErrorConversion = 11; // "Unable to convert DIB image to IPL image."
inline constexpr int kBmpErrorPastEnd = 12;    // "Bitmap data extends past the end of the file."
inline constexpr int kBmpErrorDimensions = 13; // "Bitmap dimensions are not supported."

inline constexpr int kBmpFileHeaderSize = 14;

// The text recorded with a load failure code (other than kBmpErrorCannotOpen, whose text is
// the file name).
const char* bmpErrorText(int code);

// Checks the 14-byte file header and sets `blockSize` to the number of bitmap bytes its size
// field promises after it. 0, kBmpErrorNotDib or kBmpErrorMemory (no bitmap bytes).
int checkBmpFileHeader(const unsigned char* fileHeader, std::int64_t& blockSize);

// Entries of 4 bytes between the info header and the pixel rows: the colour table, and for
// bit-field bitmaps the three colour masks ahead of it.
std::int64_t bitmapTableEntries(const BITMAPINFOHEADER& info);

// Checks that a bitmap block of `blockSize` bytes holds everything the conversion will read
// and that its size can be held by an image; fills `info` from the block's first 40 bytes,
// the only bytes it reads (none when the block is shorter). 0, kBmpErrorPastEnd or
// kBmpErrorDimensions.
int checkBitmapBlock(const unsigned char* block, std::int64_t blockSize, BITMAPINFOHEADER& info);

// Loads the bitmap file into `image`, an RGBA image of the bitmap's size, top row first.
// Bitmaps without any alpha information (every alpha byte 0) become opaque. A bitmap of width
// or height 0 gives an image of that size without pixels. On failure returns false and
// records the cause with setLastError; the image's content is then not defined.
bool loadBmpFile(const char* fileName, QimImgT<Rgba8>& image);
