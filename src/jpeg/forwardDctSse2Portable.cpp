// Portable twin of the SSE2 forward DCT: each 16-bit lane of the SIMD routine computed one
// at a time, with the same saturating adds, high-half multiplies and weight tables, so that
// it gives the SSE2 routine's results bit for bit on any processor.
#include "jpeg/blockTransform.h"
#include "jpeg/forwardDctSse2Tables.h"

#include <cstdint>

namespace {

using namespace sse2_dct;

inline std::int16_t saturate16(std::int32_t v) {
    return static_cast<std::int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}
inline std::int16_t adds(std::int16_t a, std::int16_t b) {
    return saturate16(a + b);
}
inline std::int16_t subs(std::int16_t a, std::int16_t b) {
    return saturate16(a - b);
}
// Left shift that drops the bits shifted out of the 16-bit lane.
inline std::int16_t shl(std::int16_t a, int n) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(a) << n);
}
inline std::int16_t mulh(std::int16_t a, std::int16_t b) {
    return static_cast<std::int16_t>((std::int32_t{a} * b) >> 16);
}
inline std::int16_t or1(std::int16_t a) {
    return static_cast<std::int16_t>(a | 1);
}

void columnPass(std::int16_t* column) {
    const std::int16_t x0 = column[0], x1 = column[8], x2 = column[16], x3 = column[24],
                       x4 = column[32], x5 = column[40], x6 = column[48], x7 = column[56];
    const std::int16_t t0 = shl(adds(x0, x7), 3), t1 = shl(adds(x1, x6), 3),
                       t2 = shl(adds(x2, x5), 3), t3 = shl(adds(x3, x4), 3);
    const std::int16_t t7 = shl(subs(x0, x7), 3), t6 = shl(subs(x1, x6), 4),
                       t5 = shl(subs(x2, x5), 4), t4 = shl(subs(x3, x4), 3);

    const std::int16_t tp03 = adds(t0, t3), tm03 = subs(t0, t3);
    const std::int16_t tp12 = adds(t1, t2), tm12 = subs(t1, t2);
    column[0] = adds(tp03, tp12);
    column[32] = subs(tp03, tp12);
    column[16] = or1(adds(tm03, mulh(tm12, kTg2)));
    column[48] = or1(subs(mulh(tm03, kTg2), tm12));

    const std::int16_t tp65 = or1(mulh(adds(t6, t5), kOc4));
    const std::int16_t tm65 = mulh(subs(t6, t5), kOc4);
    const std::int16_t tp465 = adds(t4, tm65), tm465 = subs(t4, tm65);
    const std::int16_t tp765 = adds(t7, tp65), tm765 = subs(t7, tp65);
    column[8] = or1(adds(tp765, mulh(tp465, kTg1)));
    column[56] = subs(mulh(tp765, kTg1), tp465);
    column[24] = subs(tm765, adds(mulh(tm465, kTg3), tm465));
    column[40] = adds(adds(mulh(tm765, kTg3), tm765), tm465);
}

void rowPass(std::int16_t* row, const std::int16_t (&weights)[8][4]) {
    std::int16_t s[4], d[4];
    for (int i = 0; i < 4; ++i) {
        s[i] = adds(row[i], row[7 - i]);
        d[i] = subs(row[i], row[7 - i]);
    }
    for (int k = 0; k < 8; ++k) {
        const std::int16_t* v = (k & 1) ? d : s;
        // 32-bit products and sums with wrap-around, as the multiply-add instructions give.
        std::uint32_t sum = static_cast<std::uint32_t>(kRowRounding);
        for (int i = 0; i < 4; ++i) {
            sum += static_cast<std::uint32_t>(std::int32_t{weights[k][i]} * v[i]);
        }
        row[k] = saturate16(static_cast<std::int32_t>(sum) >> kRowShift);
    }
}

} // namespace

void forwardDctSse2Portable(std::int16_t* block) {
    for (int column = 0; column < 8; ++column) {
        columnPass(block + column);
    }
    for (int row = 0; row < 8; ++row) {
        rowPass(block + 8 * row, kWeights[kWeightTableOfRow[row]]);
    }
}
