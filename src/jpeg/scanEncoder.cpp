// The MCU loop of a baseline scan.
#include "jpeg/scanEncoder.h"

#include "jpeg/chunkedScan.h"
#include "jpeg/jpegStatus.h"
#include "jpeg/scanBlocks.h"

namespace {

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
        if (state.rowSource != nullptr && !fetchBand(state, row, 0)) {
            return JPEG_ERR_FILE;
        }
        for (std::int32_t column = firstColumn; column < mcusPerRow; ++column) {
            routines.fetchMcu(&state, column, row);
            for (int b = 0; b < blockCount; ++b) {
                routines.forwardDct(jobs[b].block);
            }
            if (const int result = quantizeAndCode(routines, stream, jobs, blockCount);
                result != JPEG_SUCCESS) {
                return result;
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
    if (!resumed && canCodeInParts(state)) {
        return encodeScanInParts(state, scan);
    }
    return state.restartInterval > 0 ? runScan<true>(state, scan, resumed)
                                     : runScan<false>(state, scan, resumed);
}
