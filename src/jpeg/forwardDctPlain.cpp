// Integer forward DCT: a row pass that keeps a factor 8 and a column pass that removes it.
// The arithmetic is 32-bit with wrap-around, as the reference integer routine computes it;
// the sums are formed in 64 bits and cut to 32 so that out-of-range input stays defined.
#include "jpeg/blockTransform.h"

#include <cstdint>

namespace {

inline std::int32_t wrap32(std::int64_t v) {
    return static_cast<std::int32_t>(v);
}

inline std::int16_t low16(std::int32_t v) {
    return static_cast<std::int16_t>(v);
}

// Rounds v / 2^shift, with v cut to 32 bits first.
inline std::int32_t descale(std::int64_t v, int shift) {
    return wrap32(v + (std::int64_t{1} << (shift - 1))) >> shift;
}

// One 8-point transform over data[0], data[stride], ... data[7 * stride].
// Outputs 1, 2, 3, 5, 6, 7 use `shift`; outputs 0 and 4 are handled by the caller's flavour.
template <bool kRowPass> inline void transform8(std::int16_t* data, int stride) {
    const std::int64_t x0 = data[0 * stride], x1 = data[1 * stride], x2 = data[2 * stride],
                       x3 = data[3 * stride], x4 = data[4 * stride], x5 = data[5 * stride],
                       x6 = data[6 * stride], x7 = data[7 * stride];
    const int shift = kRowPass ? 12 : 21;

    const std::int64_t l = x0 + x7, m = x3 + x4, o = x1 + x6, r = x2 + x5;
    std::int32_t out0, out4;
    if constexpr (kRowPass) {
        out0 = wrap32((l + m + o + r) * 8);
        out4 = wrap32((l + m - o - r) * 8);
    } else {
        out0 = wrap32(l + m + o + r + 32) >> 6;
        out4 = wrap32(l + m - o - r + 32) >> 6;
    }
    const std::int32_t out2 = descale((l - m) * 42813 + (o - r) * 17734, shift);
    const std::int32_t out6 = descale((l - m) * 17734 - (o - r) * 42813, shift);

    const std::int64_t t = descale((x0 - x7) * 46341, 12);
    const std::int64_t u = descale((x3 - x4) * 46341, 12);
    const std::int64_t v = wrap32(8 * (x1 + x2 - x5 - x6));
    const std::int64_t a = wrap32(8 * (x1 + x5 - x2 - x6));
    const std::int64_t w = wrap32(t + v);
    const std::int64_t b = wrap32(u + a);
    const std::int32_t out1 = descale(w * 4017 + b * 799, shift);
    const std::int32_t out7 = descale(w * 799 - b * 4017, shift);

    const std::int64_t tm = wrap32(t - v);
    const std::int64_t um = wrap32(u - a);
    const std::int32_t out5 = descale(tm * 2276 + um * 3406, shift);
    const std::int32_t out3 = descale(tm * 3406 - um * 2276, shift);

    data[0 * stride] = low16(out0);
    data[1 * stride] = low16(out1);
    data[2 * stride] = low16(out2);
    data[3 * stride] = low16(out3);
    data[4 * stride] = low16(out4);
    data[5 * stride] = low16(out5);
    data[6 * stride] = low16(out6);
    data[7 * stride] = low16(out7);
}

} // namespace

void forwardDctPlain(std::int16_t* block) {
    for (int row = 0; row < 8; ++row) {
        transform8<true>(block + 8 * row, 1);
    }
    for (int column = 0; column < 8; ++column) {
        transform8<false>(block + column, 8);
    }
}
