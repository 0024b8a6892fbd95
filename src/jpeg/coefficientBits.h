// How a DC difference or an AC coefficient is sent: its category (the number of significant
// bits of its magnitude, which the Huffman symbol carries) and its value bits (the value
// itself when positive, value - 1 cut to the category when negative).
#pragma once

#include <bit>
#include <cstdint>

inline int categoryOf(std::int32_t v) {
    return std::bit_width(static_cast<std::uint32_t>(v < 0 ? -v : v));
}

// categoryOf for a value known not to be 0, without the test for 0.
inline int categoryOfNonZero(std::int32_t v) {
    const auto magnitude = static_cast<std::uint32_t>(v < 0 ? -v : v);
    return (31 ^ __builtin_clz(magnitude)) + 1;
}

inline std::uint32_t valueBits(std::int32_t v, int category) {
    return static_cast<std::uint32_t>(v + (v >> 31)) & ((std::uint32_t{1} << category) - 1);
}
