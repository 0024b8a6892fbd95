// MCU fetch: reads the source pixels of one MCU, converts them to level-shifted Y, Cb and Cr
// and lays them out as 8x8 blocks in the MCU block buffer of the encoder state.
#pragma once

#include <cstdint>

struct JpegEncoderState;

// Source of 4 bytes per pixel (red, green, blue, ignored), three components at full
// resolution: one 8x8 MCU of three blocks (Y, Cb, Cr). Edge MCUs repeat the last valid column
// and row. Both versions give identical blocks.
void fetchMcuRgbxPlain(JpegEncoderState* state, std::int32_t column, std::int32_t row);
#if defined(__SSE2__)
void fetchMcuRgbxSse2(JpegEncoderState* state, std::int32_t column, std::int32_t row);
#endif

// Whether the fetch routines can read the state's source layout for its component layout.
// 0; JPEG_ERR_NOT_SUPPORTED for other layouts; JPEG_ERR_COMPONENTS for a component count
// outside 1..255 with colour conversion and subsampling.
int checkFetchLayout(const JpegEncoderState& state);
