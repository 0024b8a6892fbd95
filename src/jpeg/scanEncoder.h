// The scan driver: codes the image MCU by MCU (fetch, forward DCT, quantisation, Huffman
// coding), optionally with restart markers between restart intervals.
#pragma once

#include "jpeg/jpegEncoderState.h"

#include <cstdint>

struct JpegScanComponent {
    std::int32_t index;
    std::int32_t h;
    std::int32_t v;
};

struct JpegScanRecord {
    std::int32_t componentCount = 0;
    JpegScanComponent components[kJpegMaxComponents] = {};
    std::uint32_t mcuCounter = 0; // MCUs since the last restart marker
    std::int32_t nextMcuColumn = 0;
    std::int32_t nextMcuRow = 0;
    std::int32_t lastMcuColumn = 0; // the last MCU coded before a suspension
    std::int32_t lastMcuRow = 0;
};

// Codes every MCU from the record's next position on, with a restart marker after every
// state.restartInterval MCUs (not after the last) when the interval is above 0. 0 when the
// last MCU is coded, 1 when the state's interrupt flag stopped it after an MCU, or a negative
// status. `resumed` keeps the coder's DC predictors of a suspended scan.
int encodeBaselineScan(JpegEncoderState& state, JpegScanRecord& scan, bool resumed);
