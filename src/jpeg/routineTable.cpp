// The plain and the vector routine sets.
#include "jpeg/routineTable.h"

#include "jpeg/mcuFetch.h"

namespace {

constexpr RoutineTable kPlainRoutines = {
    fetchMcuRgbxPlain, forwardDctPlain,  quantizeBlockPlain, encodeBlockPlain,    startOutputPlain,
    writeBytesPlain,   pendingBitsPlain, fetchMcuRgbxPlain,  fetchMcuLayoutsPlain};

// The one place that asks whether the SSE2 routines exist.
#if defined(__SSE2__)
constexpr bool kHaveSse2 = true;
constexpr RoutineTable kVectorRoutines = {
    fetchMcuRgbxSse2, forwardDctSse2,    quantizeBlockSse2, encodeBlockVector,  startOutputVector,
    writeBytesVector, pendingBitsVector, fetchMcuRgbxSse2,  fetchMcuLayoutsSse2};
#else
constexpr bool kHaveSse2 = false;
constexpr RoutineTable kVectorRoutines = {
    fetchMcuRgbxPlain, forwardDctSse2Portable, quantizeBlockSse2Portable,
    encodeBlockVector, startOutputVector,      writeBytesVector,
    pendingBitsVector, fetchMcuRgbxPlain,      fetchMcuLayoutsPlain};
#endif

} // namespace

RoutineSet routineSetForClass(int processorClass) {
    return processorClass >= 3 && processorClass <= 6 ? RoutineSet::Vector : RoutineSet::Plain;
}

RoutineTable routinesForClass(int processorClass) {
    return routineSetForClass(processorClass) == RoutineSet::Plain ? kPlainRoutines
                                                                   : kVectorRoutines;
}

bool haveSse2Routines() {
    return kHaveSse2;
}
