#include "jpeg/outputBytes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace output_bytes {

int writeOutFileBuffer(OutputStream* stream) {
    const auto size = static_cast<std::uint32_t>(stream->cursor - stream->start);
    stream->cursor = stream->start;
    if (size == 0) {
        return 0;
    }
    if (stream->sink != nullptr) {
        try {
            stream->sink->insert(stream->sink->end(), stream->start, stream->start + size);
        } catch (const std::bad_alloc&) {
            return JPEG_ERR_MEMORY;
        }
        return 0;
    }
    std::uint32_t written = 0;
    if (!jpegFileWrite(stream->file, stream->start, size, &written) || written != size) {
        return JPEG_ERR_FILE;
    }
    return 0;
}

int appendPendingAndMarkerBytes(OutputStream* stream, const std::uint8_t* pending, int pendingCount,
                                const std::uint8_t* bytes, std::int32_t count) {
    if (count < 0) {
        count = 0;
    }
    if (!spillsBuffer(stream)) {
        std::int64_t needed = count;
        for (int i = 0; i < pendingCount; ++i) {
            needed += pending[i] == 0xFF ? 2 : 1;
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
            result = spillsBuffer(stream) ? writeOutFileBuffer(stream) : JPEG_ERR_BUFFER_TOO_SMALL;
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

int appendBlock(OutputStream* stream, WriteBytesFn writeBytes, const std::uint8_t* bytes,
                std::int32_t count) {
    if (stream->file == kNoJpegFile || count < kFileBufferSize) {
        return writeBytes(bytes, count, stream);
    }
    if (const int result = writeOutFileBuffer(stream); result != 0) {
        return result;
    }
    std::uint32_t written = 0;
    const auto size = static_cast<std::uint32_t>(count);
    if (!jpegFileWrite(stream->file, bytes, size, &written) || written != size) {
        return JPEG_ERR_FILE;
    }
    stream->byteCount += count;
    return 0;
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
