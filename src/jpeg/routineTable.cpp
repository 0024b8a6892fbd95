// Fills the routine table from the processor class.
#include "jpeg/routineTable.h"

#include "jpeg/mcuFetch.h"

namespace {

// The routines keep no processor state that needs clearing afterwards.
void endOfOperationNothing() {}

} // namespace

RoutineSet routineSetForClass(int processorClass) {
    return processorClass >= 3 && processorClass <= 6 ? RoutineSet::Vector : RoutineSet::Plain;
}

void fillRoutineTable(RoutineTable& table, int processorClass) {
    table = RoutineTable{};
    table.endOfOperation = endOfOperationNothing;
    if (routineSetForClass(processorClass) == RoutineSet::Plain) {
        table.forwardDctMethod1 = forwardDctPlain;
        table.quantizeBlockMethod1 = quantizeBlockPlain;
        table.startOutput = startOutputPlain;
        table.writeBytes = writeBytesPlain;
        table.encodeBlock = encodeBlockPlain;
        table.fetchMcuRgbx = fetchMcuRgbxPlain;
    } else {
        const bool sse2 = haveSse2Routines();
        table.forwardDctMethod1 = sse2 ? forwardDctSse2 : forwardDctVector;
        table.quantizeBlockMethod1 = sse2 ? quantizeBlockSse2 : quantizeBlockVector;
        table.startOutput = startOutputVector;
        table.writeBytes = writeBytesVector;
        table.encodeBlock = encodeBlockVector;
        table.fetchMcuRgbx = haveSse2FetchRoutines() ? fetchMcuRgbxSse2 : fetchMcuRgbxPlain;
    }
    // Method 0 has no transform of its own here; it uses the method-1 routines.
    table.forwardDctMethod0 = table.forwardDctMethod1;
    table.quantizeBlockMethod0 = table.quantizeBlockMethod1;
    table.quantizeBlock = table.quantizeBlockMethod0;
}

void selectTransformRoutines(RoutineTable& table, int dctMethod) {
    table.forwardDct = dctMethod == 0 ? table.forwardDctMethod0 : table.forwardDctMethod1;
    table.quantizeBlock = dctMethod == 0 ? table.quantizeBlockMethod0 : table.quantizeBlockMethod1;
}
