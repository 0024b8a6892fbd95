// The standard Huffman tables of ITU-T T.81 Annex K (K.3 to K.6): 16 BITS counts each, then
// the HUFFVAL symbols.
#pragma once

#include <cstdint>

extern const std::uint8_t kDcLuminanceBits[16];
extern const std::uint8_t kDcLuminanceValues[12];
extern const std::uint8_t kDcChrominanceBits[16];
extern const std::uint8_t kDcChrominanceValues[12];
extern const std::uint8_t kAcLuminanceBits[16];
extern const std::uint8_t kAcLuminanceValues[162];
extern const std::uint8_t kAcChrominanceBits[16];
extern const std::uint8_t kAcChrominanceValues[162];
