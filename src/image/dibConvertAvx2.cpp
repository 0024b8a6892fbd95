// AVX2 kernels of the bitmap conversion: eight 24- or 32-bit pixels into interleaved 4 x 8
// bytes with one byte shuffle. The 24 bytes of eight 24-bit pixels are loaded as bytes 0-15
// into the low lane and bytes 8-23 into the high lane, so that each lane holds its four pixels
// and a block reads only the stored bytes of its own pixels, as the SSE2 kernels do.
#include "image/pixelKernels.h"

#if defined(QMJPEG_AVX2_ROUTINES)

#include <immintrin.h>

#include <array>

namespace {

// Byte selectors that widen the four 24-bit pixels of each lane (from byte 0 of the low lane,
// byte 4 of the high lane) to 32 bits with a 0 byte, bytes 0 and 2 exchanged when kSwap.
template <bool kSwap> constexpr std::array<std::uint8_t, 32> widenSelectors() {
    std::array<std::uint8_t, 32> select{};
    for (int lane = 0; lane < 2; ++lane) {
        for (int pixel = 0; pixel < 4; ++pixel) {
            const int first = 4 * lane + 3 * pixel;
            for (int byte = 0; byte < 3; ++byte) {
                select[16 * lane + 4 * pixel + byte] =
                    static_cast<std::uint8_t>(first + (kSwap ? 2 - byte : byte));
            }
            select[16 * lane + 4 * pixel + 3] = 0x80; // a 0 byte
        }
    }
    return select;
}

// Bytes 0 and 2 of every 32-bit lane exchanged; bytes 1 and 3 stay.
constexpr std::array<std::uint8_t, 32> swapSelectors() {
    std::array<std::uint8_t, 32> select{};
    for (int i = 0; i < 32; ++i) {
        const int base = i % 16 / 4 * 4;
        const int byte = i % 4;
        select[i] = static_cast<std::uint8_t>(base + (byte == 0 ? 2 : byte == 2 ? 0 : byte));
    }
    return select;
}

alignas(32) constexpr std::array<std::uint8_t, 32> kWiden = widenSelectors<false>();
alignas(32) constexpr std::array<std::uint8_t, 32> kWidenSwapped = widenSelectors<true>();
alignas(32) constexpr std::array<std::uint8_t, 32> kSwap = swapSelectors();

[[gnu::target("avx2")]] inline __m256i loadSelectors(const std::array<std::uint8_t, 32>& bytes) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes.data()));
}

// Eight pixels at a time.
[[gnu::target("avx2")]] inline std::int64_t packBgr24(const std::uint8_t* src, std::uint8_t* dst,
                                                      std::int64_t columns, __m256i select) {
    std::int64_t x = 0;
    for (; x + 8 <= columns; x += 8) {
        const std::uint8_t* p = src + 3 * x;
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));      // 0-15
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)); // 8-23
        const __m256i bytes = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * x),
                            _mm256_shuffle_epi8(bytes, select));
    }
    return x;
}

} // namespace

[[gnu::target("avx2")]] std::int64_t packBgr24Avx2(const std::uint8_t* src, std::uint8_t* dst,
                                                   std::int64_t columns) {
    return packBgr24(src, dst, columns, loadSelectors(kWiden));
}

[[gnu::target("avx2")]] std::int64_t packBgr24SwappedAvx2(const std::uint8_t* src,
                                                          std::uint8_t* dst, std::int64_t columns) {
    return packBgr24(src, dst, columns, loadSelectors(kWidenSwapped));
}

// Eight pixels at a time.
[[gnu::target("avx2")]] std::int64_t
packBgra32SwappedAvx2(const std::uint8_t* src, std::uint8_t* dst, std::int64_t columns) {
    const __m256i select = loadSelectors(kSwap);
    std::int64_t x = 0;
    for (; x + 8 <= columns; x += 8) {
        const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * x));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * x),
                            _mm256_shuffle_epi8(pixels, select));
    }
    return x;
}

#endif
