// The per-record table of processor-specific routines. Filled once per jpegInitialize from
// the processor class; the encoder's loops reach every block routine through it.
#pragma once

#include "jpeg/blockTransform.h"
#include "jpeg/outputStream.h"

#include <cstdint>

struct JpegEncoderState;

// Fills the MCU block buffer for MCU (column, row) from the source pixels.
using FetchMcuFn = void (*)(JpegEncoderState* state, std::int32_t column, std::int32_t row);
using EndOfOperationFn = void (*)();

struct RoutineTable {
    EndOfOperationFn endOfOperation = nullptr;
    ForwardDctFn forwardDctMethod0 = nullptr;
    ForwardDctFn forwardDctMethod1 = nullptr;
    ForwardDctFn forwardDct = nullptr; // active; follows dctMethod
    StartOutputFn startOutput = nullptr;
    WriteBytesFn writeBytes = nullptr;
    FetchMcuFn fetchMcu = nullptr;     // chosen per image
    FetchMcuFn fetchMcuRgbx = nullptr; // 4-byte RGB source, 3 components, no subsampling
    EncodeBlockFn encodeBlock = nullptr;
    QuantizeBlockFn quantizeBlockMethod0 = nullptr;
    QuantizeBlockFn quantizeBlockMethod1 = nullptr;
    QuantizeBlockFn quantizeBlock = nullptr; // active; follows dctMethod
};

enum class RoutineSet { Plain, Vector };

// Classes 0 to 2 use the plain routines, 3 to 6 the vector ones.
RoutineSet routineSetForClass(int processorClass);

// Fills every slot from the set of the class. Leaves fetchMcu and the active forwardDct empty
// and presets the active quantizeBlock to the method-0 one.
void fillRoutineTable(RoutineTable& table, int processorClass);

// Makes the active transform slots follow the DCT method (0 or 1).
void selectTransformRoutines(RoutineTable& table, int dctMethod);
