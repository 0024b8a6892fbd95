// The colour conversion of the fetch routines, RGB to level-shifted YCbCr in 8-bit fixed point:
//
//   Y  = (77 R + 150 G + 29 B - 32640) >> 8   (level shift and rounding folded in)
//   Cb = (128 B - 43 R - 85 G + 128) >> 8
//   Cr = (128 R - 107 G - 21 B + 128) >> 8
//
// The plain routines and the vector kernels all take their weights from here.
#pragma once

#include <cstdint>

struct YccWeights {
    int red;
    int green;
    int blue;
    int bias;
};

inline constexpr YccWeights kLumaWeights{77, 150, 29, -32640};
inline constexpr YccWeights kBlueDifferenceWeights{-43, -85, 128, 128};
inline constexpr YccWeights kRedDifferenceWeights{128, -107, -21, 128};

// One component of one pixel.
inline std::int16_t yccComponent(const YccWeights& w, int red, int green, int blue) {
    return static_cast<std::int16_t>((w.red * red + w.green * green + w.blue * blue + w.bias) >> 8);
}
