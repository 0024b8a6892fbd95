// What the scan coders share: the block jobs of one MCU, the fetch of a band of rows and the
// loop over the MCUs of a scan.
#pragma once

#include "jpeg/jpegEncoderState.h"
#include "jpeg/jpegStatus.h"
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
// coder's MCU block buffer and DC predictors (set to 0 unless `resumed`). The number of jobs,
// or a negative status.
int planBlocks(const EncoderConfig& config, const EncoderTables& tables, const JpegScanRecord& scan,
               ScanCoderState& coder, bool resumed, BlockJob* jobs);

// Asks the coder's row source, on its lane, for the rows of MCU row `row` and points the
// coder's source at them. False when the source cannot produce them.
bool fetchBand(ScanCoderState& coder, std::int32_t row);

// Quantises and codes the blocks of one MCU into `stream`: 0 or the first failure.
inline int quantizeAndCode(const RoutineTable& routines, OutputStream* stream, const BlockJob* jobs,
                           int blockCount) {
    for (int b = 0; b < blockCount; ++b) {
        const BlockJob& job = jobs[b];
        int result;
        if (routines.quantizeEncodeBlock != nullptr) {
            result = routines.quantizeEncodeBlock(stream, job.dcTable, job.acTable, job.dcPredictor,
                                                  job.block, job.reciprocals);
        } else {
            routines.quantizeBlock(job.block, job.reciprocals);
            result =
                routines.encodeBlock(stream, job.dcTable, job.acTable, job.dcPredictor, job.block);
        }
        if (result != 0) {
            return result;
        }
    }
    return 0;
}

// The MCU loop of every scan coder: from MCU (firstColumn, firstRow) to the end of MCU row
// endRow - 1, fetches each MCU (asking the row source for each band first, where there is
// one), transforms its blocks and hands it to `codeMcu(row, column)`. Stops at the first
// status other than 0 that fetching or `codeMcu` gives, and returns it.
template <class CodeMcu>
inline int forEachMcu(ScanCoderState& coder, const RoutineTable& routines, const BlockJob* jobs,
                      int blockCount, std::int32_t firstRow, std::int32_t firstColumn,
                      std::int32_t endRow, CodeMcu&& codeMcu) {
    const std::int32_t mcusPerRow = coder.config->mcusPerRow;
    for (std::int32_t row = firstRow; row < endRow; ++row) {
        if (coder.rowSource != nullptr && !fetchBand(coder, row)) {
            return JPEG_ERR_FILE;
        }
        for (std::int32_t column = firstColumn; column < mcusPerRow; ++column) {
            routines.fetchMcu(&coder, column, row);
            for (int b = 0; b < blockCount; ++b) {
                routines.forwardDct(jobs[b].block);
            }
            if (const int result = codeMcu(row, column); result != JPEG_SUCCESS) {
                return result;
            }
        }
        firstColumn = 0;
    }
    return JPEG_SUCCESS;
}
