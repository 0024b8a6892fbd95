// Writes the marker segments around the scan.
#include "jpeg/streamWriter.h"

#include "jpeg/blockTransform.h"
#include "jpeg/jpegEncoder.h"
#include "jpeg/markerWriter.h"
#include "jpeg/mcuFetch.h"
#include "jpeg/quantTables.h"
#include "jpeg/routineTable.h"
#include "jpeg/scanEncoder.h"

#include <memory>
#include <new>

namespace {

MarkerOutput markerOutput(JpegEncoderState& state) {
    return MarkerOutput{state.routines->writeBytes, &state.stream};
}

// Scales quantisation table k into its storage. 0 or -7 for a slot without a usable table.
int scaleTable(JpegEncoderState& state, int k) {
    const JpegQuantSlot& slot = state.quantSlots[k];
    if (slot.baseTable == nullptr || slot.tableNumber > 3) {
        return JPEG_ERR_BAD_QUANT_TABLE;
    }
    scaleQuantTable(state.quality, slot.baseTable,
                    reinterpret_cast<std::int16_t*>(state.quantStorage[k]));
    return JPEG_SUCCESS;
}

// Rewrites scaled table k into the quantiser's reciprocals for the DCT method.
int prepareTable(JpegEncoderState& state, int k) {
    if (state.dctMethod != 0 && state.dctMethod != 1) {
        return JPEG_ERR_PROPERTIES;
    }
    buildReciprocalTable(state.quantStorage[k]);
    state.quantTables[state.quantSlots[k].tableNumber] = state.quantStorage[k];
    return JPEG_SUCCESS;
}

int checkQuantTableCount(const JpegEncoderState& state) {
    return state.quantTableCount < 0 || state.quantTableCount > 4 ? JPEG_ERR_BAD_QUANT_TABLE
                                                                  : JPEG_SUCCESS;
}

// Derives the DC and AC code tables of every pair in use.
int deriveHuffmanTables(JpegEncoderState& state) {
    if (state.huffmanPairCount < 0 || state.huffmanPairCount > 4) {
        return JPEG_ERR_BAD_HUFFMAN_TABLE;
    }
    for (int p = 0; p < state.huffmanPairCount; ++p) {
        for (int which = 0; which < 2; ++which) {
            const JpegHuffmanSlot& slot = state.huffmanSlots[2 * p + which];
            if (slot.bits == nullptr || slot.huffval == nullptr || slot.tableNumber > 3) {
                return JPEG_ERR_BAD_HUFFMAN_TABLE;
            }
            HuffmanCodeTable* table = &state.huffmanTables[2 * p + which];
            if (buildHuffmanCodeTable(slot.bits, slot.huffval, table) != 0) {
                return JPEG_ERR_BAD_HUFFMAN_TABLE;
            }
            (which == 0 ? state.dcTables : state.acTables)[slot.tableNumber] = table;
        }
    }
    return JPEG_SUCCESS;
}

bool writesTables(int request) {
    return request >= 8 && request <= 11;
}
bool writesTablesOnly(int request) {
    return request == 10 || request == 11;
}

} // namespace

int writeTables(JpegEncoderState& state) {
    const MarkerOutput out = markerOutput(state);
    if (const int result = checkQuantTableCount(state); result != 0) {
        return result;
    }
    for (int k = 0; k < state.quantTableCount; ++k) {
        if (const int result = scaleTable(state, k); result != 0) {
            return result;
        }
        const int written = writeDqt(out, 0, state.quantSlots[k].tableNumber,
                                     reinterpret_cast<const std::int16_t*>(state.quantStorage[k]));
        if (written != 0) {
            return written;
        }
        if (const int result = prepareTable(state, k); result != 0) {
            return result;
        }
    }
    if (state.progressive == 0) {
        if (const int result = writeDht(out, state); result != 0) {
            return result;
        }
        if (const int result = deriveHuffmanTables(state); result != 0) {
            return result;
        }
    }
    return JPEG_SUCCESS;
}

