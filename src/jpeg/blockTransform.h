// Forward DCT and quantisation of one 8x8 block of signed 16-bit values, in place, natural
// (row-major) order. Plain and vector variants differ in the last bit for a small share of
// coefficients; the portable vector variant and the SSE2 one give identical results.
#pragma once

#include <cstdint>

using ForwardDctFn = void (*)(std::int16_t* block);
using QuantizeBlockFn = void (*)(std::int16_t* block, const std::uint16_t* reciprocals);

// Converts 64 quantiser steps (1..255, zig-zag order) in place into 2^15 / step reciprocals
// in natural order.
void buildReciprocalTable(std::uint16_t* table);

void forwardDctPlain(std::int16_t* block);
void forwardDctVector(std::int16_t* block); // portable lane-by-lane version of the vector DCT
void forwardDctSse2(std::int16_t* block);   // x86-64 only; block 16-byte aligned

void quantizeBlockPlain(std::int16_t* block, const std::uint16_t* reciprocals);
void quantizeBlockVector(std::int16_t* block, const std::uint16_t* reciprocals);
void quantizeBlockSse2(std::int16_t* block, const std::uint16_t* reciprocals);

// True where the SSE2 routines are compiled in (x86-64 builds).
bool haveSse2Routines();
