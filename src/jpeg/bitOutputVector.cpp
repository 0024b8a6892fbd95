// Vector bit output: a 64-bit accumulator; bits leave it 32 at a time as four bytes. The
// block coder sends each code together with its value bits as one field and walks only the
// non-zero coefficients (a 64-bit mask in zig-zag order). When the whole block surely fits
// the buffer, words are stored without branches and the 0xFF bytes of the block get their
// stuffed zeros afterwards; near the end of the caller's memory each word is checked and
// written byte by byte, each byte followed by a speculative 0x00 that is kept only after
// 0xFF. The bytes produced are the same as those of the plain routines.
#include "jpeg/bitOutputSse2.h"
#include "jpeg/byteStuffing.h"
#include "jpeg/coefficientBits.h"
#include "jpeg/jpegStatus.h"
#include "jpeg/outputBytes.h"
#include "jpeg/outputStream.h"
#include "jpeg/preparedBlock.h"
#include "jpeg/zigzag.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Room that a word needs: four bytes, each possibly followed by a stuffed zero.
constexpr std::ptrdiff_t kWordRoom = 8;

inline void storeBigEndian32(std::uint8_t* p, std::uint32_t word) {
    const std::uint32_t bigEndian =
        std::endian::native == std::endian::little ? __builtin_bswap32(word) : word;
    std::memcpy(p, &bigEndian, 4);
}

struct CursorAndResult {
    std::uint8_t* cursor;
    int result;
};

// Slow path of a word emission when fewer than kWordRoom bytes of room remain: a file buffer
// is written out and the word goes into the empty buffer; caller memory takes the bytes one
// by one until it is full (JPEG_ERR_BUFFER_TOO_SMALL). `cursor` is the writer's cursor; the
// stream's cursor marks the bytes already counted.
[[gnu::noinline, gnu::cold]] CursorAndResult
emitWordNearEnd(OutputStream* stream, std::uint8_t* cursor, std::uint32_t word) {
    stream->byteCount += static_cast<std::int32_t>(cursor - stream->cursor);
    stream->cursor = cursor;
    int result = spillsBuffer(stream) ? output_bytes::drainBuffer(stream) : JPEG_SUCCESS;
    for (int shift = 24; result == JPEG_SUCCESS && shift >= 0; shift -= 8) {
        result = output_bytes::appendCodedByte(stream, static_cast<std::uint8_t>(word >> shift));
    }
    return {stream->cursor, result};
}

// Room that one block needs at most: a 32-bit DC field, 63 AC fields of up to 31 bits, three
// ZRL and one EOB code of up to 16 bits, and 31 pending bits, each byte possibly followed by
// a stuffed zero, plus the speculative stores beyond the cursor.
constexpr std::ptrdiff_t kBlockRoom = 1024;

