#include "jpeg/blockTransform.h"
#include "jpeg/zigzag.h"

#include <cstdint>

void buildReciprocalTable(std::uint16_t* table) {
    std::uint16_t steps[64];
    for (int k = 0; k < 64; ++k) {
        steps[k] = table[k];
    }
    for (int k = 0; k < 64; ++k) {
        // A step of 0 cannot come from the quality scaling; treat it as 1 rather than divide
        // by zero. 32768 / 1 is stored as the bit pattern 0x8000 and read as unsigned.
        const std::uint32_t step = steps[k] == 0 ? 1u : steps[k];
        table[kZigzagNatural[k]] = static_cast<std::uint16_t>(32768u / step);
    }
}
