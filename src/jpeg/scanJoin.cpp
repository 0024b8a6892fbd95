#include "jpeg/scanJoin.h"

#include "jpeg/byteStuffing.h"
#include "jpeg/outputBytes.h"
#include "util/byteOrder.h"

#include <cstring>

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

inline std::uint64_t lowMask(int count) {
    return count == 0 ? 0 : ~std::uint64_t{0} >> (64 - count);
}

} // namespace

ScanJoiner::ScanJoiner(OutputStream* out, WriteBytesFn writeBytes)
    : out_(out), writeBytes_(writeBytes), buffer_(kBufferSize) {}

void ScanJoiner::flushBuffer() {
    if (used_ > 0 && status_.ok()) {
        status_.record(output_bytes::appendBlock(out_, writeBytes_, buffer_.data(),
                                                 static_cast<std::int32_t>(used_)));
    }
    used_ = 0;
}

void ScanJoiner::makeRoom(std::size_t bytes) {
    if (buffer_.size() - used_ < bytes) {
        flushBuffer();
    }
}

void ScanJoiner::emitByte(std::uint8_t byte) {
    makeRoom(2);
    buffer_[used_++] = byte;
    if (needsStuffing(byte)) {
        buffer_[used_++] = 0x00;
    }
}

void ScanJoiner::putBits(std::uint64_t bits, int count) {
    pending_ = (pending_ << count) | (bits & lowMask(count));
    count_ += count;
    while (count_ >= 8) {
        count_ -= 8;
        emitByte(static_cast<std::uint8_t>(pending_ >> count_));
    }
    pending_ &= lowMask(count_);
}

// Appends 64 unstuffed bits.
void ScanJoiner::appendWord(std::uint64_t word) {
    const std::uint64_t out = count_ == 0 ? word : (pending_ << (64 - count_)) | (word >> count_);
    pending_ = word & lowMask(count_);
    if (!hasFFByte(out)) {
        makeRoom(8);
        storeBe64(buffer_.data() + used_, out);
        used_ += 8;
        return;
    }
    for (int shift = 56; shift >= 0; shift -= 8) {
        emitByte(static_cast<std::uint8_t>(out >> shift));
    }
}

void ScanJoiner::appendPart(const std::uint8_t* bytes, std::size_t size, PendingBits tail,
                            int skip) {
    std::size_t i = 0;
    // The next unstuffed byte of the part.
    auto nextByte = [&] {
        const std::uint8_t byte = bytes[i++];
        if (needsStuffing(byte) && i < size && bytes[i] == 0x00) {
            ++i;
        }
        return byte;
    };
    for (; skip >= 8 && i < size; skip -= 8) {
        nextByte();
    }
    if (skip > 0 && i < size) {
        putBits(nextByte(), 8 - skip);
        skip = 0;
    }
    if (count_ == 0 && skip == 0) {
        // Byte-aligned: the part's bytes, stuffing and all, are already what the segment needs.
        flushBuffer();
        while (i < size && status_.ok()) {
            const std::size_t chunk = std::min<std::size_t>(size - i, 1 << 30);
            status_.record(output_bytes::appendBlock(out_, writeBytes_, bytes + i,
                                                     static_cast<std::int32_t>(chunk)));
            i += chunk;
        }
        i = size;
    }
    while (i < size) {
        if (size - i >= 8) {
            const std::uint64_t word = loadBe64(bytes + i);
            if (!hasFFByte(word)) {
                appendWord(word);
                i += 8;
                continue;
            }
        }
        putBits(nextByte(), 8);
    }
    // The pending bits, at most 32 at a time.
    for (int left = tail.count - skip; left > 0;) {
        const int count = left > 32 ? left - 32 : left;
        left -= count;
        putBits(tail.bits >> left, count);
    }
}

int ScanJoiner::finish() {
    if (count_ > 0) {
        const int padding = 8 - count_;
        putBits(lowMask(padding), padding);
    }
    flushBuffer();
    return status_.status();
}
