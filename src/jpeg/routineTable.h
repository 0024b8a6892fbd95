// The routine table: one routine per stage of the encoder, taken from the routine set of the
// processor class when the record is initialised. The encoder reaches every stage through it.
#pragma once

#include "jpeg/blockTransform.h"
#include "jpeg/outputStream.h"

#include <cstdint>

struct ScanCoderState;

// Fills the coder's MCU block buffer for MCU (column, row) from its source pixels.
using FetchMcuFn = void (*)(ScanCoderState* coder, std::int32_t column, std::int32_t row);

struct RoutineTable {
    FetchMcuFn fetchMcu = nullptr; // the one for the image's layout (selectFetchRoutine)
    ForwardDctFn forwardDct = nullptr;
    QuantizeBlockFn quantizeBlock = nullptr;
    EncodeBlockFn encodeBlock = nullptr;
    StartOutputFn startOutput = nullptr;
    WriteBytesFn writeBytes = nullptr;
    PendingBitsFn pendingBits = nullptr;
    FetchMcuFn fetchMcuRgbx = nullptr;    // 4-byte RGB to YCbCr, no subsampling
    FetchMcuFn fetchMcuLayouts = nullptr; // every other layout
};

enum class RoutineSet { Plain, Vector };

// Classes 0 to 2 use the plain routines, 3 to 6 the vector ones.
RoutineSet routineSetForClass(int processorClass);

// The routines of the class's set. The vector set uses the SSE2 routines where they are
// compiled in and their portable twins elsewhere.
RoutineTable routinesForClass(int processorClass);

// True where the SSE2 routines are compiled in (x86-64 builds).
bool haveSse2Routines();
