// Vector bit output: a 64-bit accumulator with the pending bits at its top. Bits leave it
// 32 at a time; a word without any 0xFF byte is stored in one go, otherwise byte by byte,
// each byte followed by a speculative 0x00 that is kept only after 0xFF. The block coder
// sends each code together with its value bits as one field. The bytes produced are the
// same as those of the plain routines.
#include "jpeg/outputBytes.h"
#include "jpeg/outputStream.h"
#include "jpeg/zigzag.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int kBadHuffmanTable = -6;

// Room that a word needs: four bytes, each possibly followed by a stuffed zero.
constexpr std::ptrdiff_t kWordRoom = 8;

inline bool hasFFByte(std::uint32_t word) {
    const std::uint32_t inverted = ~word; // a 0xFF byte becomes a zero byte
    return ((inverted - 0x01010101u) & ~inverted & 0x80808080u) != 0;
}

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
// by one until it is full (-28). `cursor` is the writer's cursor; the stream's cursor marks
// the bytes already counted.
[[gnu::noinline, gnu::cold]] CursorAndResult
emitWordNearEnd(OutputStream* stream, std::uint8_t* cursor, std::uint32_t word) {
    stream->byteCount += static_cast<std::int32_t>(cursor - stream->cursor);
    stream->cursor = cursor;
    if (stream->file != kNoJpegFile) {
        if (const int result = output_bytes::writeOutFileBuffer(stream); result != 0) {
            return {stream->cursor, result};
        }
    }
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = static_cast<std::uint8_t>(word >> shift);
        if (const int result = output_bytes::appendCodedByte(stream, byte); result != 0) {
            return {stream->cursor, result};
        }
    }
    return {stream->cursor, 0};
}

// The bit state of one block coding, kept in registers and stored back by finish().
// The stream's own cursor stays at the last counted byte until then.
class BitWriter {
public:
    explicit BitWriter(OutputStream* stream)
        : stream_(stream), acc_(stream->accumulator), pending_(stream->bitCount),
          cursor_(stream->cursor) {}

    int finish(int result) {
        stream_->accumulator = acc_;
        stream_->bitCount = pending_;
        stream_->byteCount += static_cast<std::int32_t>(cursor_ - stream_->cursor);
        stream_->cursor = cursor_;
        return result;
    }

    int pendingBits() const { return pending_; }

    // Appends the low `length` (1..32) bits of `field`; fewer than 32 bits are pending on
    // entry, so the new field always fits the 64-bit accumulator.
    [[gnu::always_inline]] int put(std::uint64_t field, int length) {
        acc_ |= (field << (64 - length)) >> pending_;
        pending_ += length;
        return pending_ >= 32 ? emitWord() : 0;
    }

    [[gnu::always_inline]] int emitWord() {
        const auto word = static_cast<std::uint32_t>(acc_ >> 32);
        acc_ <<= 32;
        pending_ -= 32;
        if (stream_->end - cursor_ < kWordRoom) [[unlikely]] {
            const CursorAndResult next = emitWordNearEnd(stream_, cursor_, word);
            cursor_ = next.cursor;
            return next.result;
        }
        if (!hasFFByte(word)) [[likely]] {
            storeBigEndian32(cursor_, word);
            cursor_ += 4;
            return 0;
        }
        for (int shift = 24; shift >= 0; shift -= 8) {
            const auto byte = static_cast<std::uint8_t>(word >> shift);
            cursor_[0] = byte;
            cursor_[1] = 0;
            cursor_ += byte == 0xFF ? 2 : 1;
        }
        return 0;
    }

private:
    OutputStream* stream_;
    std::uint64_t acc_;
    int pending_;
    std::uint8_t* cursor_;
};

