// Reads a bitmap file band by band: rows come from the file when they are asked for, so the
// memory needed grows with the width of the bitmap only, never with its height.
#pragma once

#include "image/dibLayout.h"
#include "image/iplImage.h"
#include "jpeg/jpegRowSource.h"
#include "tool/bmpLoader.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class DibRowConverter;

// Rows per band: one MCU row of the encoder's row source.
inline constexpr int kBandRows = kRowSourceMcuRows;

// An RGBA image of `width` x `rows` pixels in the layout of an Rgba8 image (rows 8-byte
// aligned), whose pixels the bitmap conversion writes a band at a time.
class BandImage {
public:
    BandImage(int width, int rows, bool allocate = true);
    ~BandImage();
    BandImage(const BandImage&) = delete;
    BandImage& operator=(const BandImage&) = delete;

    bool valid() const { return header_ != nullptr && header_->imageData != nullptr; }
    bool hasHeader() const { return header_ != nullptr; }
    ImageHeader& header() const { return *header_; }
    std::uint8_t* row(int y) const {
        return reinterpret_cast<std::uint8_t*>(header_->imageData) +
               std::int64_t{y} * header_->widthStep;
    }
    std::int64_t rowStep() const { return header_->widthStep; }

private:
    ImageHeader* header_ = nullptr;
};

class BmpBandReader {
    class FileCodes;

public:
    // The working memory of one thread's band reads: several threads may read bands of one
    // open reader at once, each with a scratch of its own.
    class Scratch {
    public:
        Scratch();
        ~Scratch();
        Scratch(const Scratch&) = delete;
        Scratch& operator=(const Scratch&) = delete;

    private:
        friend class BmpBandReader;
        // Stored (or decoded run-length) rows of one band, in the layout's row order.
        std::vector<std::uint8_t> rows;
        std::unique_ptr<FileCodes> codes;
    };

    BmpBandReader();
    ~BmpBandReader();
    BmpBandReader(const BmpBandReader&) = delete;
    BmpBandReader& operator=(const BmpBandReader&) = delete;

    // Opens the bitmap file and runs every check that loadBmp runs, in the same order and with
    // the same outcome: the same failure code and reason, refusals of the image library's
    // conversion included (returned here, not reported). Run-length data is walked and checked
    // whole here, without decoding any pixel. Inputs that cannot be read at any offset (pipes)
    // are first read into memory, up to the size their header declares.
    Outcome open(const std::string& fileName);

    // The bitmap's size, as loadBmpFile gives it to its image (0 x 0 before open).
    int width() const { return width_; }
    int height() const { return height_; }

    // Converts image rows [firstRow, firstRow + rows) (row 0 at the top, at most kBandRows) into
    // rows 0 .. rows - 1 of `band` (at least as wide as the bitmap), exactly as loadBmpFile
    // converts them, alpha aside (the alpha bytes are those of the conversion, before
    // loadBmpFile's fix-up of alpha-less bitmaps). Bands may be read in any order. False when
    // the file can no longer be read as it was checked.
    bool readBand(int firstRow, int rows, BandImage& band) {
        return readBand(firstRow, rows, band, ownScratch_);
    }
    // The same with the working memory of the calling thread.
    bool readBand(int firstRow, int rows, BandImage& band, Scratch& scratch) const;

    // Bytes of a stored pixel when the bitmap stores its pixels as blue, green, red (and a
    // fourth byte) with no colour table, masks or compression: 3 or 4. 0 for every other form.
    int storedBgrPixelBytes() const;
    // For such a bitmap, reads the stored rows of image rows [firstRow, firstRow + rows) as
    // readBand would read them (bytes missing at the end of the file read as 0), and returns
    // where image row firstRow is; the next image row is `step` bytes further (negative when
    // the rows are stored bottom-up). They stay readable until the scratch's next read. Null
    // when the bitmap has another form or the file can no longer be read as it was checked.
    const std::uint8_t* readStoredBand(int firstRow, int rows, Scratch& scratch,
                                       std::int64_t& step) const;

private:
    class Bytes;
    struct BandRows;

    static Outcome unreadable();
    // Reads the block's first bytes and checks the bitmap; sets the size.
    Outcome checkBlock(std::int64_t pixelOffset);
    // Reads the rest of what the conversion reads ahead of the rows.
    bool readPrefix();
    Outcome indexRunLengthRows();
    std::int64_t runLengthRowBytes() const;
    bool readStoredRows(int firstRow, int rows, Scratch& scratch) const;
    bool decodeRunLengthRows(int firstRow, int rows, Scratch& scratch) const;
    std::unique_ptr<DibRowConverter> makeConverter(int rows) const;

    std::unique_ptr<Bytes> bytes_;
    DibLayout layout_;
    int width_ = 0;
    int height_ = 0;
    std::int64_t blockSize_ = 0; // bitmap bytes after the file header
    // The block's first bytes: header, masks, table and whatever the palette can reach.
    std::vector<std::uint8_t> prefix_;
    DibBlock prefixBlock_;
    std::array<std::uint8_t, 16> afterHeader_{}; // the bytes after a large info header

    Scratch ownScratch_;
    // Converters for bands of kBandRows rows and for the last, shorter band, made once the bitmap
    // is checked.
    std::unique_ptr<DibRowConverter> fullBand_;
    std::unique_ptr<DibRowConverter> lastBand_;
    // Run-length data: where decoding enters each row (rows counted from the bottom).
    struct RowEntry {
        std::int64_t offset = -1; // -1: no code of this row
        std::int64_t x = 0;
    };
    std::vector<RowEntry> rowEntries_;
    std::int64_t codesStart_ = 0; // where the run-length codes are in the file, and their size
    std::int64_t codesSize_ = 0;
};
