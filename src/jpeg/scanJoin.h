// Joins parts of one entropy-coded segment that were coded apart, each from a byte boundary:
// their bits are appended one after another, the stuffed zeros of each part dropped and
// those of the joined segment inserted anew, so the result is the segment one coder would
// have written.
#pragma once

#include "jpeg/jpegStatus.h"
#include "jpeg/outputStream.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class ScanJoiner {
public:
    // Bytes go to `out` through `writeBytes` (the marker writer), which must have no pending
    // bits of its own while the joiner is in use.
    ScanJoiner(OutputStream* out, WriteBytesFn writeBytes);

    // Appends the low `count` (0..32) bits of `bits`, first bit highest.
    void putBits(std::uint64_t bits, int count);

    // Appends a coded part: its `size` bytes (0xFF followed by a stuffed 0x00, as coders write
    // them) and then its pending bits, leaving out the first `skip` bits.
    void appendPart(const std::uint8_t* bytes, std::size_t size, PendingBits tail, int skip = 0);

    // Writes what is held, the last byte padded with 1 bits. The first failure of any write.
    int finish();

    bool ok() const { return status_.ok(); }
    int status() const { return status_.status(); }

private:
    void appendWord(std::uint64_t word);
    void emitByte(std::uint8_t byte);
    void makeRoom(std::size_t bytes);
    void flushBuffer();

    OutputStream* out_;
    WriteBytesFn writeBytes_;
    std::uint64_t pending_ = 0; // the low count_ bits; fewer than 8 between calls
    int count_ = 0;
    std::vector<std::uint8_t> buffer_;
    std::size_t used_ = 0;
    FirstFailure status_;
};
