// The scan of one coder: every MCU from the scan record's next position on.
#include "jpeg/scanEncoder.h"

#include "jpeg/chunkedScan.h"
#include "jpeg/jpegStatus.h"
#include "jpeg/scanBlocks.h"

namespace {

template <bool kWithRestarts>
int runScan(JpegEncoderState& state, JpegScanRecord& scan, bool resumed) {
    ScanCoderState& coder = state.coder;
    BlockJob jobs[kJpegMaxBlocksPerMcu];
    const int blockCount = planBlocks(state.config, state.tables, scan, coder, resumed, jobs);
    if (blockCount < 0) {
        return blockCount;
    }
    const RoutineTable routines = state.routines;
    OutputStream* stream = &coder.stream;
    const std::int32_t mcusPerRow = state.config.mcusPerRow;
    const std::int32_t mcuRows = state.config.mcuRows;
    const std::uint32_t restartInterval = static_cast<std::uint32_t>(state.config.restartInterval);

    return forEachMcu(
        coder, routines, jobs, blockCount, scan.nextMcuRow, scan.nextMcuColumn, mcuRows,
        [&](std::int32_t row, std::int32_t column) {
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
                        coder.dcPredictors[i] = 0;
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
            return JPEG_SUCCESS;
        });
}

} // namespace

int encodeBaselineScan(JpegEncoderState& state, JpegScanRecord& scan, bool resumed) {
    if (!resumed && canCodeInParts(state)) {
        return encodeScanInParts(state, scan);
    }
    return state.config.restartInterval > 0 ? runScan<true>(state, scan, resumed)
                                            : runScan<false>(state, scan, resumed);
}
