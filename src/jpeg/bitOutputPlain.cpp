// Plain bit output: one pending byte, codes appended a byte at a time with 0xFF stuffing.
#include "jpeg/coefficientBits.h"
#include "jpeg/jpegStatus.h"
#include "jpeg/outputBytes.h"
#include "jpeg/outputStream.h"
#include "jpeg/zigzag.h"

#include <cstdint>

namespace {

using output_bytes::appendCodedByte;

inline std::uint32_t lowBits(std::uint32_t value, int count) {
    return value & ((std::uint32_t{1} << count) - 1);
}

// The bit side of one block coding. The first failure sticks: no byte is appended after it,
// and the block reports it when it is done.
class PlainBitWriter {
public:
    explicit PlainBitWriter(OutputStream* stream) : stream_(stream) {}

    // Appends the low `count` (0..16) bits of `value`, most significant first. `bitCount` is
    // the number of free bits in the pending byte; a byte is written only when more bits
    // arrive than it has room for, so a completed byte stays pending until the next call or
    // the flush.
    void putBits(std::uint32_t value, int count) {
        int free = stream_->bitCount;
        auto pending = static_cast<std::uint32_t>(stream_->accumulator);
        if (count <= free) {
            stream_->accumulator = pending | (lowBits(value, count) << (free - count));
            stream_->bitCount = free - count;
            return;
        }
        if (!status_.ok()) {
            return;
        }
        do {
            count -= free;
            const auto byte = static_cast<std::uint8_t>(pending | lowBits(value >> count, free));
            status_.record(appendCodedByte(stream_, byte));
            if (!status_.ok()) {
                return;
            }
            pending = 0;
            free = 8;
        } while (count > 8);
        stream_->accumulator = lowBits(value, count) << (8 - count);
        stream_->bitCount = 8 - count;
    }

    // Sends the code of `symbol`; a symbol without a code cannot be coded and fails the block.
    void putSymbol(const HuffmanCodeTable* table, int symbol) {
        const int length = table->length[symbol];
        if (length == 0) {
            status_.record(JPEG_ERR_BAD_HUFFMAN_TABLE);
            return;
        }
        putBits(table->code[symbol], length);
    }

    void fail(int status) { status_.record(status); }
    bool ok() const { return status_.ok(); }
    int status() const { return status_.status(); }

private:
    OutputStream* stream_;
    FirstFailure status_;
};

} // namespace

void startOutputPlain(OutputStream* stream, std::uint8_t* memory, std::int32_t size) {
    output_bytes::startBuffer(stream, memory, size);
    stream->accumulator = 0;
    stream->bitCount = 8;
}

PendingBits pendingBitsPlain(const OutputStream* stream) {
    const int free = stream->bitCount;
    return {(stream->accumulator & 0xFF) >> free, 8 - free};
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
    return output_bytes::appendPendingAndMarkerBytes(stream, pending, pendingCount, bytes, count,
                                                     8);
}

int encodeBlockPlain(OutputStream* stream, const HuffmanCodeTable* dcTable,
                     const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                     const std::int16_t* block) {
    const std::int32_t diff = std::int32_t{block[0]} - *dcPredictor;
    *dcPredictor = block[0];
    PlainBitWriter writer(stream);
    const int dcCategory = categoryOf(diff);
    writer.putSymbol(dcTable, dcCategory);
    if (dcCategory != 0) {
        writer.putBits(valueBits(diff, dcCategory), dcCategory);
    }

    int run = 0;
    for (int k = 1; k < 64 && writer.ok(); ++k) {
        const std::int32_t v = block[kZigzagNatural[k]];
        if (v == 0) {
            ++run;
            continue;
        }
        for (; run > 15; run -= 16) {
            writer.putSymbol(acTable, 0xF0);
        }
        const int acCategory = categoryOf(v);
        // Only -32768 reaches 16, which no AC symbol can express.
        if (acCategory > 15) {
            writer.fail(JPEG_ERR_BAD_HUFFMAN_TABLE);
            break;
        }
        writer.putSymbol(acTable, (run << 4) | acCategory);
        writer.putBits(valueBits(v, acCategory), acCategory);
        run = 0;
    }
    if (run > 0) {
        writer.putSymbol(acTable, 0x00);
    }
    return writer.status();
}
