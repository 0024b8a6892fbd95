// Installing the default quantisation and Huffman tables into an encoder state.
#pragma once

struct JpegEncoderState;

// True when the caller put quantisation tables into the state itself (a filled slot and the
// flag set).
bool callerSuppliedQuantTables(const JpegEncoderState& state);
bool callerSuppliedHuffmanTables(const JpegEncoderState& state);

// Fills the quantisation and Huffman slots with the standard tables where the caller supplied
// none.
void installDefaultTables(JpegEncoderState& state);
