#include "jpeg/scanBlocks.h"

#include "jpeg/jpegRowSource.h"

#include <algorithm>
#include <cstdlib>

int planBlocks(const EncoderConfig& config, const EncoderTables& tables, const JpegScanRecord& scan,
               ScanCoderState& coder, bool resumed, BlockJob* jobs) {
    const int componentCount = scan.componentCount;
    int blockCount = 0;
    for (int i = 0; i < componentCount; ++i) {
        const JpegScanComponent& component = scan.components[i];
        if (!resumed) {
            coder.dcPredictors[i] = 0;
        }
        const int dcNumber = config.dcTableNumbers[i];
        const int acNumber = config.acTableNumbers[i];
        const HuffmanCodeTable* dcTable =
            dcNumber < kJpegTableSlots ? tables.dcTables[dcNumber] : nullptr;
        const HuffmanCodeTable* acTable =
            acNumber < kJpegTableSlots ? tables.acTables[acNumber] : nullptr;
        if (dcTable == nullptr || acTable == nullptr) {
            return JPEG_ERR_NO_HUFFMAN_TABLE;
        }
        const int quantNumber = config.components[i].quantTable;
        const std::uint16_t* reciprocals = quantNumber >= 0 && quantNumber < kJpegTableSlots
                                               ? tables.quantTables[quantNumber]
                                               : nullptr;
        if (reciprocals == nullptr) {
            return JPEG_ERR_NO_QUANT_TABLE;
        }
        const int blocks = component.h * component.v;
        for (int b = 0; b < blocks; ++b) {
            if (blockCount == kJpegMaxBlocksPerMcu) {
                return JPEG_ERR_NOT_SUPPORTED;
            }
            jobs[blockCount] = {coder.mcuBlocks + 64 * blockCount,
                                dcTable,
                                acTable,
                                reciprocals,
                                &coder.dcPredictors[i],
                                i};
            ++blockCount;
        }
    }
    return blockCount;
}

bool fetchBand(ScanCoderState& coder, std::int32_t row) {
    const EncoderConfig& config = *coder.config;
    const std::int32_t mcuHeight = config.frameHeader.mcuHeight;
    const std::int32_t first = row * mcuHeight;
    const std::int32_t count = std::min(mcuHeight, std::abs(config.fields.inputHeight) - first);
    const std::uint8_t* band = coder.rowSource->rows(coder.lane, first, count);
    if (band == nullptr) {
        return false;
    }
    coder.sourceOrigin = band;
    coder.sourceFirstRow = first;
    return true;
}
