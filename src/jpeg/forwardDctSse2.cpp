// SSE2 version of the vector forward DCT: the column pass works on all eight columns at once,
// the row pass forms each row's eight outputs with four multiply-adds.
#include "jpeg/blockTransform.h"

#if defined(__SSE2__)

#include "jpeg/forwardDctSse2Passes.h"

using namespace sse2_dct;

void forwardDctSse2(std::int16_t* block) {
    __m128i y[8];
    columnPass(block, y);
    // Row pass, one row per step with the weight table of that row.
    __m128i* rows = reinterpret_cast<__m128i*>(block);
    for (int r = 0; r < 8; ++r) {
        _mm_storeu_si128(rows + r, rowPass(y[r], kRowWeights.v[kWeightTableOfRow[r]]));
    }
}

#endif
