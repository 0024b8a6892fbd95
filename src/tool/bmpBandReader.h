// Reads a bitmap file band by band: rows come from the file when they are asked for, so the
// memory needed grows with the width of the bitmap only, never with its height.
#pragma once

#include "image/bitmapInfoHeader.h"
#include "image/iplImage.h"
#include "image/rleWalker.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// An RGBA image of `width` x `rows` pixels in the layout of an Rgba8 image (rows 8-byte
// aligned), whose pixels the bitmap conversion writes a band at a time.
class BandImage {
public:
    BandImage(int width, int rows);
    ~BandImage();
    BandImage(const BandImage&) = delete;
    BandImage& operator=(const BandImage&) = delete;

    bool valid() const { return header_ != nullptr && header_->imageData != nullptr; }
    ImageHeader& header() { return *header_; }
    std::uint8_t* row(int y) const {
        return reinterpret_cast<std::uint8_t*>(header_->imageData) +
               std::int64_t{y} * header_->widthStep;
    }
    std::int64_t rowStep() const { return header_->widthStep; }

private:
    ImageHeader* header_ = nullptr;
};

class BmpBandReader {
public:
    BmpBandReader();
    ~BmpBandReader();
    BmpBandReader(const BmpBandReader&) = delete;
    BmpBandReader& operator=(const BmpBandReader&) = delete;

    // Opens the bitmap file and runs every check that loadBmpFile runs, in the same order and
    // with the same outcome: false with the same last-error code, or the same refusal of the
    // image library, which ends the process in its default error mode. Run-length data is
    // walked and checked whole here, without decoding any pixel. Inputs that cannot be read at
    // any offset (pipes) are first read into memory, up to the size their header declares.
    bool open(const std::string& fileName);

    // The bitmap's size, as loadBmpFile gives it to its image (0 x 0 before open).
    int width() const { return width_; }
    int height() const { return height_; }

    // Converts image rows [firstRow, firstRow + rows) (row 0 at the top) into rows 0 ..
    // rows - 1 of `band`, exactly as loadBmpFile converts them, alpha aside (the alpha bytes
    // are those of the conversion, before loadBmpFile's fix-up of alpha-less bitmaps). False
    // when the file can no longer be read.
    bool readBand(int firstRow, int rows, BandImage& band);

private:
    class Bytes;
    class FileCodes;

    bool checkWithLibrary();
    bool indexRunLengthRows();
    bool readStoredRows(int firstRow, int rows);
    bool decodeRunLengthRows(int firstRow, int rows);

    std::unique_ptr<Bytes> bytes_;
    BITMAPINFOHEADER info_{};
    int width_ = 0;
    int height_ = 0;
    std::int64_t blockSize_ = 0;  // bitmap bytes after the file header
    std::int64_t rowsOffset_ = 0; // pixel rows or run-length data, from the block's start
    std::int64_t rowBytes_ = 0;   // stored (or decoded) row size, padded to 4 bytes
    bool runLength_ = false;
    // The bitmap as the conversion sees one band: header, table (or masks) and the rows.
    std::vector<std::uint8_t> bandDib_;
    std::int64_t bandRowsOffset_ = 0;
    // Run-length data: where decoding enters each row (rows counted from the bottom).
    struct RowEntry {
        std::int64_t offset = -1; // -1: no code sets a pixel of this row
        std::int64_t x = 0;
    };
    std::vector<RowEntry> rowEntries_;
    std::unique_ptr<FileCodes> codes_;
};
