// Forward DCT and quantisation of one 8x8 block of signed 16-bit values, in place, natural
// (row-major) order. The plain routines and the SSE2 ones differ in the last bit for a small
// share of coefficients; the SSE2 routines and their portable twins give identical results.
#pragma once

#include "util/simdTargets.h"

#include <cstdint>

using ForwardDctFn = void (*)(std::int16_t* block);
using QuantizeBlockFn = void (*)(std::int16_t* block, const std::uint16_t* reciprocals);

// Converts 64 quantiser steps (1..255, zig-zag order) in place into 2^15 / step reciprocals
// in natural order.
void buildReciprocalTable(std::uint16_t* table);

void forwardDctPlain(std::int16_t* block);
void quantizeBlockPlain(std::int16_t* block, const std::uint16_t* reciprocals);

// The SSE2 arithmetic computed lane by lane, for processors without SSE2.
void forwardDctSse2Portable(std::int16_t* block);
void quantizeBlockSse2Portable(std::int16_t* block, const std::uint16_t* reciprocals);

#if defined(__SSE2__)
void forwardDctSse2(std::int16_t* block); // block 16-byte aligned
void quantizeBlockSse2(std::int16_t* block, const std::uint16_t* reciprocals);
#endif
#if defined(QMJPEG_AVX2_ROUTINES)
// The SSE2 results, with the row pass two rows at a time (needs AVX2).
void forwardDctAvx2(std::int16_t* block);
// The SSE2 results, sixteen coefficients at a time (needs AVX2).
void quantizeBlockAvx2(std::int16_t* block, const std::uint16_t* reciprocals);
#endif
#if defined(QMJPEG_AVX512_ROUTINES)
// The SSE2 results, with the row pass four rows at a time (needs AVX-512BW).
void forwardDctAvx512(std::int16_t* block);
#endif
