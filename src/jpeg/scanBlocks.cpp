#include "jpeg/scanBlocks.h"

#include "jpeg/jpegRowSource.h"
#include "jpeg/jpegStatus.h"

#include <algorithm>
#include <cstdlib>

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
            jobs[blockCount] = {state.mcuBlocks + 64 * blockCount,
                                dcTable,
                                acTable,
                                reciprocals,
                                &component.dcPredictor,
                                i};
            ++blockCount;
        }
    }
    return blockCount;
}

bool fetchBand(JpegEncoderState& state, std::int32_t row, int lane) {
    const std::int32_t mcuHeight = state.frameHeader.mcuHeight;
    const std::int32_t first = row * mcuHeight;
    const std::int32_t count = std::min(mcuHeight, std::abs(state.fields.inputHeight) - first);
    const std::uint8_t* band = state.rowSource->rows(lane, first, count);
    if (band == nullptr) {
        return false;
    }
    state.sourceOrigin = band;
    state.sourceFirstRow = first;
    return true;
}
