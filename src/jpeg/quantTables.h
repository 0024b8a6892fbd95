// Base quantisation tables (ITU-T T.81 Tables K.1 and K.2, zig-zag order) and their scaling
// by the JPEG quality.
#pragma once

#include <cstdint>

extern const std::uint8_t kLuminanceQuantBase[64];
extern const std::uint8_t kChrominanceQuantBase[64];

// The scale factor in percent for a quality: 5000 / q below 50, else 200 - 2q, with the
// quality first clamped to 1..100.
int qualityScaleFactor(int quality);

// dest[i] = (base[i] * s + 50) / 100 clamped to 1..255, for the quality's scale factor s.
void scaleQuantTable(int quality, const std::uint8_t* base, std::int16_t* dest);
