// The JPEG stream writer: the header (SOI, application segment, comment, tables) and the frame
// with its scan (SOF0, DRI, SOS, entropy-coded data, EOI).
#pragma once

struct JpegEncoderState;

// Starts the output stream and writes the header for the state's request code. For requests
// 12 and 13 the tables are prepared but not written; requests 10 and 11 end with EOI.
int writeStreamHeader(JpegEncoderState& state);

// SOF0, DRI when set, SOS, the scan and EOI; continues a suspended scan where it stopped.
// 0, 1 when the scan was suspended, or a negative status.
int writeFrameAndScan(JpegEncoderState& state);
