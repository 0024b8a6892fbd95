// Byte side of the output stream, shared by the plain and the vector bit writers: appending
// to the stream's buffer or the caller's memory, and emptying the buffer into the sink.
#pragma once

#include "jpeg/byteStuffing.h"
#include "jpeg/jpegStatus.h"
#include "jpeg/outputStream.h"

#include <cstdint>

namespace output_bytes {

// Hands the bytes from the buffer start to the cursor to the sink and moves the cursor back to
// the start. 0 or the sink's failure.
int drainBuffer(OutputStream* stream);

// Appends one byte. A full file buffer is written out first; full caller memory gives
// JPEG_ERR_BUFFER_TOO_SMALL.
inline int appendByte(OutputStream* stream, std::uint8_t byte) {
    if (stream->cursor == stream->end) {
        // The whole buffer is full here, so this hands all of it to the sink.
        const int result = spillsBuffer(stream) ? drainBuffer(stream) : JPEG_ERR_BUFFER_TOO_SMALL;
        if (result != JPEG_SUCCESS) {
            return result;
        }
    }
    *stream->cursor++ = byte;
    ++stream->byteCount;
    return JPEG_SUCCESS;
}

// Appends an entropy-coded byte: 0xFF is followed by a stuffed 0x00.
inline int appendCodedByte(OutputStream* stream, std::uint8_t byte) {
    const int result = appendByte(stream, byte);
    return result == JPEG_SUCCESS && needsStuffing(byte) ? appendByte(stream, 0x00) : result;
}

// The flush-and-append step of writeBytes once the bit writer has turned its pending bits
// into `pendingCount` whole (padded) bytes. In memory mode nothing is appended, and
// JPEG_ERR_BUFFER_TOO_SMALL is returned, when the pending bytes with their stuffing and the `count`
// marker bytes would reach the end of the caller's memory. Otherwise the bit accumulator is
// emptied: `emptyBitCount` is the writer's bitCount with no bits pending.
int appendPendingAndMarkerBytes(OutputStream* stream, const std::uint8_t* pending, int pendingCount,
                                const std::uint8_t* bytes, std::int32_t count, int emptyBitCount);

// Appends bytes as `writeBytes` does (the stream has no pending bits); with a sink, a block of
// a buffer or more goes straight to it, after what the buffer holds.
int appendBlock(OutputStream* stream, WriteBytesFn writeBytes, const std::uint8_t* bytes,
                std::int32_t count);

// Points the stream at its own buffer (with a sink) or at the caller's memory.
void startBuffer(OutputStream* stream, std::uint8_t* memory, std::int32_t size);

} // namespace output_bytes
