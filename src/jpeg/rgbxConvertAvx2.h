// The AVX2 colour conversion of 4-byte RGB pixels: the SSE2 arithmetic (rgbxConvertSse2.h) on
// two block rows at once, with the same results as the plain equations.
#pragma once

#include "util/simdTargets.h"

#include <cstddef>
#include <cstdint>

#if defined(QMJPEG_AVX2_ROUTINES)
// Converts 8 rows of 8 pixels, `stride` bytes apart, into the Y, Cb and Cr blocks at `blocks`
// (three 8x8 blocks one after the other). The processor must have AVX2.
void convertMcuRgbxAvx2(const std::uint8_t* pixels, std::ptrdiff_t stride, std::int16_t* blocks);
#endif