int writeStreamHeader(JpegEncoderState& state) {
    RoutineTable& routines = *state.routines;
    const MarkerOutput out = markerOutput(state);
    routines.startOutput(&state.stream, state.outputBuffer, state.outputBufferSize);
    if (const int result = writeSoi(out); result != 0) {
        return result;
    }
    const int request = state.requestCode;
    if (writesTables(request)) {
        int result = 0;
        if (state.outputColor == JPEG_COLOR_RGB || state.outputColor == JPEG_COLOR_FOUR_CHANNEL) {
            result = writeApp14(out, state, 0);
        } else if (state.outputColor == JPEG_COLOR_YCC_FOUR_CHANNEL) {
            result = writeApp14(out, state, 2);
        } else {
            result = writeApp0(out, state);
        }
        if (result == 0) {
            result = writeCom(out, state);
        }
        if (result == 0) {
            result = writeTables(state);
        }
        if (result != 0) {
            return result;
        }
    } else {
        if (const int result = checkQuantTableCount(state); result != 0) {
            return result;
        }
        for (int k = 0; k < state.quantTableCount; ++k) {
            const int number = state.quantSlots[k].tableNumber;
            if (number <= 3 && state.quantTables[number] != nullptr) {
                continue; // prepared by an earlier write
            }
            if (const int result = scaleTable(state, k); result != 0) {
                return result;
            }
            if (const int result = prepareTable(state, k); result != 0) {
                return result;
            }
        }
        if (const int result = deriveHuffmanTables(state); result != 0) {
            return result;
        }
    }
    selectTransformRoutines(routines, state.dctMethod);
    if (writesTablesOnly(request)) {
        if (const int result = writeEoi(out); result != 0) {
            return result;
        }
    }
    if (state.stream.file != kNoJpegFile) {
        return flushOutput(&state.stream, routines.writeBytes);
    }
    return JPEG_SUCCESS;
}

int writeFrameAndScan(JpegEncoderState& state) {
    RoutineTable& routines = *state.routines;
    const MarkerOutput out = markerOutput(state);
    std::unique_ptr<JpegScanRecord> scan(state.suspendedScan);
    state.suspendedScan = nullptr;
    const bool resumed = scan != nullptr;

    if (!resumed) {
        scan.reset(new (std::nothrow) JpegScanRecord);
        if (scan == nullptr) {
            return JPEG_ERR_MEMORY;
        }
        const int count = state.outputChannels;
        if (count < 1 || count > kJpegMaxComponents) {
            return JPEG_ERR_NOT_SUPPORTED;
        }
        scan->componentCount = count;
        for (int i = 0; i < count; ++i) {
            scan->components[i] = {i, state.components[i].h, state.components[i].v, 0};
        }
        int result = writeSof0(out, state.frameHeader);
        if (result == 0 && state.restartInterval != 0) {
            result = writeDri(out, state.restartInterval);
        }
        if (result == 0) {
            result = writeSos(out, count, state.dcTableNumbers, state.acTableNumbers);
        }
        if (result == 0) {
            result = flushOutput(&state.stream, routines.writeBytes);
        }
        if (result == 0) {
            result = selectFetchRoutine(state, routines);
        }
        if (result != 0) {
            return result;
        }
    }

    const int result = state.restartInterval == 0
                           ? encodeBaselineScan(state, *scan, resumed)
                           : encodeBaselineScanWithRestarts(state, *scan, resumed);
    if (result == JPEG_INTERRUPT_SUCCESS || result == JPEG_ROI_SUCCESS) {
        state.interruptFlag = 0;
        state.suspendedScan = scan.release();
        return result;
    }
    if (result != 0) {
        return result;
    }
    scan.reset();
    if (const int written = writeEoi(out); written != 0) {
        return written;
    }
    return flushOutput(&state.stream, routines.writeBytes);
}
