// Writes the marker segments around the scan.
#include "jpeg/streamWriter.h"

#include "jpeg/blockTransform.h"
#include "jpeg/jpegCodes.h"
#include "jpeg/jpegEncoderState.h"
#include "jpeg/jpegStatus.h"
#include "jpeg/markerWriter.h"
#include "jpeg/mcuFetch.h"
#include "jpeg/quantTables.h"
#include "jpeg/scanEncoder.h"

#include <memory>
#include <new>

namespace {

MarkerOutput markerOutput(JpegEncoderState& state) {
    return MarkerOutput{state.routines.writeBytes, &state.coder.stream};
}

// Scales quantisation table k into its storage; a slot without a usable table fails `out`.
void scaleTable(MarkerOutput& out, JpegEncoderState& state, int k) {
    const JpegQuantSlot& slot = state.quantSlots[k];
    if (slot.baseTable == nullptr || slot.tableNumber >= kJpegTableSlots) {
        out.fail(JPEG_ERR_BAD_QUANT_TABLE);
        return;
    }
    scaleQuantTable(state.config.fields.quality, slot.baseTable,
                    reinterpret_cast<std::int16_t*>(state.tables.quantStorage[k]));
}

// Rewrites scaled table k into the quantiser's reciprocals.
void prepareTable(JpegEncoderState& state, int k) {
    buildReciprocalTable(state.tables.quantStorage[k]);
    state.tables.quantTables[state.quantSlots[k].tableNumber] = state.tables.quantStorage[k];
}

bool quantTableCountValid(const JpegEncoderState& state) {
    return state.quantTableCount >= 0 && state.quantTableCount <= 4;
}

// Derives the DC and AC code tables of every pair in use.
void deriveHuffmanTables(MarkerOutput& out, JpegEncoderState& state) {
    if (state.huffmanPairCount < 0 || state.huffmanPairCount > 4) {
        out.fail(JPEG_ERR_BAD_HUFFMAN_TABLE);
        return;
    }
    for (int p = 0; p < state.huffmanPairCount; ++p) {
        for (int which = 0; which < 2; ++which) {
            const JpegHuffmanSlot& slot = state.huffmanSlots[2 * p + which];
            HuffmanCodeTable* table = &state.tables.huffmanTables[2 * p + which];
            if (slot.bits == nullptr || slot.huffval == nullptr ||
                slot.tableNumber >= kJpegTableSlots ||
                buildHuffmanCodeTable(slot.bits, slot.huffval, table) != JPEG_SUCCESS) {
                out.fail(JPEG_ERR_BAD_HUFFMAN_TABLE);
                return;
            }
            (which == 0 ? state.tables.dcTables : state.tables.acTables)[slot.tableNumber] = table;
        }
    }
}

// DQT segments (preparing each quantisation table after writing it) and the DHT segment
// (deriving the Huffman code tables after writing it).
void writeTables(MarkerOutput& out, JpegEncoderState& state) {
    if (!quantTableCountValid(state)) {
        out.fail(JPEG_ERR_BAD_QUANT_TABLE);
    }
    for (int k = 0; out.ok() && k < state.quantTableCount; ++k) {
        scaleTable(out, state, k);
        writeDqt(out, 0, state.quantSlots[k].tableNumber,
                 reinterpret_cast<const std::int16_t*>(state.tables.quantStorage[k]));
        if (out.ok()) {
            prepareTable(state, k);
        }
    }
    writeDht(out, state);
    if (out.ok()) {
        deriveHuffmanTables(out, state);
    }
}

// The tables of a scan request, unwritten: those an earlier write prepared are kept.
void prepareTables(MarkerOutput& out, JpegEncoderState& state) {
    if (!quantTableCountValid(state)) {
        out.fail(JPEG_ERR_BAD_QUANT_TABLE);
    }
    for (int k = 0; out.ok() && k < state.quantTableCount; ++k) {
        const int number = state.quantSlots[k].tableNumber;
        if (number < kJpegTableSlots && state.tables.quantTables[number] != nullptr) {
            continue;
        }
        scaleTable(out, state, k);
        if (out.ok()) {
            prepareTable(state, k);
        }
    }
    if (out.ok()) {
        deriveHuffmanTables(out, state);
    }
}

void writeApplicationSegment(MarkerOutput& out, const JpegEncoderState& state) {
    const std::int32_t color = state.config.fields.outputColor;
    if (color == JPEG_COLOR_RGB || color == JPEG_COLOR_FOUR_CHANNEL) {
        writeApp14(out, state, 0);
    } else if (color == JPEG_COLOR_YCC_FOUR_CHANNEL) {
        writeApp14(out, state, 2);
    } else {
        writeApp0(out, state);
    }
}

} // namespace

int writeStreamHeader(JpegEncoderState& state) {
    state.routines.startOutput(&state.coder.stream, state.config.fields.outputBuffer,
                               state.config.fields.outputBufferSize);
    MarkerOutput out = markerOutput(state);
    writeSoi(out);
    const int request = state.requestCode;
    if (writesTableSegments(request)) {
        writeApplicationSegment(out, state);
        writeCom(out, state);
        writeTables(out, state);
    } else if (out.ok()) {
        prepareTables(out, state);
    }
    if (isTablesRequest(request)) {
        writeEoi(out);
    }
    if (spillsBuffer(&state.coder.stream)) {
        out.flush();
    }
    return out.status();
}

int writeFrameAndScan(JpegEncoderState& state) {
    MarkerOutput out = markerOutput(state);
    std::unique_ptr<JpegScanRecord> scan(state.suspendedScan);
    state.suspendedScan = nullptr;
    const bool resumed = scan != nullptr;

    if (!resumed) {
        scan.reset(new (std::nothrow) JpegScanRecord);
        if (scan == nullptr) {
            return JPEG_ERR_MEMORY;
        }
        const int count = state.config.frameHeader.componentCount;
        scan->componentCount = count;
        for (int i = 0; i < count; ++i) {
            scan->components[i] = {i, state.config.components[i].h, state.config.components[i].v};
        }
        writeSof0(out, state.config.frameHeader, state.config.components);
        if (state.config.restartInterval != 0) {
            writeDri(out, state.config.restartInterval);
        }
        writeSos(out, count, state.config.dcTableNumbers, state.config.acTableNumbers);
        out.flush();
        if (out.ok()) {
            out.fail(selectFetchRoutine(state));
        }
        if (!out.ok()) {
            return out.status();
        }
    }

    const int result = encodeBaselineScan(state, *scan, resumed);
    if (result == JPEG_INTERRUPT_SUCCESS || result == JPEG_ROI_SUCCESS) {
        state.interruptFlag = 0;
        state.suspendedScan = scan.release();
        return result;
    }
    if (result != JPEG_SUCCESS) {
        return result;
    }
    scan.reset();
    writeEoi(out);
    out.flush();
    return out.status();
}
