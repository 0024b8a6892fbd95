// Where the encoder's bytes go: a byte sink takes whole buffers from the output stream (never
// single bytes), so the coders fill their buffer without a call per byte.
#pragma once

#include "jpeg/jpegFile.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class ByteSink {
public:
    // Takes `count` bytes: JPEG_SUCCESS, or the status of the failure (JPEG_ERR_FILE for a
    // failed or short file write, JPEG_ERR_MEMORY when memory cannot grow).
    virtual int write(const std::uint8_t* bytes, std::size_t count) = 0;

protected:
    ~ByteSink() = default;
};

// Writes into an open file at its current position. The file stays the caller's to close.
class FileSink final : public ByteSink {
public:
    explicit FileSink(JpegFileHandle file) : file_(file) {}
    int write(const std::uint8_t* bytes, std::size_t count) override;

private:
    JpegFileHandle file_;
};

// Appends to a byte vector, which grows as needed.
class MemorySink final : public ByteSink {
public:
    explicit MemorySink(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    int write(const std::uint8_t* bytes, std::size_t count) override;

private:
    std::vector<std::uint8_t>& bytes_;
};
