// Derived Huffman code tables (one per table number and class) and the magnitude categories.
#pragma once

#include <cstdint>

struct HuffmanCodeTable {
    std::int32_t length[256]; // code length of each symbol, 0 = no code
    std::uint16_t code[256];  // code of each symbol, right-aligned
};

// Derives the code table from the 16 BITS counts and the HUFFVAL symbols (T.81 Annex C).
// Returns 0, or JPEG_ERR_BAD_HUFFMAN_TABLE when the counts describe more codes than a table can
// hold, or more codes of some length than a prefix code leaves room for.
int buildHuffmanCodeTable(const std::uint8_t* bits, const std::uint8_t* huffval,
                          HuffmanCodeTable* table);
