#include "jpeg/outputSink.h"

#include "jpeg/jpegStatus.h"

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>

int FileSink::write(const std::uint8_t* bytes, std::size_t count) {
    // The file layer takes at most 4 GiB - 1 at once.
    constexpr std::size_t kLargestWrite = std::numeric_limits<std::uint32_t>::max();
    while (count > 0) {
        const auto size = static_cast<std::uint32_t>(std::min(count, kLargestWrite));
        std::uint32_t written = 0;
        if (!jpegFileWrite(file_, bytes, size, &written) || written != size) {
            return JPEG_ERR_FILE;
        }
        bytes += size;
        count -= size;
    }
    return JPEG_SUCCESS;
}

int MemorySink::write(const std::uint8_t* bytes, std::size_t count) {
    try {
        bytes_.insert(bytes_.end(), bytes, bytes + count);
    } catch (const std::bad_alloc&) {
        return JPEG_ERR_MEMORY;
    } catch (const std::length_error&) {
        return JPEG_ERR_MEMORY;
    }
    return JPEG_SUCCESS;
}
