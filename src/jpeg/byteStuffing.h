// Byte stuffing of entropy-coded data: a 0xFF byte is followed by a stuffed 0x00, so that no
// marker appears inside a scan. Every coder and the joiner of coded parts test bytes here.
#pragma once

#include <concepts>
#include <cstdint>

inline constexpr std::uint8_t kStuffedAfter = 0xFF;

inline constexpr bool needsStuffing(std::uint8_t byte) {
    return byte == kStuffedAfter;
}

// True when any byte of `word` is 0xFF: the word can then not be stored as it is.
template <std::unsigned_integral Word> inline constexpr bool hasFFByte(Word word) {
    constexpr Word kOnes = static_cast<Word>(~Word{0}) / 0xFF; // 0x01 in every byte
    const Word inverted = static_cast<Word>(~word);            // a 0xFF byte becomes a zero byte
    return static_cast<Word>((inverted - kOnes) & ~inverted & (kOnes << 7)) != 0;
}
