#include "jpeg/outputBytes.h"
#include "jpeg/outputStream.h"

#include <cstdint>

int flushOutput(OutputStream* stream, WriteBytesFn writeBytes) {
    if (const int result = writeBytes(nullptr, 0, stream); result != 0) {
        return result;
    }
    if (stream->file != kNoJpegFile) {
        return output_bytes::writeOutFileBuffer(stream);
    }
    return 0;
}

int writeRestartMarker(int n, OutputStream* stream, WriteBytesFn writeBytes) {
    constexpr int kBadRestartMarker = -25;
    if (n < 0 || n > 7) {
        return kBadRestartMarker;
    }
    const std::uint8_t marker[2] = {0xFF, static_cast<std::uint8_t>(0xD0 + n)};
    return writeBytes(marker, 2, stream);
}
