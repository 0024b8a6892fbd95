// Writers of the JPEG marker segments. Each assembles its segment and hands it to the output
// stream's writeBytes, which first flushes pending entropy-coded bits.
#pragma once

#include "jpeg/outputStream.h"

#include <cstdint>

struct JpegEncoderState;
struct JpegFrameHeader;

struct MarkerOutput {
    WriteBytesFn writeBytes;
    OutputStream* stream;

    int put(const std::uint8_t* bytes, std::int32_t count) const {
        return writeBytes(bytes, count, stream);
    }
};

// The default comment: "Dodov(R) JPEG Library, version " and the full version text.
constexpr const char* kDefaultCommentFormat = "Dodov(R) JPEG Library, version %s";

int writeSoi(const MarkerOutput& out);
int writeEoi(const MarkerOutput& out);
// JFIF segment from the state's version, density units and densities.
int writeApp0(const MarkerOutput& out, const JpegEncoderState& state);
// Adobe segment from the state's version and flags, with the given transform byte.
int writeApp14(const MarkerOutput& out, const JpegEncoderState& state, std::uint8_t transform);
// The caller's comment (cut to 65531 bytes, none when its length is 0) or the default one.
int writeCom(const MarkerOutput& out, JpegEncoderState& state);
// precision 0: one byte per value; 1: two bytes big-endian.
int writeDqt(const MarkerOutput& out, int precision, int tableNumber, const std::int16_t* values);
// One segment with every Huffman table in use, in slot order.
int writeDht(const MarkerOutput& out, const JpegEncoderState& state);
int writeSof0(const MarkerOutput& out, const JpegFrameHeader& frame);
int writeDri(const MarkerOutput& out, int restartInterval);
int writeSos(const MarkerOutput& out, int componentCount, const std::uint8_t* dcTableNumbers,
             const std::uint8_t* acTableNumbers);
