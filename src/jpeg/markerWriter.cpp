// Marker segment writers. All numbers are big-endian.
#include "jpeg/markerWriter.h"

#include "jpeg/jpegEncoder.h"
#include "jpeg/jpegEncoderState.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace {

// Appends to a local segment buffer.
class SegmentBuilder {
public:
    explicit SegmentBuilder(std::uint8_t* buffer) : start_(buffer), cursor_(buffer) {}

    void marker(std::uint8_t code) {
        byte(0xFF);
        byte(code);
    }
    void word(unsigned value) {
        byte(static_cast<std::uint8_t>((value >> 8) & 0xFF));
        byte(static_cast<std::uint8_t>(value & 0xFF));
    }
    void byte(unsigned value) { *cursor_++ = static_cast<std::uint8_t>(value); }
    void bytes(const void* source, std::size_t count) {
        std::memcpy(cursor_, source, count);
        cursor_ += count;
    }
    std::int32_t size() const { return static_cast<std::int32_t>(cursor_ - start_); }
    const std::uint8_t* data() const { return start_; }

private:
    std::uint8_t* start_;
    std::uint8_t* cursor_;
};

void send(MarkerOutput& out, const SegmentBuilder& segment) {
    out.put(segment.data(), segment.size());
}

constexpr std::uint8_t kSoi = 0xD8;
constexpr std::uint8_t kEoi = 0xD9;
constexpr std::uint8_t kApp0 = 0xE0;
constexpr std::uint8_t kApp14 = 0xEE;
constexpr std::uint8_t kCom = 0xFE;
constexpr std::uint8_t kDqt = 0xDB;
constexpr std::uint8_t kDht = 0xC4;
constexpr std::uint8_t kSof0 = 0xC0;
constexpr std::uint8_t kDri = 0xDD;
constexpr std::uint8_t kSos = 0xDA;

constexpr std::uint16_t kLongestComment = 65531;
constexpr int kLongestHuffmanTableSegment = 324;

} // namespace

void writeSoi(MarkerOutput& out) {
    std::uint8_t buffer[2];
    SegmentBuilder segment(buffer);
    segment.marker(kSoi);
    send(out, segment);
}

void writeEoi(MarkerOutput& out) {
    std::uint8_t buffer[2];
    SegmentBuilder segment(buffer);
    segment.marker(kEoi);
    send(out, segment);
}

void writeApp0(MarkerOutput& out, const JpegEncoderState& state) {
    std::uint8_t buffer[18];
    SegmentBuilder segment(buffer);
    segment.marker(kApp0);
    segment.word(16);
    segment.bytes("JFIF", 5); // with its terminating zero
    segment.word(state.jfifVersion);
    segment.byte(state.densityUnits);
    segment.word(state.xDensity);
    segment.word(state.yDensity);
    segment.byte(0); // thumbnail width
    segment.byte(0); // thumbnail height
    send(out, segment);
}

void writeApp14(MarkerOutput& out, const JpegEncoderState& state, std::uint8_t transform) {
    std::uint8_t buffer[16];
    SegmentBuilder segment(buffer);
    segment.marker(kApp14);
    segment.word(14);
    segment.bytes("Adobe", 5);
    segment.word(state.app14Version);
    segment.word(state.app14Flags0);
    segment.word(state.app14Flags1);
    segment.byte(transform);
    send(out, segment);
}

void writeCom(MarkerOutput& out, JpegEncoderState& state) {
    if (!out.ok()) {
        return;
    }
    if (state.commentText != nullptr) {
        if (state.commentLength == 0) {
            return;
        }
        if (state.commentLength > kLongestComment) {
            state.commentLength = kLongestComment;
        }
        const std::size_t length = state.commentLength;
        std::vector<std::uint8_t> buffer;
        try {
            buffer.assign(length + 4, 0);
        } catch (const std::bad_alloc&) {
            out.fail(JPEG_ERR_MEMORY);
            return;
        }
        SegmentBuilder segment(buffer.data());
        segment.marker(kCom);
        segment.word(static_cast<unsigned>(length + 2));
        segment.bytes(state.commentText, length);
        send(out, segment);
        return;
    }

    std::uint8_t buffer[80] = {};
    const int formatted = std::snprintf(reinterpret_cast<char*>(buffer + 4), sizeof(buffer) - 4,
                                        kDefaultCommentFormat, jpegVersionInfo()->fullVersion);
    if (formatted < 0 || formatted >= static_cast<int>(sizeof(buffer) - 4)) {
        out.fail(JPEG_ERR_COMMENT);
        return;
    }
    SegmentBuilder segment(buffer);
    segment.marker(kCom);
    segment.word(static_cast<unsigned>(formatted + 3));
    if (formatted > static_cast<int>(std::strlen(kDefaultCommentFormat))) {
        out.put(buffer, formatted + 5); // marker, length, text and its terminator
    }
}

