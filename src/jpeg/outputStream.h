// The encoder's output stream: bit accumulator and byte buffer, either the stream's own
// 4,096-byte buffer, emptied into a byte sink whenever it fills, or the caller's memory.
#pragma once

#include "jpeg/huffmanTable.h"
#include "util/simdTargets.h"

#include <cstdint>

class ByteSink;

constexpr std::int32_t kFileBufferSize = 4096;

struct OutputStream {
    // Bit side. Plain routines: `accumulator` holds the pending byte in its low 8 bits and
    // `bitCount` is the number of free bits in it (8 = nothing pending). Vector routines: the
    // pending bits sit at the top of the 64-bit accumulator and `bitCount` counts them.
    std::uint64_t accumulator = 0;
    std::int32_t bitCount = 0;
    // Byte side.
    std::uint8_t* cursor = nullptr;
    std::uint8_t* end = nullptr;
    std::uint8_t* start = nullptr;
    std::int32_t bufferSize = 0;
    std::int32_t byteCount = 0; // bytes produced by the current write, stuffing included
    // Where full buffers go; null: the bytes stay in the caller's memory, and the write ends
    // when that is full.
    ByteSink* sink = nullptr;
    alignas(32) std::uint8_t fileBuffer[kFileBufferSize];
};

// True when full buffers are written out to the sink rather than ending the write as caller
// memory does.
inline bool spillsBuffer(const OutputStream* stream) {
    return stream->sink != nullptr;
}

// Bits coded but not yet in a byte: the low `count` bits of `bits`, first bit highest.
struct PendingBits {
    std::uint64_t bits = 0;
    int count = 0;
};

// Routine-table slot types.
using StartOutputFn = void (*)(OutputStream* stream, std::uint8_t* memory, std::int32_t size);
using WriteBytesFn = int (*)(const std::uint8_t* bytes, std::int32_t count, OutputStream* stream);
using EncodeBlockFn = int (*)(OutputStream* stream, const HuffmanCodeTable* dcTable,
                              const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                              const std::int16_t* block);
using PendingBitsFn = PendingBits (*)(const OutputStream* stream);
// Quantises `block` (natural order) with `reciprocals` and codes it: the bytes of the set's
// quantiser followed by its block coder. The block's content afterwards is unspecified.
using QuantizeEncodeBlockFn = int (*)(OutputStream* stream, const HuffmanCodeTable* dcTable,
                                      const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                                      std::int16_t* block, const std::uint16_t* reciprocals);

// Plain set: 8-bit pending byte, byte-at-a-time output.
void startOutputPlain(OutputStream* stream, std::uint8_t* memory, std::int32_t size);
int writeBytesPlain(const std::uint8_t* bytes, std::int32_t count, OutputStream* stream);
int encodeBlockPlain(OutputStream* stream, const HuffmanCodeTable* dcTable,
                     const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                     const std::int16_t* block);
PendingBits pendingBitsPlain(const OutputStream* stream);

// Vector set: 64-bit accumulator. Same bytes on the wire as the plain set.
void startOutputVector(OutputStream* stream, std::uint8_t* memory, std::int32_t size);
int writeBytesVector(const std::uint8_t* bytes, std::int32_t count, OutputStream* stream);
int encodeBlockVector(OutputStream* stream, const HuffmanCodeTable* dcTable,
                      const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                      const std::int16_t* block);
PendingBits pendingBitsVector(const OutputStream* stream);

#if defined(QMJPEG_AVX2_ROUTINES)
// encodeBlockVector reading the block into zig-zag order with AVX2; the same bytes.
int encodeBlockAvx2(OutputStream* stream, const HuffmanCodeTable* dcTable,
                    const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                    const std::int16_t* block);
// quantizeBlockAvx2 and encodeBlockAvx2 in one pass over the block held in registers.
int quantizeEncodeBlockAvx2(OutputStream* stream, const HuffmanCodeTable* dcTable,
                            const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                            std::int16_t* block, const std::uint16_t* reciprocals);
#endif
#if defined(QMJPEG_AVX512_ROUTINES)
// encodeBlockVector reading the block into zig-zag order with AVX-512BW; the same bytes.
int encodeBlockAvx512(OutputStream* stream, const HuffmanCodeTable* dcTable,
                      const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                      const std::int16_t* block);
// quantizeBlockAvx2's arithmetic and encodeBlockAvx512 in one pass over the block held in
// registers.
int quantizeEncodeBlockAvx512(OutputStream* stream, const HuffmanCodeTable* dcTable,
                              const HuffmanCodeTable* acTable, std::int16_t* dcPredictor,
                              std::int16_t* block, const std::uint16_t* reciprocals);
#endif

// Writes the pending bits (through `writeBytes` with no bytes) and then, with a sink, the
// buffered bytes. 0 or the sink's failure.
int flushOutput(OutputStream* stream, WriteBytesFn writeBytes);

// Writes the restart marker FF D0+n; n above 7 gives JPEG_ERR_BAD_RST_MARKER.
int writeRestartMarker(int n, OutputStream* stream, WriteBytesFn writeBytes);
