// The routine table: one routine per stage of the encoder, taken from the routine set of the
// processor class when the record is initialised. The encoder reaches every stage through it.
#pragma once

#include "jpeg/blockTransform.h"
#include "jpeg/outputStream.h"
#include "util/vectorLimit.h"

#include <cstdint>
#include <optional>

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
    // quantizeBlock and encodeBlock in one pass, in the sets that have such a form. Null
    // where the set has none: the encoder then calls the two one after the other.
    QuantizeEncodeBlockFn quantizeEncodeBlock = nullptr;
};

// Puts `dct` and `quantize` into the table in place of its own and drops the fused form that
// contains the replaced quantiser (for tests and fuzzing that isolate the other stages).
void replaceTransforms(RoutineTable& table, ForwardDctFn dct, QuantizeBlockFn quantize);

// The kernel sets a routine table is filled with: the plain routines, and the vector routines
// in four forms with the same results: the SSE2 arithmetic computed lane by lane in portable
// code, SSE2, and SSE2 with the AVX2 or the AVX-512 kernels where there are such. The vector
// sets are listed from the narrowest to the widest.
enum class KernelSet { Plain, VectorPortable, Sse2, Avx2, Avx512 };

// Environment variable that names the widest vector set the vector classes may take
// (util/vectorLimit.h). It does not choose between the plain and the vector routines.
constexpr const char* kKernelSetVariable = kVectorLimitVariable;

// True when this build and this processor can run the set.
bool kernelSetAvailable(KernelSet set);

// The vector set a value of kKernelSetVariable names; nothing for an absent value, the plain
// set's name or any other text.
std::optional<KernelSet> parseKernelSetLimit(const char* text);

// The set of a processor class: the plain one for classes 0 to 2, the widest available vector
// set for 3 to 6, no wider than `limit` when there is one.
KernelSet kernelSetForClass(int processorClass, std::optional<KernelSet> limit);

// The same with the limit that kKernelSetVariable gives.
KernelSet kernelSetForClass(int processorClass);

// The routines of the set; nothing when the set is not available here. Every routine table is
// filled here.
std::optional<RoutineTable> routinesForSet(KernelSet set);

// The routines of the class's set (with the environment's limit).
RoutineTable routinesForClass(int processorClass);
