// Baseline sequential JPEG encoder: the caller-owned properties record, its working state,
// the request, colour, sampling and status codes, and the operations on the record.
//
// Use: jpegInitialize, set the public fields, jpegWrite (any number of times), jpegRelease.
// The record must stay at one address from jpegInitialize to jpegRelease.
#pragma once

#include "jpeg/huffmanTable.h"
#include "jpeg/outputStream.h"

#include <cstddef>
#include <cstdint>

// Colour codes (inputColor, outputColor).
constexpr std::int32_t JPEG_COLOR_RGB = 1;
constexpr std::int32_t JPEG_COLOR_BGR = 2;
constexpr std::int32_t JPEG_COLOR_YCBCR = 3;
constexpr std::int32_t JPEG_COLOR_GRAY = 4;
constexpr std::int32_t JPEG_COLOR_FOUR_CHANNEL = 5;
constexpr std::int32_t JPEG_COLOR_YCC_FOUR_CHANNEL = 6;
constexpr std::int32_t JPEG_COLOR_OTHER = 255;

// Sampling codes (outputSampling).
constexpr std::int32_t JPEG_SAMPLING_NONE = 0;
constexpr std::int32_t JPEG_SAMPLING_H2V2 = 1;
constexpr std::int32_t JPEG_SAMPLING_H2V1 = 2;
constexpr std::int32_t JPEG_SAMPLING_H2V2_ALPHA = 3;
constexpr std::int32_t JPEG_SAMPLING_H2V1_ALPHA = 4;

// Request codes of jpegWrite. Even codes write to outputFileName, odd ones into outputBuffer.
// Codes 0 to 7 and 14 to 21 belong to the decoder; -1 means no request.
constexpr std::int32_t JPEG_NO_REQUEST = -1;
constexpr std::int32_t JPEG_WRITE_FILE_IMAGE = 8;
constexpr std::int32_t JPEG_WRITE_BUFFER_IMAGE = 9;
constexpr std::int32_t JPEG_WRITE_FILE_TABLES = 10;
constexpr std::int32_t JPEG_WRITE_BUFFER_TABLES = 11;
constexpr std::int32_t JPEG_WRITE_FILE_SCAN = 12;
constexpr std::int32_t JPEG_WRITE_BUFFER_SCAN = 13;

// Status codes.
constexpr int JPEG_ROI_SUCCESS = 2;
constexpr int JPEG_INTERRUPT_SUCCESS = 1;
constexpr int JPEG_SUCCESS = 0;
constexpr int JPEG_ERR_EXCEPTION = -1;
constexpr int JPEG_ERR_INVALID_ENCODER = -2;
constexpr int JPEG_ERR_SUBSAMPLING = -3;
constexpr int JPEG_ERR_BYTES_PER_PIXEL = -4;
constexpr int JPEG_ERR_MEMORY = -5;
constexpr int JPEG_ERR_BAD_HUFFMAN_TABLE = -6;
constexpr int JPEG_ERR_BAD_QUANT_TABLE = -7;
constexpr int JPEG_ERR_PROPERTIES = -8;
constexpr int JPEG_ERR_CLOSE_FILE = -9;
constexpr int JPEG_ERR_FILE_NAME = -10;
constexpr int JPEG_ERR_EOF = -11;
constexpr int JPEG_ERR_NOT_SUPPORTED = -12;
constexpr int JPEG_ERR_COMPONENTS = -14;
constexpr int JPEG_ERR_NO_HUFFMAN_TABLE = -17;
constexpr int JPEG_ERR_NO_QUANT_TABLE = -18;
constexpr int JPEG_ERR_FILE = -23;
constexpr int JPEG_ERR_INTERNAL = -24;
constexpr int JPEG_ERR_BAD_RST_MARKER = -25;
constexpr int JPEG_ERR_BUFFER_TOO_SMALL = -28;
constexpr int JPEG_ERR_COMMENT = -30;

// The largest number of components an interleaved baseline scan can carry.
constexpr int kJpegMaxComponents = 4;
// Room of the MCU block buffer: 4 + 1 + 1 + 4 blocks for the largest sampling layout.
constexpr int kJpegMaxBlocksPerMcu = 10;

struct RoutineTable;
struct JpegScanRecord;
struct JpegRowSource;

struct JpegComponent {
    std::int32_t index;
    std::int32_t h; // horizontal sampling factor
    std::int32_t v; // vertical sampling factor
    std::int32_t quantTable;
};

struct JpegFrameHeader {
    std::int32_t precision;
    std::int32_t width;
    std::int32_t height;
    std::int32_t mcuHeight; // pixels
    std::int32_t mcuWidth;  // pixels
    std::int32_t hMax;
    std::int32_t vMax;
    std::int32_t componentCount;
    std::int32_t mcusPerRow;
    std::int32_t totalMcus;
    JpegComponent* components;
};

struct JpegQuantSlot {
    const std::uint8_t* baseTable; // 64 values, zig-zag order; null = empty slot
    std::uint8_t tableNumber;
};

struct JpegHuffmanSlot {
    const std::uint8_t* bits;    // 16 BITS counts
    const std::uint8_t* huffval; // the symbols
    std::uint8_t tableClass;     // 0 = DC, 1 = AC
    std::uint8_t tableNumber;
};

