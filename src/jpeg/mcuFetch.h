// MCU fetch: reads the source pixels of one MCU, converts them to level-shifted samples of the
// image's components (Y, Cb and Cr for colour conversion) and lays them out as 8x8 blocks in the
// MCU block buffer of a scan coder.
#pragma once

#include "util/simdTargets.h"

#include <cstdint>

struct JpegEncoderState;
struct ScanCoderState;

// Source of 4 bytes per pixel (red, green, blue, ignored), three components at full
// resolution: one 8x8 MCU of three blocks (Y, Cb, Cr). Edge MCUs repeat the last valid column
// and row. Both versions give identical blocks.
void fetchMcuRgbxPlain(ScanCoderState* coder, std::int32_t column, std::int32_t row);
#if defined(__SSE2__)
void fetchMcuRgbxSse2(ScanCoderState* coder, std::int32_t column, std::int32_t row);
#endif
#if defined(QMJPEG_AVX2_ROUTINES)
// The same with the AVX2 conversion; the processor must have AVX2.
void fetchMcuRgbxAvx2(ScanCoderState* coder, std::int32_t column, std::int32_t row);
#endif

// Every other layout the validation accepts, as the state's fetchLayout describes it: gray,
// 3-byte RGB and BGR, YCbCr, four-component and other sources; one to four components,
// converted to YCbCr or luminance or kept as they are; 16x8 and 16x16 MCUs with the luminance
// (and fourth) component at full resolution and each other sample the rounded mean of its 2x1
// or 2x2 cell. Edge MCUs repeat the last valid column and row before the means are taken.
void fetchMcuLayoutsPlain(ScanCoderState* coder, std::int32_t column, std::int32_t row);
#if defined(__SSE2__)
// The same blocks; the conversions to YCbCr through the SSE2 RGB conversion, the other
// layouts through the plain routine.
void fetchMcuLayoutsSse2(ScanCoderState* coder, std::int32_t column, std::int32_t row);
#endif

struct FetchLayout;
// How fetchMcuLayoutsPlain reads the state's source for its components.
FetchLayout describeFetchLayout(const JpegEncoderState& state);

// Puts the fetch routine for the state's layout into its routine table: the 4-byte RGB routine
// of the routine set for its layout, the routine for the other layouts otherwise. 0, or
// JPEG_ERR_COMPONENTS for a component count outside 1..255 with colour conversion and
// subsampling.
int selectFetchRoutine(JpegEncoderState& state);
