// A scan coded in parts of a few MCU rows on one thread for each lane of its row source (two
// to kMaxRowSourceLanes), then joined into the bytes one coder would have written.
#pragma once

#include "jpeg/jpegEncoderState.h"
#include "jpeg/scanEncoder.h"

// True when the scan can be coded in parts: its rows come from a source with two lanes or
// more, without restart markers or suspension, and every DC table codes a difference of 0.
bool canCodeInParts(const JpegEncoderState& state);

// Codes the whole scan (as encodeBaselineScan does from its start). Each part of the scan is
// coded from a byte boundary with the DC differences of its first MCU left open; the parts are
// joined in order, each first MCU's DC codes written then from the part before it.
int encodeScanInParts(JpegEncoderState& state, JpegScanRecord& scan);
