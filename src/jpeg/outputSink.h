// Where the encoder's bytes go: a byte sink takes whole buffers from the output stream (never
// single bytes), so the coders fill their buffer without a call per byte.
#pragma once

#include "jpeg/jpegFile.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class ByteSink {
public:
    // Takes `count` bytes: JPEG_SUCCESS, or the status of the failure (JPEG_ERR_FILE for a
    // failed or short file write, JPEG_ERR_MEMORY when memory cannot grow).
    virtual int write(const std::uint8_t* bytes, std::size_t count) = 0;

protected:
    ~ByteSink() = default;
};

// Writes into an open file at its current position, gathering the stream's buffers into writes
// of kGatherSize bytes; finish() writes the rest. With `startWriteback`, for a file that is
// synced after the write, it starts the file's writeback every kWritebackStep bytes, so that
// the sync has little left to wait for. The file stays the caller's to close.
class FileSink final : public ByteSink {
public:
    static constexpr std::size_t kGatherSize = std::size_t{1} << 16;
    static constexpr std::uint64_t kWritebackStep = std::uint64_t{1} << 20;

    explicit FileSink(JpegFileHandle file, bool startWriteback = false);
    int write(const std::uint8_t* bytes, std::size_t count) override;
    // Writes the gathered bytes: JPEG_SUCCESS, or JPEG_ERR_FILE for a failed or short write
    // (the first failure of the sink's writes is kept).
    int finish();

private:
    int writeOut(const std::uint8_t* bytes, std::size_t count);

    JpegFileHandle file_;
    std::unique_ptr<std::uint8_t[]> buffer_; // null: every write goes straight to the file
    std::size_t used_ = 0;
    bool startWriteback_;
    std::uint64_t sinceWriteback_ = 0;
    int status_ = 0;
};

// Appends to a byte vector, which grows as needed.
class MemorySink final : public ByteSink {
public:
    explicit MemorySink(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    int write(const std::uint8_t* bytes, std::size_t count) override;

private:
    std::vector<std::uint8_t>& bytes_;
};
