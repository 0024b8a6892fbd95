// Little-endian loads and stores of file fields and pixel words, independent of the host's
// byte order. Each goes through one unaligned host word, swapped only on big-endian hosts, so
// that loops over pixel words still vectorise.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

inline std::uint32_t loadLe32(const std::uint8_t* at) {
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    if constexpr (std::endian::native == std::endian::big) {
        value = __builtin_bswap32(value);
    }
    return value;
}

inline std::uint64_t loadLe64(const std::uint8_t* at) {
    std::uint64_t value;
    std::memcpy(&value, at, sizeof value);
    if constexpr (std::endian::native == std::endian::big) {
        value = __builtin_bswap64(value);
    }
    return value;
}

inline std::uint16_t loadLe16(const std::uint8_t* at) {
    std::uint16_t value;
    std::memcpy(&value, at, sizeof value);
    if constexpr (std::endian::native == std::endian::big) {
        value = __builtin_bswap16(value);
    }
    return value;
}

inline std::int32_t loadLeI32(const std::uint8_t* at) {
    return static_cast<std::int32_t>(loadLe32(at));
}

inline void storeLe32(std::uint8_t* at, std::uint32_t value) {
    if constexpr (std::endian::native == std::endian::big) {
        value = __builtin_bswap32(value);
    }
    std::memcpy(at, &value, sizeof value);
}

inline void storeLe64(std::uint8_t* at, std::uint64_t value) {
    if constexpr (std::endian::native == std::endian::big) {
        value = __builtin_bswap64(value);
    }
    std::memcpy(at, &value, sizeof value);
}

inline void storeLe16(std::uint8_t* at, std::uint32_t value) {
    auto half = static_cast<std::uint16_t>(value);
    if constexpr (std::endian::native == std::endian::big) {
        half = __builtin_bswap16(half);
    }
    std::memcpy(at, &half, sizeof half);
}
