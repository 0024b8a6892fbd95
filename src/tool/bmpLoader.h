// Reads a Windows bitmap file (BMP) into an RGBA image.
#pragma once

#include "vx2Image/QimImg.h"

// Codes left in the last-error record when a load fails.
inline constexpr int kBmpErrorFileRead = 1;    // "File read error."
inline constexpr int kBmpErrorNotDib = 2;      // "Image file is not a DIB, or cannot be read."
inline constexpr int kBmpErrorCannotOpen = 4;  // the file name
inline constexpr int kBmpErrorMemory = 10;     // "Memory allocation error."
inline constexpr int kBmpErrorConversion = 11; // "Unable to convert DIB image to IPL image."
inline constexpr int kBmpErrorPastEnd = 12;    // "Bitmap data extends past the end of the file."
inline constexpr int kBmpErrorDimensions = 13; // "Bitmap dimensions are not supported."

// Loads the bitmap file into `image`, an RGBA image of the bitmap's size, top row first.
// Bitmaps without any alpha information (every alpha byte 0) become opaque. A bitmap of width
// or height 0 gives an image of that size without pixels. On failure returns false and
// records the cause with setLastError; the image's content is then not defined.
bool loadBmpFile(const char* fileName, QimImgT<Rgba8>& image);
