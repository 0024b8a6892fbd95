#include "jpeg/jpegStatus.h"
#include "jpeg/outputBytes.h"
#include "jpeg/outputStream.h"

#include <cstdint>

int flushOutput(OutputStream* stream, WriteBytesFn writeBytes) {
    const int result = writeBytes(nullptr, 0, stream);
    return result == JPEG_SUCCESS && spillsBuffer(stream)
               ? output_bytes::writeOutFileBuffer(stream)
               : result;
}

int writeRestartMarker(int n, OutputStream* stream, WriteBytesFn writeBytes) {
    if (n < 0 || n > 7) {
        return JPEG_ERR_BAD_RST_MARKER;
    }
    const std::uint8_t marker[2] = {0xFF, static_cast<std::uint8_t>(0xD0 + n)};
    return writeBytes(marker, 2, stream);
}
