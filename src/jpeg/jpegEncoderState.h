// The encoder's working state: what jpegInitialize sets up and jpegWrite works on, held in
// the caller's JPEG_PROPERTIES record.
#pragma once

#include "jpeg/huffmanTable.h"
#include "jpeg/jpegFile.h"
#include "jpeg/outputStream.h"
#include "jpeg/routineTable.h"

#include <cstddef>
#include <cstdint>

// The largest number of components an interleaved baseline scan can carry. The layout of a
// write refuses more (layOutComponents); only the segment writers check again, for the
// sake of their fixed buffers.
constexpr int kJpegMaxComponents = 4;
// Table numbers a baseline stream has for each kind of table (quantisation, DC, AC): 0 to 3.
constexpr int kJpegTableSlots = 4;
// Room of the MCU block buffer: 4 + 1 + 1 + 4 blocks for the largest sampling layout.
constexpr int kJpegMaxBlocksPerMcu = 10;

struct JpegScanRecord;

struct JpegComponent {
    std::int32_t index;
    std::int32_t h; // horizontal sampling factor
    std::int32_t v; // vertical sampling factor
    std::int32_t quantTable;
};

// How the fetch routine for other layouts than 4-byte RGB to YCbCr reads and converts the
// source, decided once per image (selectFetchRoutine).
enum class FetchConversion : std::int32_t {
    Direct,        // plane k, level-shifted, is component k; components beyond the planes are 0
    Luminance,     // planes 0 to 2 are red, green, blue: one luminance component
    YccFromRgb,    // planes 0 to 2 to Y, Cb, Cr; a plane 3 stays as component 3
    YccFromInverse // every plane as 255 - x first, then as YccFromRgb
};

struct FetchLayout {
    FetchConversion conversion;
    std::int32_t planeCount;    // source bytes gathered per pixel, 1 to 4
    std::int32_t byteOffset[4]; // where each plane's byte lies in the pixel
    std::int32_t pixelBytes;    // bytes from pixel to pixel
    std::int32_t packed;        // non-zero: Y0 Cb Y1 Cr pairs, two bytes per pixel
};

// The frame of a write (the sample precision is always 8).
struct JpegFrameHeader {
    std::int32_t width;
    std::int32_t height;
    std::int32_t mcuHeight; // pixels
    std::int32_t mcuWidth;  // pixels
    std::int32_t hMax;
    std::int32_t vMax;
    std::int32_t componentCount;
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

// The caller's fields of JPEG_PROPERTIES, in their order. The working state keeps a copy.
struct JpegPublicFields {
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
};

class JpegRowSource;

// The layout of a write, fixed once its scan starts: the copy of the public fields, the source
// stride, the components with their sampling factors and table numbers, and the MCU geometry.
// Every coder of the scan reads it; none writes it.
struct EncoderConfig {
    // Copy of the public fields; the write adjusts outputSampling, upsample and
    // outputBufferSize in it. inputPixels is the caller's.
    JpegPublicFields fields;
    std::ptrdiff_t rowStride; // bytes from image row to image row; negative for bottom-up
    std::int32_t colorConversion;
    std::int32_t subsampled;

    JpegFrameHeader frameHeader;
    JpegComponent components[kJpegMaxComponents];
    std::uint8_t dcTableNumbers[kJpegMaxComponents];
    std::uint8_t acTableNumbers[kJpegMaxComponents];
    std::int32_t restartInterval; // MCUs; 0 = no restart markers

    std::int32_t mcusPerRow;
    std::int32_t mcuRows;
    FetchLayout fetchLayout; // read by the fetch routine for the other layouts
};

// The tables derived from the table slots once per write and shared by every coder.
struct EncoderTables {
    // Scaled quantisation tables (zig-zag order), rewritten in place into the quantiser's
    // reciprocal tables (natural order); quantTables[table number] points at the prepared one.
    alignas(8) std::uint16_t quantStorage[kJpegTableSlots][64];
    const std::uint16_t* quantTables[kJpegTableSlots];

    HuffmanCodeTable huffmanTables[8];
    const HuffmanCodeTable* dcTables[kJpegTableSlots]; // by table number
    const HuffmanCodeTable* acTables[kJpegTableSlots];
};

// One coder of a scan: where its source rows are, its MCU blocks, its DC predictors and its
// output. A scan coded in parts has one of these per thread, each reading the shared config.
struct ScanCoderState {
    const EncoderConfig* config;
    // Image row 0 of the source: inputPixels, or its last stored row for bottom-up sources.
    // With a row source: the first row of the current band, image row sourceFirstRow.
    const std::uint8_t* sourceOrigin;
    std::int32_t sourceFirstRow;
    JpegRowSource* rowSource; // null: the whole source is at inputPixels
    int lane;                 // the row source's lane this coder reads

    std::int16_t dcPredictors[kJpegMaxComponents];
    OutputStream stream;

    // MCU block buffer: the blocks of one MCU, 64 values each, natural order.
    alignas(32) std::int16_t mcuBlocks[kJpegMaxBlocksPerMcu * 64];
};

// The encoder's working state. Owned by the encoder; filled by jpegInitialize and jpegWrite.
struct JpegEncoderState {
    std::int32_t requestCode;
    // Where a suspended scan stopped (pixels) and the flag that suspends it after one MCU.
    std::int32_t resumeX;
    std::int32_t resumeY;
    std::int32_t interruptFlag;
    std::int32_t dctMethod; // must be 0 or 1; both use the same transforms

    EncoderConfig config;
    EncoderTables tables;
    ScanCoderState coder;

    std::int32_t quantTableCount;
    std::int32_t huffmanPairCount;
    JpegQuantSlot quantSlots[kJpegTableSlots];
    JpegHuffmanSlot huffmanSlots[2 * kJpegTableSlots]; // a DC and an AC slot per number
    std::int32_t callerQuantTables;
    std::int32_t callerHuffmanTables;

    JpegScanRecord* suspendedScan;

    // The file a file request opened by name (kept open while its scan is suspended), and
    // that name (the caller's text).
    JpegFileHandle outputFile;
    const char* outputPath;
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

    RoutineTable routines; // empty before jpegInitialize and after jpegRelease
};
