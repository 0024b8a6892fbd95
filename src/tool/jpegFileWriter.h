// The tool's bridge to the JPEG encoder.
#pragma once

#include <string>

template <class Kind> class QimImgT;
struct Rgba8;

// Writes the image (4 bytes per pixel, red, green, blue, ignored) as a baseline JFIF file with
// 4:4:4 YCbCr at the given quality. True exactly when the encoder's write returned 0.
bool writeJpegFile(const std::string& fileName, const QimImgT<Rgba8>& image, int quality);
