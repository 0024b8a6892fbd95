// The shading ratio of two images: for every pixel and colour channel,
// 64 x (final / source) ^ 1.5172414, clamped to 255 and rounded; 64 where the source is 0.
#pragma once

#include "vx2Image/QimImg.h"

#include <array>
#include <cstdint>

// The exponent, a single-precision constant used in double precision.
inline constexpr float kShadingExponent = 1.5172414f;

// The ratio byte of one channel, computed directly in double precision.
std::uint8_t shadingRatioByte(std::uint8_t finalByte, std::uint8_t sourceByte);

// Every ratio byte, as shadingRatioByte gives it, in a table built at compile time; entry
// (finalByte << 8) | sourceByte.
const std::array<std::uint8_t, 65536>& shadingRatioTable();

// Writes the ratio image of `source` and `finalImage` into `result`: red, green and blue from
// the ratio, alpha 0; row padding is left untouched. Each image is first given pixels of its
// own (unshare), in the order source, final, result. False, with nothing written, when the
// three images differ in width, height or row size, or when one of them has no pixels.
bool computeShadingRatio(QimImgT<Rgba8>& source, QimImgT<Rgba8>& finalImage,
                         QimImgT<Rgba8>& result);

// The same for `rows` rows of RGBA pixels, all three `rowStep` bytes apart: the step that
// computeShadingRatio applies to whole images, applied to a band of rows.
void shadingRatioRows(const std::uint8_t* source, const std::uint8_t* finalRows,
                      std::uint8_t* result, int width, int rows, std::int64_t rowStep);

// The ratio row of two bitmap rows whose pixels are stored as blue, green, red (and, for
// `sourceBytes` or `finalBytes` 4, a fourth byte): `width` RGBA pixels with alpha 0, the bytes
// shadingRatioRows gives for the two rows once converted to RGBA.
void shadingRatioStoredRow(const std::uint8_t* source, int sourceBytes,
                           const std::uint8_t* finalRow, int finalBytes, std::uint8_t* result,
                           int width);