void writeDqt(MarkerOutput& out, int precision, int tableNumber, const std::int16_t* values) {
    std::uint8_t buffer[5 + 128];
    SegmentBuilder segment(buffer);
    segment.marker(kDqt);
    segment.word(precision == 0 ? 67 : 131);
    segment.byte(static_cast<unsigned>(precision * 16 + tableNumber));
    for (int i = 0; i < 64; ++i) {
        if (precision == 0) {
            segment.byte(static_cast<unsigned>(values[i]));
        } else {
            segment.word(static_cast<std::uint16_t>(values[i]));
        }
    }
    send(out, segment);
}

void writeDht(MarkerOutput& out, const JpegEncoderState& state) {
    const int tableCount = 2 * state.huffmanPairCount;
    if (tableCount < 0 || tableCount > 8) {
        out.fail(JPEG_ERR_BAD_HUFFMAN_TABLE);
        return;
    }
    int symbolCounts[8] = {};
    unsigned length = 2;
    for (int t = 0; t < tableCount; ++t) {
        const JpegHuffmanSlot& slot = state.huffmanSlots[t];
        if (slot.bits == nullptr || slot.huffval == nullptr) {
            out.fail(JPEG_ERR_BAD_HUFFMAN_TABLE);
            return;
        }
        for (int i = 0; i < 16; ++i) {
            symbolCounts[t] += slot.bits[i];
        }
        length += 17 + static_cast<unsigned>(symbolCounts[t]);
    }

    std::uint8_t header[4];
    SegmentBuilder start(header);
    start.marker(kDht);
    start.word(length);
    send(out, start);
    for (int t = 0; t < tableCount; ++t) {
        const JpegHuffmanSlot& slot = state.huffmanSlots[t];
        if (17 + symbolCounts[t] > kLongestHuffmanTableSegment) {
            out.fail(JPEG_ERR_BAD_HUFFMAN_TABLE);
            return;
        }
        std::uint8_t buffer[kLongestHuffmanTableSegment];
        SegmentBuilder segment(buffer);
        segment.byte(static_cast<unsigned>(slot.tableClass * 16 + slot.tableNumber));
        segment.bytes(slot.bits, 16);
        segment.bytes(slot.huffval, static_cast<std::size_t>(symbolCounts[t]));
        send(out, segment);
    }
}

void writeSof0(MarkerOutput& out, const JpegFrameHeader& frame, const JpegComponent* components) {
    const int count = frame.componentCount;
    if (count < 1 || count > kJpegMaxComponents) {
        out.fail(JPEG_ERR_NOT_SUPPORTED);
        return;
    }
    std::uint8_t buffer[10 + 3 * kJpegMaxComponents];
    SegmentBuilder segment(buffer);
    segment.marker(kSof0);
    segment.word(static_cast<unsigned>(8 + 3 * count));
    segment.byte(8);
    segment.word(static_cast<unsigned>(frame.height));
    segment.word(static_cast<unsigned>(frame.width));
    segment.byte(static_cast<unsigned>(count));
    for (int i = 0; i < count; ++i) {
        const JpegComponent& component = components[i];
        if (count == 1) {
            segment.byte(0);
            segment.byte(0x11);
        } else {
            segment.byte(static_cast<unsigned>(i + 1));
            segment.byte(static_cast<unsigned>(component.h * 16 + component.v));
        }
        segment.byte(static_cast<unsigned>(component.quantTable));
    }
    send(out, segment);
}

void writeDri(MarkerOutput& out, int restartInterval) {
    std::uint8_t buffer[6];
    SegmentBuilder segment(buffer);
    segment.marker(kDri);
    segment.word(4);
    segment.word(static_cast<unsigned>(restartInterval));
    send(out, segment);
}

void writeSos(MarkerOutput& out, int componentCount, const std::uint8_t* dcTableNumbers,
              const std::uint8_t* acTableNumbers) {
    if (componentCount < 1 || componentCount > kJpegMaxComponents) {
        out.fail(JPEG_ERR_NOT_SUPPORTED);
        return;
    }
    std::uint8_t buffer[8 + 2 * kJpegMaxComponents];
    SegmentBuilder segment(buffer);
    segment.marker(kSos);
    segment.word(static_cast<unsigned>(6 + 2 * componentCount));
    segment.byte(static_cast<unsigned>(componentCount));
    for (int i = 0; i < componentCount; ++i) {
        if (componentCount == 1) {
            segment.byte(0);
            segment.byte(0x00);
        } else {
            segment.byte(static_cast<unsigned>(i + 1));
            segment.byte(static_cast<unsigned>(dcTableNumbers[i] * 16 + acTableNumbers[i]));
        }
    }
    segment.byte(0);  // Ss
    segment.byte(63); // Se
    segment.byte(0);  // Ah, Al
    send(out, segment);
}
