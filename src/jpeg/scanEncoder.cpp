// The MCU loop of a baseline scan.
#include "jpeg/scanEncoder.h"

#include "jpeg/jpegRowSource.h"
#include "jpeg/jpegStatus.h"

#include <algorithm>
#include <cstdlib>

namespace {

struct BlockJob {
    std::int16_t* block;
    const HuffmanCodeTable* dcTable;
    const HuffmanCodeTable* acTable;
    const std::uint16_t* reciprocals;
    std::int16_t* dcPredictor;
};

// The block jobs of one MCU, with every table looked up before any MCU is coded. The number
// of jobs, or a negative status.
int planBlocks(JpegEncoderState& state, JpegScanRecord& scan, bool resumed, BlockJob* jobs) {
    const int componentCount = scan.componentCount;
    if (componentCount < 1 || componentCount > kJpegMaxComponents) {
        return JPEG_ERR_NOT_SUPPORTED;
    }
    int blockCount = 0;
    for (int i = 0; i < componentCount; ++i) {
        JpegScanComponent& component = scan.components[i];
        if (!resumed) {
            component.dcPredictor = 0;
        }
        const int dcNumber = state.dcTableNumbers[i];
        const int acNumber = state.acTableNumbers[i];
        const HuffmanCodeTable* dcTable = dcNumber < 4 ? state.dcTables[dcNumber] : nullptr;
        const HuffmanCodeTable* acTable = acNumber < 4 ? state.acTables[acNumber] : nullptr;
        if (dcTable == nullptr || acTable == nullptr) {
            return JPEG_ERR_NO_HUFFMAN_TABLE;
        }
        const int quantNumber = state.components[i].quantTable;
        const std::uint16_t* reciprocals =
            quantNumber >= 0 && quantNumber < 4 ? state.quantTables[quantNumber] : nullptr;
        if (reciprocals == nullptr) {
            return JPEG_ERR_NO_QUANT_TABLE;
        }
        const int blocks = component.h * component.v;
        for (int b = 0; b < blocks; ++b) {
            if (blockCount == kJpegMaxBlocksPerMcu) {
                return JPEG_ERR_NOT_SUPPORTED;
            }
            jobs[blockCount] = {state.mcuBlocks + 64 * blockCount, dcTable, acTable, reciprocals,
                                &component.dcPredictor};
            ++blockCount;
        }
    }
    return blockCount;
}

// Asks the row source for the rows of MCU row `row`.
bool fetchBand(JpegEncoderState& state, std::int32_t row) {
    const std::int32_t mcuHeight = state.frameHeader.mcuHeight;
    const std::int32_t first = row * mcuHeight;
    const std::int32_t count = std::min(mcuHeight, std::abs(state.fields.inputHeight) - first);
    const std::uint8_t* band = state.rowSource->rows(first, count);
    if (band == nullptr) {
        return false;
    }
    state.sourceOrigin = band;
    state.sourceFirstRow = first;
    return true;
}

template <bool kWithRestarts>
int runScan(JpegEncoderState& state, JpegScanRecord& scan, bool resumed) {
    BlockJob jobs[kJpegMaxBlocksPerMcu];
    const int blockCount = planBlocks(state, scan, resumed, jobs);
    if (blockCount < 0) {
        return blockCount;
    }
    const RoutineTable routines = state.routines;
    OutputStream* stream = &state.stream;
    const std::int32_t mcusPerRow = state.mcusPerRow;
    const std::int32_t mcuRows = state.mcuRows;
    const std::uint32_t restartInterval = static_cast<std::uint32_t>(state.restartInterval);
    std::int32_t firstColumn = scan.nextMcuColumn;

    for (std::int32_t row = scan.nextMcuRow; row < mcuRows; ++row) {
        if (state.rowSource != nullptr && !fetchBand(state, row)) {
            return JPEG_ERR_FILE;
        }
        for (std::int32_t column = firstColumn; column < mcusPerRow; ++column) {
            routines.fetchMcu(&state, column, row);
            for (int b = 0; b < blockCount; ++b) {
                routines.forwardDct(jobs[b].block);
            }
            for (int b = 0; b < blockCount; ++b) {
                const BlockJob& job = jobs[b];
                routines.quantizeBlock(job.block, job.reciprocals);
                const int result = routines.encodeBlock(stream, job.dcTable, job.acTable,
                                                        job.dcPredictor, job.block);
                if (result != JPEG_SUCCESS) {
                    return result;
                }
            }
            if constexpr (kWithRestarts) {
                ++scan.mcuCounter;
                const bool lastMcu = row == mcuRows - 1 && column == mcusPerRow - 1;
                if (scan.mcuCounter % restartInterval == 0 && !lastMcu) {
                    const int marker =
                        static_cast<int>((scan.mcuCounter / restartInterval - 1) % 8);
                    const int result = writeRestartMarker(marker, stream, routines.writeBytes);
                    if (result != JPEG_SUCCESS) {
                        return result;
                    }
                    if (marker == 7) {
                        scan.mcuCounter = 0;
                    }
                    for (int i = 0; i < scan.componentCount; ++i) {
                        scan.components[i].dcPredictor = 0;
                    }
                }
            }
            if (state.interruptFlag != 0) {
                scan.lastMcuColumn = column;
                scan.lastMcuRow = row;
                scan.nextMcuColumn = (column + 1) % mcusPerRow;
                scan.nextMcuRow = scan.nextMcuColumn == 0 ? row + 1 : row;
                return JPEG_INTERRUPT_SUCCESS;
            }
        }
        firstColumn = 0;
    }
    return JPEG_SUCCESS;
}

} // namespace

int encodeBaselineScan(JpegEncoderState& state, JpegScanRecord& scan, bool resumed) {
    return state.restartInterval > 0 ? runScan<true>(state, scan, resumed)
                                     : runScan<false>(state, scan, resumed);
}