// The bit state of one block coding, kept in registers and stored back by finish(). Inside,
// the pending bits are the low `pending_` bits of the accumulator (the bits above them are
// stale), so that a field is added by one shift and one or; the stream record keeps them at
// the top. The stream's own cursor stays at the last counted byte until finish().
// kChecked: the buffer may end within the block, so every word emission checks the room and
// may fail; the first failure sticks, no byte is written after it, and finish() reports it.
// Otherwise the block is known to fit and words leave the accumulator without branches.
template <bool kChecked> class BitWriter {
public:
    explicit BitWriter(OutputStream* stream)
        : stream_(stream), pending_(stream->bitCount), cursor_(stream->cursor) {
        acc_ = pending_ == 0 ? 0 : stream->accumulator >> (64 - pending_);
    }

    // Stores the bit state back into the stream; the block's status.
    int finish() {
        stream_->accumulator = pending_ == 0 ? 0 : acc_ << (64 - pending_);
        stream_->bitCount = pending_;
        stream_->byteCount += static_cast<std::int32_t>(cursor_ - stream_->cursor);
        stream_->cursor = cursor_;
        return status_.status();
    }

    // Ends the block with a failure of the coder's own (a symbol without a code).
    int fail(int status) {
        status_.record(status);
        return finish();
    }

    // Appends `field`, which has `length` (1..32) bits and none above them. Fewer than 32
    // bits are pending on entry, so the field always fits; a word leaves when 32 or more bits
    // are pending.
    [[gnu::always_inline]] void put(std::uint64_t field, int length) {
        acc_ = (acc_ << length) | field;
        pending_ += length;
        if constexpr (kChecked) {
            if (pending_ >= 32) {
                emitWordChecked();
            }
        } else {
            // Whole words leave without a test for 0xFF; stuffUnchecked() inserts the stuffed
            // zeros once the block is coded. The store is harmless when no word is due: the
            // bytes beyond the cursor are free room and are overwritten later.
            storeBigEndian32(cursor_, static_cast<std::uint32_t>(acc_ >> ((pending_ - 32) & 63)));
            cursor_ += (static_cast<unsigned>(pending_) >> 3) & 4; // 4 when a word is due
            pending_ &= 31;
        }
    }

    // Emits one word when 32 or more bits are pending.
    void emitPendingWord() {
        if (pending_ < 32) {
            return;
        }
        if constexpr (kChecked) {
            emitWordChecked();
        } else {
            pending_ -= 32;
            storeBigEndian32(cursor_, static_cast<std::uint32_t>(acc_ >> pending_));
            cursor_ += 4;
        }
    }

private:
    void emitWordChecked() {
        pending_ -= 32;
        const auto word = static_cast<std::uint32_t>(acc_ >> pending_);
        if (stream_->end - cursor_ < kWordRoom) {
            if (status_.ok()) {
                const CursorAndResult next = emitWordNearEnd(stream_, cursor_, word);
                cursor_ = next.cursor;
                status_.record(next.result);
            }
            return;
        }
        if (!hasFFByte(word)) {
            storeBigEndian32(cursor_, word);
            cursor_ += 4;
            return;
        }
        // Each byte followed by a speculative 0x00 that is kept only after 0xFF.
        for (int shift = 24; shift >= 0; shift -= 8) {
            const auto byte = static_cast<std::uint8_t>(word >> shift);
            cursor_[0] = byte;
            cursor_[1] = 0;
            cursor_ += needsStuffing(byte) ? 2 : 1;
        }
    }

    OutputStream* stream_;
    std::uint64_t acc_;
    int pending_;
    std::uint8_t* cursor_;
    FirstFailure status_;
};

} // namespace

void startOutputVector(OutputStream* stream, std::uint8_t* memory, std::int32_t size) {
    output_bytes::startBuffer(stream, memory, size);
    stream->accumulator = 0;
    stream->bitCount = 0;
}

int writeBytesVector(const std::uint8_t* bytes, std::int32_t count, OutputStream* stream) {
    std::uint8_t pending[8];
    int pendingCount = 0;
    const int bits = stream->bitCount;
    if (bits > 0) {
        // Pad the bits below the pending ones with 1s.
        const std::uint64_t padded =
            bits >= 64 ? stream->accumulator : stream->accumulator | (~std::uint64_t{0} >> bits);
        pendingCount = bits >= 64 ? 8 : (bits + 7) / 8;
        for (int i = 0; i < pendingCount; ++i) {
            pending[i] = static_cast<std::uint8_t>(padded >> (56 - 8 * i));
        }
    }
    return output_bytes::appendPendingAndMarkerBytes(stream, pending, pendingCount, bytes, count,
                                                     0);
}

PendingBits pendingBitsVector(const OutputStream* stream) {
    const int count = stream->bitCount;
    return {count == 0 ? 0 : stream->accumulator >> (64 - count), count};
}

