// Installs the standard tables into the encoder state's table slots.
#include "jpeg/defaultTables.h"

#include "jpeg/defaultHuffmanTables.h"
#include "jpeg/jpegEncoderState.h"
#include "jpeg/quantTables.h"

bool callerSuppliedQuantTables(const JpegEncoderState& state) {
    if (state.callerQuantTables == 0) {
        return false;
    }
    for (const JpegQuantSlot& slot : state.quantSlots) {
        if (slot.baseTable != nullptr) {
            return true;
        }
    }
    return false;
}

bool callerSuppliedHuffmanTables(const JpegEncoderState& state) {
    if (state.callerHuffmanTables == 0) {
        return false;
    }
    for (const JpegHuffmanSlot& slot : state.huffmanSlots) {
        if (slot.bits != nullptr && slot.huffval != nullptr) {
            return true;
        }
    }
    return false;
}

void installDefaultTables(JpegEncoderState& state) {
    if (!callerSuppliedQuantTables(state)) {
        state.quantTableCount = 2;
        state.quantSlots[0] = {kLuminanceQuantBase, kLuminanceTableNumber};
        state.quantSlots[1] = {kChrominanceQuantBase, kChrominanceTableNumber};
        state.quantSlots[2] = {nullptr, 0};
        state.quantSlots[3] = {nullptr, 0};
    }
    if (!callerSuppliedHuffmanTables(state)) {
        state.huffmanPairCount = 2;
        state.huffmanSlots[0] = {kDcLuminanceBits, kDcLuminanceValues, 0, kLuminanceTableNumber};
        state.huffmanSlots[1] = {kAcLuminanceBits, kAcLuminanceValues, 1, kLuminanceTableNumber};
        state.huffmanSlots[2] = {kDcChrominanceBits, kDcChrominanceValues, 0,
                                 kChrominanceTableNumber};
        state.huffmanSlots[3] = {kAcChrominanceBits, kAcChrominanceValues, 1,
                                 kChrominanceTableNumber};
        for (int i = 4; i < 8; ++i) {
            state.huffmanSlots[i] = {nullptr, nullptr, 0, 0};
        }
        assignDefaultHuffmanTableNumbers(state.config);
    }
}

void assignDefaultHuffmanTableNumbers(EncoderConfig& config) {
    for (int i = 0; i < kJpegMaxComponents; ++i) {
        config.dcTableNumbers[i] = defaultTableNumber(i);
        config.acTableNumbers[i] = defaultTableNumber(i);
    }
}
