// Portable twin of the SSE2 quantiser, lane by lane: the coefficient is scaled by 8 in 16
// bits and multiplied (high half) by half the reciprocal, which drops its lowest bit.
#include "jpeg/blockTransform.h"

#include <cstdint>

void quantizeBlockSse2Portable(std::int16_t* block, const std::uint16_t* reciprocals) {
    for (int n = 0; n < 64; ++n) {
        const auto a = static_cast<std::int16_t>(static_cast<std::uint16_t>(block[n]) << 3);
        const auto h = static_cast<std::int16_t>(reciprocals[n] >> 1);
        const auto high = static_cast<std::int16_t>((std::int32_t{a} * h) >> 16);
        block[n] = static_cast<std::int16_t>(static_cast<std::int16_t>(high + 1) >> 1);
    }
}
