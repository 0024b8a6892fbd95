// Writers of the JPEG marker segments. Each assembles its segment and hands it to the output
// stream's writeBytes, which first flushes pending entropy-coded bits.
#pragma once

#include "jpeg/jpegStatus.h"
#include "jpeg/outputStream.h"

#include <cstdint>

struct JpegComponent;
struct JpegEncoderState;
struct JpegFrameHeader;

// Where a sequence of segments goes. The first failure sticks: nothing more is written once a
// segment failed, and status() reports that failure.
class MarkerOutput {
public:
    MarkerOutput(WriteBytesFn writeBytes, OutputStream* stream)
        : writeBytes_(writeBytes), stream_(stream) {}

    void put(const std::uint8_t* bytes, std::int32_t count) {
        if (status_.ok()) {
            status_.record(writeBytes_(bytes, count, stream_));
        }
    }
    // Writes the pending bits and, with a file, the buffered bytes.
    void flush() {
        if (status_.ok()) {
            status_.record(flushOutput(stream_, writeBytes_));
        }
    }
    // Ends the sequence with a failure of the caller's (a bad table, no memory).
    void fail(int status) { status_.record(status); }
    bool ok() const { return status_.ok(); }
    int status() const { return status_.status(); }

private:
    WriteBytesFn writeBytes_;
    OutputStream* stream_;
    FirstFailure status_;
};

// The default comment: "Dodov(R) JPEG Library, version " and the full version text.
constexpr const char* kDefaultCommentFormat = "Dodov(R) JPEG Library, version %s";

void writeSoi(MarkerOutput& out);
void writeEoi(MarkerOutput& out);
// JFIF segment from the state's version, density units and densities.
void writeApp0(MarkerOutput& out, const JpegEncoderState& state);
// Adobe segment from the state's version and flags, with the given transform byte.
void writeApp14(MarkerOutput& out, const JpegEncoderState& state, std::uint8_t transform);
// The caller's comment (cut to 65531 bytes, none when its length is 0) or the default one.
// Leaves the state alone after an earlier failure.
void writeCom(MarkerOutput& out, JpegEncoderState& state);
// precision 0: one byte per value; 1: two bytes big-endian.
void writeDqt(MarkerOutput& out, int precision, int tableNumber, const std::int16_t* values);
// One segment with every Huffman table in use, in slot order.
void writeDht(MarkerOutput& out, const JpegEncoderState& state);
void writeSof0(MarkerOutput& out, const JpegFrameHeader& frame, const JpegComponent* components);
void writeDri(MarkerOutput& out, int restartInterval);
void writeSos(MarkerOutput& out, int componentCount, const std::uint8_t* dcTableNumbers,
              const std::uint8_t* acTableNumbers);