namespace {

template <bool kChecked, bool kDense>
int codeBlock(OutputStream* stream, const HuffmanCodeTable* dcTable,
              const HuffmanCodeTable* acTable, std::int32_t diff, const PreparedBlock& block) {
    BitWriter<kChecked> writer(stream);
    writer.emitPendingWord();

    const int dcCategory = categoryOf(diff);
    const int dcLength = dcTable->length[dcCategory];
    if (dcLength == 0) {
        return writer.fail(JPEG_ERR_BAD_HUFFMAN_TABLE);
    }
    const std::uint64_t dcField =
        (std::uint64_t{dcTable->code[dcCategory]} << dcCategory) | valueBits(diff, dcCategory);
    writer.put(dcField, dcLength + dcCategory);

    const std::int32_t* acLength = acTable->length;
    const std::uint16_t* acCode = acTable->code;
    std::uint64_t nonZero = block.nonZero;
    int last = 0;
    while (nonZero != 0) {
        const int k = std::countr_zero(nonZero);
        nonZero &= nonZero - 1;
        int run = k - last - 1;
        last = k;
        while (run > 15)
            [[unlikely]] {
                if (acLength[0xF0] == 0) {
                    return writer.fail(JPEG_ERR_BAD_HUFFMAN_TABLE);
                }
                writer.put(acCode[0xF0], acLength[0xF0]);
                run -= 16;
            }
        int category;
        std::uint32_t bits;
        if constexpr (kDense) {
            category = block.category[k];
            bits = block.bits[k];
        } else {
            const std::int32_t v = block.zigzag[k];
            category = categoryOfNonZero(v);
            bits = valueBits(v, category);
        }
        // Only -32768 reaches 16, which no AC symbol can express.
        if (category > 15) [[unlikely]] {
            return writer.fail(JPEG_ERR_BAD_HUFFMAN_TABLE);
        }
        const int symbol = (run << 4) | category;
        const int length = acLength[symbol];
        if (length == 0) [[unlikely]] {
            return writer.fail(JPEG_ERR_BAD_HUFFMAN_TABLE);
        }
        writer.put((std::uint64_t{acCode[symbol]} << category) | bits, length + category);
    }
    if (last != 63) {
        if (acLength[0x00] == 0) {
            return writer.fail(JPEG_ERR_BAD_HUFFMAN_TABLE);
        }
        writer.put(acCode[0x00], acLength[0x00]);
    }
    return writer.finish();
}

// Fills in the categories and value bits of a block read in zig-zag order; true when it is
// dense enough for that to pay, false (nothing filled in) otherwise.
inline bool categorizeIfDense(PreparedBlock& out) {
    if (!denseAfterDc(out)) {
        return false;
    }
#if defined(__SSE2__)
    bit_output_sse2::categorize(out);
#else
    for (int k = 0; k < 64; ++k) {
        const int category = categoryOf(out.zigzag[k]);
        out.category[k] = static_cast<std::uint16_t>(category);
        out.bits[k] = static_cast<std::uint16_t>(valueBits(out.zigzag[k], category));
    }
#endif
    return true;
}

// Reads the block in zig-zag order into `out` with its non-zero mask.
inline void gatherZigzag(const std::int16_t* block, PreparedBlock& out) {
#if defined(__SSE2__)
    bit_output_sse2::gatherZigzag(block, out);
#else
    out.nonZero = 0;
    for (int k = 0; k < 64; ++k) {
        out.zigzag[k] = block[kZigzagNatural[k]];
        out.nonZero |= std::uint64_t{out.zigzag[k] != 0} << k;
    }
#endif
}

// Inserts a 0x00 after every 0xFF among the bytes that an unchecked block coding wrote
// from `from` to the cursor (there is room: the block had kBlockRoom bytes).
inline void stuffUnchecked(OutputStream* stream, std::uint8_t* from) {
    std::uint8_t* const to = stream->cursor;
    std::uint8_t* p = from;
#if defined(__SSE2__)
    p = bit_output_sse2::skipUnstuffedGroups(p, to);
#endif
    while (p != to && !needsStuffing(*p)) {
        ++p;
    }
    if (p == to) [[likely]] {
        return;
    }
    std::ptrdiff_t count = 0;
    for (const std::uint8_t* q = p; q != to; ++q) {
        count += needsStuffing(*q);
    }
    // Move the bytes up from the back, each 0xFF followed by its zero.
    std::uint8_t* src = to;
    std::uint8_t* dst = to + count;
    while (dst != src) {
        const std::uint8_t byte = *--src;
        if (needsStuffing(byte)) {
            *--dst = 0x00;
        }
        *--dst = byte;
    }
    stream->cursor = to + count;
    stream->byteCount += static_cast<std::int32_t>(count);
}

// The block read into zig-zag order, categorized when dense; true when dense.
inline bool prepareBlock(const std::int16_t* block, PreparedBlock& out) {
    gatherZigzag(block, out);
    return categorizeIfDense(out);
}

// The vector block coder with the block prepared by `prepare(PreparedBlock&)`, which returns
// whether the block is dense.
template <class Prepare>
int encodeBlockGathered(OutputStream* stream, const HuffmanCodeTable* dcTable,
                        const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                        Prepare&& prepare) {
    PreparedBlock prepared;
    const bool dense = prepare(prepared);
    const std::int32_t diff = std::int32_t{prepared.zigzag[0]} - *dcPredictor;
    *dcPredictor = prepared.zigzag[0];

    if (stream->end - stream->cursor < kBlockRoom) [[unlikely]] {
        if (!spillsBuffer(stream)) {
            // The caller's memory may end within this block.
            return dense ? codeBlock<true, true>(stream, dcTable, acTable, diff, prepared)
                         : codeBlock<true, false>(stream, dcTable, acTable, diff, prepared);
        }
        if (const int result = output_bytes::drainBuffer(stream); result != 0) {
            return result;
        }
    }
    std::uint8_t* const blockStart = stream->cursor;
    const int result = dense ? codeBlock<false, true>(stream, dcTable, acTable, diff, prepared)
                             : codeBlock<false, false>(stream, dcTable, acTable, diff, prepared);
    stuffUnchecked(stream, blockStart);
    return result;
}

// The vector block coder with the block prepared by kPrepare.
template <bool (*kPrepare)(const std::int16_t*, PreparedBlock&)>
int encodeBlockWith(OutputStream* stream, const HuffmanCodeTable* dcTable,
                    const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                    const std::int16_t* block) {
    return encodeBlockGathered(stream, dcTable, acTable, dcPredictor,
                               [block](PreparedBlock& out) { return kPrepare(block, out); });
}

// The same with the block quantised and prepared by kQuantizePrepare.
template <bool (*kQuantizePrepare)(const std::int16_t*, const std::uint16_t*, PreparedBlock&)>
int quantizeEncodeBlockWith(OutputStream* stream, const HuffmanCodeTable* dcTable,
                            const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                            const std::int16_t* block, const std::uint16_t* reciprocals) {
    return encodeBlockGathered(stream, dcTable, acTable, dcPredictor,
                               [block, reciprocals](PreparedBlock& out) {
                                   return kQuantizePrepare(block, reciprocals, out);
                               });
}

} // namespace

