// MCU fetch: reads the source pixels of one MCU, converts them to level-shifted Y, Cb and Cr
// and lays them out as 8x8 blocks in the MCU block buffer of the encoder state.
#pragma once

#include <cstdint>

struct JpegEncoderState;
struct RoutineTable;

// Source of 4 bytes per pixel (red, green, blue, ignored), three components at full
// resolution: one 8x8 MCU of three blocks (Y, Cb, Cr). Edge MCUs repeat the last valid column
// and row. Both versions give identical blocks.
void fetchMcuRgbxPlain(JpegEncoderState* state, std::int32_t column, std::int32_t row);
void fetchMcuRgbxSse2(JpegEncoderState* state, std::int32_t column, std::int32_t row);

// True where fetchMcuRgbxSse2 is compiled in.
bool haveSse2FetchRoutines();

// Puts the fetch routine for the state's source layout and component layout into
// table.fetchMcu. 0; -12 for layouts without a fetch routine; -14 for a component count
// outside 1..255 with colour conversion and subsampling.
int selectFetchRoutine(const JpegEncoderState& state, RoutineTable& table);
