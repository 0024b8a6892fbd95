// Plain bit output: one pending byte, codes appended a byte at a time with 0xFF stuffing.
#include "jpeg/outputBytes.h"
#include "jpeg/outputStream.h"
#include "jpeg/zigzag.h"

#include <cstdint>

namespace {

using output_bytes::appendCodedByte;

constexpr int kBadHuffmanTable = -6;

inline std::uint32_t lowBits(std::uint32_t value, int count) {
    return value & ((std::uint32_t{1} << count) - 1);
}

// Appends the low `count` (0..16) bits of `value`, most significant first. `bitCount` is the
// number of free bits in the pending byte; a byte is written only when more bits arrive than
// it has room for, so a completed byte stays pending until the next call or the flush.
int putBits(OutputStream* stream, std::uint32_t value, int count) {
    int free = stream->bitCount;
    auto pending = static_cast<std::uint32_t>(stream->accumulator);
    if (count <= free) {
        stream->accumulator = pending | (lowBits(value, count) << (free - count));
        stream->bitCount = free - count;
        return 0;
    }
    do {
        count -= free;
        const auto byte = static_cast<std::uint8_t>(pending | lowBits(value >> count, free));
        if (const int result = appendCodedByte(stream, byte); result != 0) {
            return result;
        }
        pending = 0;
        free = 8;
    } while (count > 8);
    stream->accumulator = lowBits(value, count) << (8 - count);
    stream->bitCount = 8 - count;
    return 0;
}

// Sends the code of `symbol`; a symbol without a code cannot be coded and fails the block.
inline int putSymbol(OutputStream* stream, const HuffmanCodeTable* table, int symbol) {
    const int length = table->length[symbol];
    if (length == 0) {
        return kBadHuffmanTable;
    }
    return putBits(stream, table->code[symbol], length);
}

inline int category(std::int32_t v) {
    const std::int32_t magnitude = v < 0 ? -v : v;
    return magnitude < 256 ? magnitudeCategory[magnitude] : magnitudeCategory[magnitude >> 8] + 8;
}

// Value bits of v: v itself when positive, v - 1 (its one's complement) when negative.
inline std::uint32_t valueBits(std::int32_t v) {
    return static_cast<std::uint32_t>(v < 0 ? v - 1 : v);
}

} // namespace

void startOutputPlain(OutputStream* stream, std::uint8_t* memory, std::int32_t size) {
    output_bytes::startBuffer(stream, memory, size);
    stream->accumulator = 0;
    stream->bitCount = 8;
}

int writeBytesPlain(const std::uint8_t* bytes, std::int32_t count, OutputStream* stream) {
    std::uint8_t pending[1];
    int pendingCount = 0;
    if (stream->bitCount < 8) {
        // Pad the unused low bits with 1s.
        pending[0] = static_cast<std::uint8_t>(stream->accumulator |
                                               ((std::uint32_t{1} << stream->bitCount) - 1));
        pendingCount = 1;
    }
    const int result =
        output_bytes::appendPendingAndMarkerBytes(stream, pending, pendingCount, bytes, count);
    if (result != output_bytes::kBufferTooSmall) {
        stream->accumulator = 0;
        stream->bitCount = 8;
    }
    return result;
}

int encodeBlockPlain(OutputStream* stream, const HuffmanCodeTable* dcTable,
                     const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                     const std::int16_t* block) {
    const std::int32_t diff = std::int32_t{block[0]} - *dcPredictor;
    *dcPredictor = block[0];
    const int dcCategory = category(diff);
    if (int result = putSymbol(stream, dcTable, dcCategory); result != 0) {
        return result;
    }
    if (dcCategory != 0) {
        if (int result = putBits(stream, valueBits(diff), dcCategory); result != 0) {
            return result;
        }
    }

    int run = 0;
    for (int k = 1; k < 64; ++k) {
        const std::int32_t v = block[zigzagToNatural[k]];
        if (v == 0) {
            ++run;
            continue;
        }
        for (; run > 15; run -= 16) {
            if (int result = putSymbol(stream, acTable, 0xF0); result != 0) {
                return result;
            }
        }
        const int acCategory = category(v);
        // Only -32768 reaches 16, which no AC symbol can express.
        if (acCategory > 15) {
            return kBadHuffmanTable;
        }
        if (int result = putSymbol(stream, acTable, (run << 4) | acCategory); result != 0) {
            return result;
        }
        if (int result = putBits(stream, valueBits(v), acCategory); result != 0) {
            return result;
        }
        run = 0;
    }
    if (run > 0) {
        return putSymbol(stream, acTable, 0x00);
    }
    return 0;
}
