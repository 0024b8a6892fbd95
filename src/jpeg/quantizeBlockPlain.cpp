#include "jpeg/blockTransform.h"

#include <cstdint>

// c * m / 2^15 rounded, halves towards plus infinity; m is the 2^15 / step reciprocal.
void quantizeBlockPlain(std::int16_t* block, const std::uint16_t* reciprocals) {
    for (int n = 0; n < 64; ++n) {
        const std::int32_t product = std::int32_t{block[n]} * std::int32_t{reciprocals[n]};
        block[n] = static_cast<std::int16_t>((product + 16384) >> 15);
    }
}