// Category (number of significant bits) and value bits of a coefficient.
inline int categoryOf(std::int32_t v) {
    return std::bit_width(static_cast<std::uint32_t>(v < 0 ? -v : v));
}
inline std::uint32_t valueBits(std::int32_t v, int category) {
    // v - 1 for negative v, cut to `category` bits.
    return static_cast<std::uint32_t>(v + (v >> 31)) & ((std::uint32_t{1} << category) - 1);
}

// Bit k set when zig-zag position k of `zigzag` is non-zero.
inline std::uint64_t nonZeroMask(const std::int16_t* zigzag) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    std::uint64_t zeroMask = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i a = _mm_load_si128(reinterpret_cast<const __m128i*>(zigzag + 16 * i));
        const __m128i b = _mm_load_si128(reinterpret_cast<const __m128i*>(zigzag + 16 * i + 8));
        const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        zeroMask |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(zeros))} << (16 * i);
    }
    return ~zeroMask;
#else
    std::uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) {
        mask |= std::uint64_t{zigzag[k] != 0} << k;
    }
    return mask;
#endif
}

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
    const int result =
        output_bytes::appendPendingAndMarkerBytes(stream, pending, pendingCount, bytes, count);
    if (result != output_bytes::kBufferTooSmall) {
        stream->accumulator = 0;
        stream->bitCount = 0;
    }
    return result;
}

int encodeBlockVector(OutputStream* stream, const HuffmanCodeTable* dcTable,
                      const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                      const std::int16_t* block) {
    const std::int32_t diff = std::int32_t{block[0]} - *dcPredictor;
    *dcPredictor = block[0];

    alignas(16) std::int16_t zigzag[64];
    for (int k = 0; k < 64; ++k) {
        zigzag[k] = block[kZigzagNatural[k]];
    }
    std::uint64_t nonZero = nonZeroMask(zigzag) & ~std::uint64_t{1};

    BitWriter writer(stream);
    if (writer.pendingBits() >= 32) {
        if (const int result = writer.emitWord(); result != 0) {
            return writer.finish(result);
        }
    }

    const int dcCategory = categoryOf(diff);
    const int dcLength = dcTable->length[dcCategory];
    if (dcLength == 0) {
        return writer.finish(kBadHuffmanTable);
    }
    const std::uint64_t dcField =
        (std::uint64_t{dcTable->code[dcCategory]} << dcCategory) | valueBits(diff, dcCategory);
    if (const int result = writer.put(dcField, dcLength + dcCategory); result != 0) {
        return writer.finish(result);
    }

    const std::int32_t* acLength = acTable->length;
    const std::uint16_t* acCode = acTable->code;
    int last = 0;
    while (nonZero != 0) {
        const int k = std::countr_zero(nonZero);
        nonZero &= nonZero - 1;
        int run = k - last - 1;
        last = k;
        while (run > 15)
            [[unlikely]] {
                if (acLength[0xF0] == 0) {
                    return writer.finish(kBadHuffmanTable);
                }
                if (const int result = writer.put(acCode[0xF0], acLength[0xF0]); result != 0) {
                    return writer.finish(result);
                }
                run -= 16;
            }
        const std::int32_t v = zigzag[k];
        const int category = categoryOf(v);
        // Only -32768 reaches 16, which no AC symbol can express.
        if (category > 15) [[unlikely]] {
            return writer.finish(kBadHuffmanTable);
        }
        const int symbol = (run << 4) | category;
        const int length = acLength[symbol];
        if (length == 0) [[unlikely]] {
            return writer.finish(kBadHuffmanTable);
        }
        const std::uint64_t field =
            (std::uint64_t{acCode[symbol]} << category) | valueBits(v, category);
        if (const int result = writer.put(field, length + category); result != 0) [[unlikely]] {
            return writer.finish(result);
        }
    }
    if (last != 63) {
        if (acLength[0x00] == 0) {
            return writer.finish(kBadHuffmanTable);
        }
        return writer.finish(writer.put(acCode[0x00], acLength[0x00]));
    }
    return writer.finish(0);
}
