#include "jpeg/outputSink.h"

#include "jpeg/jpegStatus.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

FileSink::FileSink(JpegFileHandle file, bool startWriteback)
    : file_(file), buffer_(new (std::nothrow) std::uint8_t[kGatherSize]),
      startWriteback_(startWriteback) {}

int FileSink::write(const std::uint8_t* bytes, std::size_t count) {
    if (status_ != JPEG_SUCCESS) {
        return status_;
    }
    if (buffer_ == nullptr || (used_ == 0 && count >= kGatherSize)) {
        return writeOut(bytes, count);
    }
    while (count > 0) {
        const std::size_t taken = std::min(count, kGatherSize - used_);
        std::memcpy(buffer_.get() + used_, bytes, taken);
        used_ += taken;
        bytes += taken;
        count -= taken;
        if (used_ == kGatherSize) {
            used_ = 0;
            if (const int result = writeOut(buffer_.get(), kGatherSize); result != JPEG_SUCCESS) {
                return result;
            }
        }
    }
    return JPEG_SUCCESS;
}

int FileSink::finish() {
    if (status_ != JPEG_SUCCESS || used_ == 0) {
        return status_;
    }
    const std::size_t count = used_;
    used_ = 0;
    return writeOut(buffer_.get(), count);
}

int FileSink::writeOut(const std::uint8_t* bytes, std::size_t count) {
    // The file layer takes at most 4 GiB - 1 at once.
    constexpr std::size_t kLargestWrite = std::numeric_limits<std::uint32_t>::max();
    sinceWriteback_ += count;
    while (count > 0) {
        const auto size = static_cast<std::uint32_t>(std::min(count, kLargestWrite));
        std::uint32_t written = 0;
        if (!jpegFileWrite(file_, bytes, size, &written) || written != size) {
            status_ = JPEG_ERR_FILE;
            return status_;
        }
        bytes += size;
        count -= size;
    }
    if (startWriteback_ && sinceWriteback_ >= kWritebackStep) {
        sinceWriteback_ = 0;
        jpegFileStartWriteback(file_);
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