int encodeBlockVector(OutputStream* stream, const HuffmanCodeTable* dcTable,
                      const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                      const std::int16_t* block) {
    return encodeBlockWith<prepareBlock>(stream, dcTable, acTable, dcPredictor, block);
}

#if defined(QMJPEG_AVX2_ROUTINES)
int encodeBlockAvx2(OutputStream* stream, const HuffmanCodeTable* dcTable,
                    const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                    const std::int16_t* block) {
    return encodeBlockWith<prepareBlockAvx2>(stream, dcTable, acTable, dcPredictor, block);
}

int quantizeEncodeBlockAvx2(OutputStream* stream, const HuffmanCodeTable* dcTable,
                            const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                            std::int16_t* block, const std::uint16_t* reciprocals) {
    return quantizeEncodeBlockWith<quantizePrepareBlockAvx2>(stream, dcTable, acTable, dcPredictor,
                                                             block, reciprocals);
}
#endif

#if defined(QMJPEG_AVX512_ROUTINES)
int encodeBlockAvx512(OutputStream* stream, const HuffmanCodeTable* dcTable,
                      const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                      const std::int16_t* block) {
    return encodeBlockWith<prepareBlockAvx512>(stream, dcTable, acTable, dcPredictor, block);
}

int quantizeEncodeBlockAvx512(OutputStream* stream, const HuffmanCodeTable* dcTable,
                              const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                              std::int16_t* block, const std::uint16_t* reciprocals) {
    return quantizeEncodeBlockWith<quantizePrepareBlockAvx512>(stream, dcTable, acTable,
                                                               dcPredictor, block, reciprocals);
}
#endif
