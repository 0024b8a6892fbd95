#include "jpeg/huffmanTable.h"

#include "jpeg/jpegStatus.h"

#include <cstdint>

namespace {

// A code list may hold at most this many entries (T.81 Annex C with the 258-entry bound).
constexpr int kMaxCodes = 258;

} // namespace

int buildHuffmanCodeTable(const std::uint8_t* bits, const std::uint8_t* huffval,
                          HuffmanCodeTable* table) {
    for (int s = 0; s < 256; ++s) {
        table->length[s] = 0;
        table->code[s] = 0;
    }

    // Figure C.1: list of code sizes, terminated by 0.
    std::uint8_t sizes[kMaxCodes + 1];
    int count = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < bits[length - 1]; ++i) {
            if (count >= kMaxCodes) {
                return JPEG_ERR_BAD_HUFFMAN_TABLE;
            }
            sizes[count++] = static_cast<std::uint8_t>(length);
        }
    }
    sizes[count] = 0;
    if (count == 0) {
        return 0;
    }

    // Figure C.2: canonical codes, then Figure C.3: order them by symbol.
    std::uint32_t code = 0;
    int size = sizes[0];
    int k = 0;
    for (;;) {
        while (sizes[k] == size) {
            table->code[huffval[k]] = static_cast<std::uint16_t>(code);
            table->length[huffval[k]] = size;
            ++code;
            ++k;
        }
        // More codes of this length than the lengths so far leave room for: no prefix code
        // fits these counts, and codes would run past their length.
        if (code > (std::uint32_t{1} << size)) {
            return JPEG_ERR_BAD_HUFFMAN_TABLE;
        }
        if (sizes[k] == 0) {
            break;
        }
        do {
            code <<= 1;
            ++size;
        } while (sizes[k] != size);
    }
    return 0;
}
