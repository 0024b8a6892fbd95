// Base quantisation tables and quality scaling.
#include "jpeg/quantTables.h"

const std::uint8_t kLuminanceQuantBase[64] = {
    16, 11, 12,  14,  12,  10, 16, 14,  13,  14,  18,  17,  16, 19,  24,  40,
    26, 24, 22,  22,  24,  49, 35, 37,  29,  40,  58,  51,  61, 60,  57,  51,
    56, 55, 64,  72,  92,  78, 64, 68,  87,  69,  55,  56,  80, 109, 81,  87,
    95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99,
};

const std::uint8_t kChrominanceQuantBase[64] = {
    17, 18, 18, 24, 21, 24, 47, 26, 26, 47, 99, 66, 56, 66, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
};

int qualityScaleFactor(int quality) {
    if (quality <= 0) {
        quality = 1;
    }
    if (quality > 100) {
        quality = 100;
    }
    return quality < 50 ? 5000 / quality : 200 - 2 * quality;
}

void scaleQuantTable(int quality, const std::uint8_t* base, std::int16_t* dest) {
    const int scale = qualityScaleFactor(quality);
    for (int i = 0; i < 64; ++i) {
        int value = (base[i] * scale + 50) / 100;
        if (value <= 0) {
            value = 1;
        }
        if (value > 255) {
            value = 255;
        }
        dest[i] = static_cast<std::int16_t>(value);
    }
}
