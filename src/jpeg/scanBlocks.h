// What the scan coders share: the block jobs of one MCU and the fetch of a band of rows.
#pragma once

#include "jpeg/jpegEncoderState.h"
#include "jpeg/scanEncoder.h"

#include <cstdint>

struct BlockJob {
    std::int16_t* block;
    const HuffmanCodeTable* dcTable;
    const HuffmanCodeTable* acTable;
    const std::uint16_t* reciprocals;
    std::int16_t* dcPredictor;
    int component; // index into the scan's components
};

// The block jobs of one MCU, with every table looked up before any MCU is coded, on the
// state's MCU block buffer and the scan's predictors (set to 0 unless `resumed`). The number
// of jobs, or a negative status.
int planBlocks(JpegEncoderState& state, JpegScanRecord& scan, bool resumed, BlockJob* jobs);

// Asks the state's row source, for `lane`, for the rows of MCU row `row` and points the
// state's source at them. False when the source cannot produce them.
bool fetchBand(JpegEncoderState& state, std::int32_t row, int lane);

// Quantises and codes the blocks of one MCU into `stream`: 0 or the first failure.
inline int quantizeAndCode(const RoutineTable& routines, OutputStream* stream, const BlockJob* jobs,
                           int blockCount) {
    for (int b = 0; b < blockCount; ++b) {
        const BlockJob& job = jobs[b];
        routines.quantizeBlock(job.block, job.reciprocals);
        const int result =
            routines.encodeBlock(stream, job.dcTable, job.acTable, job.dcPredictor, job.block);
        if (result != 0) {
            return result;
        }
    }
    return 0;
}
