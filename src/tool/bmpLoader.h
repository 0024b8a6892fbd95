// Reads a Windows bitmap file (BMP) into an RGBA image.
#pragma once

#include "util/lastError.h"
#include "vx2Image/QimImg.h"

#include <cstdint>
#include <string>

struct DibBlock;
struct DibLayout;

// Bytes of the BMP file header in front of the bitmap block.
inline constexpr std::int64_t kFileHeaderSize = 14;

// Checks the file header (`headerBytes` bytes of it were read) of a file of `fileLength` bytes
// (-1 when not known) and sets `blockSize` to the bitmap bytes that follow it. 0, or the
// last-error code of the first failure with its reason for people in `reason`.
int checkBmpFileHeader(const unsigned char* fileHeader, std::int64_t headerBytes,
                       std::int64_t fileLength, std::int64_t& blockSize, std::string& reason);

// Checks that the bitmap block holds everything its header promises and that its size can be
// held by an image (reading only the header, table and masks); faults of the bitmap's format
// are left to the conversion, which refuses them with their reason. 0, or the last-error code
// to report with its reason.
int checkBitmapBlock(const DibBlock& block, DibLayout& layout, std::string& reason);

// The last-error text of a load failure code (kLastErrorOpen's text is the file name).
const char* lastErrorText(int code);

// Loads the bitmap file into `image`, an RGBA image of the bitmap's size, top row first.
// Bitmaps without any alpha information (every alpha byte 0) become opaque. A bitmap of width
// or height 0 gives an image of that size without pixels. On failure returns false and
// records the cause with setLastError, and when `reason` is given stores there why, in words
// for people; the image's content is then not defined. Refusals of the image library end the
// process in its default error mode before this returns (see failureReport.h).
bool loadBmpFile(const char* fileName, QimImgT<Rgba8>& image, std::string* reason = nullptr);
