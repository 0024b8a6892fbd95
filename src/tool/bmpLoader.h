// Reads a Windows bitmap file (BMP) into an RGBA image.
#pragma once

#include "util/lastError.h"
#include "vx2Image/QimImg.h"

#include <string>

// Loads the bitmap file into `image`, an RGBA image of the bitmap's size, top row first.
// Bitmaps without any alpha information (every alpha byte 0) become opaque. A bitmap of width
// or height 0 gives an image of that size without pixels. On failure returns false and
// records the cause with setLastError, and when `reason` is given stores there why, in words
// for people; the image's content is then not defined. Refusals of the image library end the
// process in its default error mode before this returns (see loadRefusal.h).
bool loadBmpFile(const char* fileName, QimImgT<Rgba8>& image, std::string* reason = nullptr);
