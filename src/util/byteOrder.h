// Little-endian loads and stores of file fields and pixel words, independent of the host's
// byte order. Each goes through one unaligned host word, swapped only on big-endian hosts, so
// that loops over pixel words still vectorise.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace byte_order_detail {

template <class Word> inline Word littleEndian(Word value) {
    if constexpr (std::endian::native == std::endian::big) {
        if constexpr (sizeof(Word) == 8) {
            return __builtin_bswap64(value);
        } else if constexpr (sizeof(Word) == 4) {
            return __builtin_bswap32(value);
        } else {
            return __builtin_bswap16(value);
        }
    }
    return value;
}

template <class Word> inline Word load(const std::uint8_t* at) {
    Word value;
    std::memcpy(&value, at, sizeof value);
    return littleEndian(value);
}

template <class Word> inline void store(std::uint8_t* at, Word value) {
    value = littleEndian(value);
    std::memcpy(at, &value, sizeof value);
}

} // namespace byte_order_detail

inline std::uint64_t loadLe64(const std::uint8_t* at) {
    return byte_order_detail::load<std::uint64_t>(at);
}

inline std::uint32_t loadLe32(const std::uint8_t* at) {
    return byte_order_detail::load<std::uint32_t>(at);
}

inline std::uint16_t loadLe16(const std::uint8_t* at) {
    return byte_order_detail::load<std::uint16_t>(at);
}

inline std::int32_t loadLeI32(const std::uint8_t* at) {
    return static_cast<std::int32_t>(loadLe32(at));
}

inline void storeLe64(std::uint8_t* at, std::uint64_t value) {
    byte_order_detail::store(at, value);
}

inline void storeLe32(std::uint8_t* at, std::uint32_t value) {
    byte_order_detail::store(at, value);
}

inline void storeLe16(std::uint8_t* at, std::uint32_t value) {
    byte_order_detail::store(at, static_cast<std::uint16_t>(value));
}

// Big-endian 64-bit words: eight bytes of a bit stream, first byte highest.
inline std::uint64_t loadBe64(const std::uint8_t* at) {
    std::uint64_t value;
    std::memcpy(&value, at, sizeof value);
    if constexpr (std::endian::native == std::endian::little) {
        value = __builtin_bswap64(value);
    }
    return value;
}

inline void storeBe64(std::uint8_t* at, std::uint64_t value) {
    if constexpr (std::endian::native == std::endian::little) {
        value = __builtin_bswap64(value);
    }
    std::memcpy(at, &value, sizeof value);
}
