#include "jpeg/outputBytes.h"

#include "jpeg/outputSink.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace output_bytes {

int drainBuffer(OutputStream* stream) {
    const auto size = static_cast<std::size_t>(stream->cursor - stream->start);
    stream->cursor = stream->start;
    return size == 0 ? JPEG_SUCCESS : stream->sink->write(stream->start, size);
}

namespace {

int appendPendingAndMarker(OutputStream* stream, const std::uint8_t* pending, int pendingCount,
                           const std::uint8_t* bytes, std::int32_t count) {
    if (count < 0) {
        count = 0;
    }
    if (!spillsBuffer(stream)) {
        std::int64_t needed = count;
        for (int i = 0; i < pendingCount; ++i) {
            needed += needsStuffing(pending[i]) ? 2 : 1;
        }
        // The stream always keeps one byte of the caller's memory spare.
        if (needed > 0 && needed >= stream->end - stream->cursor) {
            return JPEG_ERR_BUFFER_TOO_SMALL;
        }
    }
    int result = JPEG_SUCCESS;
    for (int i = 0; result == JPEG_SUCCESS && i < pendingCount; ++i) {
        result = appendCodedByte(stream, pending[i]);
    }
    while (result == JPEG_SUCCESS && count > 0) {
        if (stream->cursor == stream->end) {
            result = spillsBuffer(stream) ? drainBuffer(stream) : JPEG_ERR_BUFFER_TOO_SMALL;
            continue;
        }
        const auto chunk =
            static_cast<std::int32_t>(std::min<std::int64_t>(count, stream->end - stream->cursor));
        std::memcpy(stream->cursor, bytes, static_cast<std::size_t>(chunk));
        stream->cursor += chunk;
        stream->byteCount += chunk;
        bytes += chunk;
        count -= chunk;
    }
    return result;
}

} // namespace

int appendPendingAndMarkerBytes(OutputStream* stream, const std::uint8_t* pending, int pendingCount,
                                const std::uint8_t* bytes, std::int32_t count, int emptyBitCount) {
    const int result = appendPendingAndMarker(stream, pending, pendingCount, bytes, count);
    if (result != JPEG_ERR_BUFFER_TOO_SMALL) {
        stream->accumulator = 0;
        stream->bitCount = emptyBitCount;
    }
    return result;
}

int appendBlock(OutputStream* stream, WriteBytesFn writeBytes, const std::uint8_t* bytes,
                std::int32_t count) {
    if (!spillsBuffer(stream) || count < kFileBufferSize) {
        return writeBytes(bytes, count, stream);
    }
    if (const int result = drainBuffer(stream); result != JPEG_SUCCESS) {
        return result;
    }
    if (const int result = stream->sink->write(bytes, static_cast<std::size_t>(count));
        result != JPEG_SUCCESS) {
        return result;
    }
    stream->byteCount += count;
    return JPEG_SUCCESS;
}

void startBuffer(OutputStream* stream, std::uint8_t* memory, std::int32_t size) {
    if (spillsBuffer(stream)) {
        stream->start = stream->fileBuffer;
        stream->bufferSize = kFileBufferSize;
    } else {
        stream->start = memory;
        stream->bufferSize = size < 0 ? 0 : size;
    }
    stream->cursor = stream->start;
    stream->end = stream->start + stream->bufferSize;
}

} // namespace output_bytes

int flushOutput(OutputStream* stream, WriteBytesFn writeBytes) {
    const int result = writeBytes(nullptr, 0, stream);
    return result == JPEG_SUCCESS && spillsBuffer(stream) ? output_bytes::drainBuffer(stream)
                                                          : result;
}

int writeRestartMarker(int n, OutputStream* stream, WriteBytesFn writeBytes) {
    if (n < 0 || n > 7) {
        return JPEG_ERR_BAD_RST_MARKER;
    }
    const std::uint8_t marker[2] = {0xFF, static_cast<std::uint8_t>(0xD0 + n)};
    return writeBytes(marker, 2, stream);
}
