// Installing the default quantisation and Huffman tables into an encoder state.
#pragma once

#include <cstdint>

struct EncoderConfig;
struct JpegEncoderState;

// The numbers of the default tables: luminance tables are number 0, chrominance tables 1.
inline constexpr std::uint8_t kLuminanceTableNumber = 0;
inline constexpr std::uint8_t kChrominanceTableNumber = 1;

// The default table number of a component: luminance for component 0, chrominance for the
// others.
constexpr std::uint8_t defaultTableNumber(int component) {
    return component == 0 ? kLuminanceTableNumber : kChrominanceTableNumber;
}

// Every component's DC and AC table numbers set to its default.
void assignDefaultHuffmanTableNumbers(EncoderConfig& config);

// True when the caller put quantisation tables into the state itself (a filled slot and the
// flag set).
bool callerSuppliedQuantTables(const JpegEncoderState& state);
bool callerSuppliedHuffmanTables(const JpegEncoderState& state);

// Fills the quantisation and Huffman slots with the standard tables where the caller supplied
// none.
void installDefaultTables(JpegEncoderState& state);