// The encoder's working state. Owned by the encoder; filled by jpegInitialize and jpegWrite.
struct JpegEncoderState {
    std::int32_t requestCode;
    // Where a suspended scan stopped (pixels) and the flag that suspends it after one MCU.
    std::int32_t resumeX;
    std::int32_t resumeY;
    std::int32_t interruptFlag;
    std::int32_t dctMethod;

    // Copies of the public fields.
    const std::uint8_t* inputPixels; // moved to the last stored row for bottom-up sources
    std::int32_t inputWidth;
    std::int32_t inputHeight;
    std::int32_t inputRowPadding;
    std::int32_t inputChannels;
    std::int32_t inputColor;
    std::int32_t inputSampling;
    const char* outputFileName;
    std::uint8_t* outputBuffer;
    std::int32_t outputBufferSize;
    std::int32_t outputWidth;
    std::int32_t outputHeight;
    std::int32_t outputChannels;
    std::int32_t outputColor;
    std::int32_t outputSampling;
    std::int32_t convertColor;
    std::int32_t upsample;
    std::int32_t quality;
    std::ptrdiff_t rowStride; // bytes from image row to image row; negative for bottom-up
    std::int32_t colorConversion;
    std::int32_t subsampled;

    std::int32_t forceMcu8x8;
    std::int32_t mcusPerRow;
    std::int32_t mcuRows;

    std::int32_t quantTableCount;
    std::int32_t dcTableCount;
    std::int32_t acTableCount;
    std::int32_t huffmanPairCount;

    // Scaled quantisation tables (zig-zag order), rewritten in place into the quantiser's
    // reciprocal tables (natural order); quantTables[table number] points at the prepared one.
    alignas(8) std::uint16_t quantStorage[4][64];
    const std::uint16_t* quantTables[4];

    HuffmanCodeTable huffmanTables[8];
    const HuffmanCodeTable* dcTables[4]; // by table number
    const HuffmanCodeTable* acTables[4];

    JpegQuantSlot quantSlots[4];
    JpegHuffmanSlot huffmanSlots[8];
    std::int32_t callerQuantTables;
    std::int32_t callerHuffmanTables;

    std::uint8_t dcTableNumbers[4];
    std::uint8_t acTableNumbers[4];

    JpegFrameHeader frameHeader;
    JpegComponent* components; // kJpegMaxComponents entries

    std::int32_t restartInterval; // MCUs; 0 = no restart markers
    std::int32_t progressive;
    JpegScanRecord* suspendedScan;

    OutputStream stream;
    std::int32_t processorClass;

    std::uint16_t jfifVersion;
    std::uint8_t densityUnits;
    std::uint16_t xDensity;
    std::uint16_t yDensity;
    std::uint16_t app14Version;
    std::uint16_t app14Flags0;
    std::uint16_t app14Flags1;

    const std::uint8_t* commentText; // null: the default comment
    std::uint16_t commentLength;

    // Image row 0 of the source: inputPixels, or its last stored row for bottom-up sources.
    // With a row source: the first row of the current band, image row sourceFirstRow.
    const std::uint8_t* sourceOrigin;
    std::int32_t sourceFirstRow;
    JpegRowSource* rowSource; // null: the whole source is at inputPixels

    // MCU block buffer: the blocks of one MCU, 64 values each, natural order.
    alignas(32) std::int16_t mcuBlocks[kJpegMaxBlocksPerMcu * 64];

    RoutineTable* routines;
};

struct JPEG_PROPERTIES {
    std::int32_t useStateAsIs;
    const std::uint8_t* inputPixels;
    std::int32_t inputWidth;
    std::int32_t inputHeight;
    std::int32_t inputRowPadding;
    std::int32_t inputChannels;
    std::int32_t inputColor;
    std::int32_t inputSampling;
    const char* outputFileName;
    std::uint8_t* outputBuffer;
    std::int32_t outputBufferSize;
    std::int32_t outputWidth;
    std::int32_t outputHeight;
    std::int32_t outputChannels;
    std::int32_t outputColor;
    std::int32_t outputSampling;
    std::int32_t thumbnailWidth;
    std::int32_t thumbnailHeight;
    std::int32_t convertColor;
    std::int32_t upsample;
    std::int32_t quality;
    std::int32_t reserved; // neither read nor written by the encoder
    JpegEncoderState state;
};

struct JpegVersion {
    int major;
    int minor;
    int build;
    const char* name;
    const char* version;
    const char* fullVersion;
    const char* buildDate;
    const char* buildTool;
};

// 0, or -5 when memory runs out. Overwrites every public field.
int jpegInitialize(JPEG_PROPERTIES* properties);
// Writes what the request code asks for; a status code.
int jpegWrite(JPEG_PROPERTIES* properties, int requestCode);
// Closes an open output file and frees the working memory. 0, -9 or -8.
int jpegRelease(JPEG_PROPERTIES* properties);
// The text of a status code; "Unknown error code" for codes without one.
const char* jpegStatusText(int status);
const JpegVersion* jpegVersionInfo();
