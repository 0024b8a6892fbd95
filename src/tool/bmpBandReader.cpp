#include "tool/bmpBandReader.h"

#include "image/ownrle.h"
#include "tool/bmpLoader.h"
#include "util/lastError.h"
#include "util/platformFile.h"
#include "vx2Image/QimImg.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::int64_t kInfoHeaderSize = sizeof(BITMAPINFOHEADER);
// Everything the conversion reads ahead of the pixel rows of a bitmap it accepts: the header
// and at most 0x8000 table entries after three colour masks.
constexpr std::int64_t kLargestTableBytes = 4 * (0x8000 + 3);
// Run-length codes are read through a window of this many bytes.
constexpr std::int64_t kCodeWindow = 64 * 1024;

bool fail(int code) {
    setLastError(code, bmpErrorText(code));
    return false;
}

void storeLe32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

// The header of a bitmap that holds `rows` rows of the original's pixel format, stored
// bottom-up for a positive count and top-down for a negative one, with the table or masks
// right after the header.
void putBandHeader(std::uint8_t* at, const BITMAPINFOHEADER& original, std::int32_t rows,
                   std::uint32_t compression) {
    std::memset(at, 0, kInfoHeaderSize);
    storeLe32(at, static_cast<std::uint32_t>(kInfoHeaderSize));
    storeLe32(at + 4, static_cast<std::uint32_t>(original.biWidth));
    storeLe32(at + 8, static_cast<std::uint32_t>(rows));
    at[12] = 1; // planes
    at[14] = static_cast<std::uint8_t>(original.biBitCount);
    at[15] = static_cast<std::uint8_t>(original.biBitCount >> 8);
    storeLe32(at + 16, compression);
}

} // namespace

BandImage::BandImage(int width, int rows) {
    const QimPixelKind& kind = Rgba8::kind;
    header_ = iplCreateImageHeader(kind.nChannels, kind.alphaChannel, kind.depth, kind.colorModel,
                                   kind.channelSeq, 0, 0, 8, width, rows, nullptr, nullptr, nullptr,
                                   nullptr);
    if (header_ != nullptr) {
        iplAllocateImage(header_, 0, 0);
    }
}

BandImage::~BandImage() {
    if (header_ != nullptr) {
        iplFreeImageParts(header_, IPL_IMAGE_ALL);
    }
}

// The bytes of the file: read at any offset from a regular file, or from memory for inputs
// that can only be read once.
class BmpBandReader::Bytes {
public:
    ~Bytes() {
        if (file_ != platform::kNoFile) {
            platform::closeFile(file_);
        }
    }

    bool open(const std::string& fileName) {
        file_ = platform::openForReading(fileName);
        platform::FileFacts facts;
        if (file_ == platform::kNoFile || !platform::fileFacts(file_, facts)) {
            return false;
        }
        seekable_ = facts.kind == platform::FileKind::Regular;
        length_ = seekable_ ? static_cast<std::int64_t>(facts.size) : 0;
        return true;
    }

    // A stream is read into memory up to `length` bytes from its start (fewer when it ends
    // before). False on a read error.
    bool loadStream(std::int64_t length) {
        if (seekable_ || length <= length_) {
            return true;
        }
        constexpr std::int64_t kChunk = 1 << 20;
        while (length_ < length) {
            const std::int64_t want = std::min(kChunk, length - length_);
            memory_.resize(static_cast<std::size_t>(length_ + want));
            const std::int64_t got =
                platform::readNext(file_, memory_.data() + length_, static_cast<std::size_t>(want));
            if (got < 0) {
                return false;
            }
            length_ += got;
            if (got < want) {
                break;
            }
        }
        memory_.resize(static_cast<std::size_t>(length_));
        memory_.shrink_to_fit();
        return true;
    }

    // Bytes available from the start (for a stream: those loaded so far).
    std::int64_t length() const { return length_; }

    // Reads `size` bytes at `offset`; the number read, fewer at the end, or -1.
    std::int64_t read(std::int64_t offset, void* buffer, std::int64_t size) const {
        if (seekable_) {
            return platform::readAt(file_, offset, buffer, static_cast<std::size_t>(size));
        }
        const std::int64_t n = std::clamp<std::int64_t>(length_ - offset, 0, size);
        if (n > 0) {
            std::memcpy(buffer, memory_.data() + offset, static_cast<std::size_t>(n));
        }
        return n;
    }

private:
    platform::FileHandle file_ = platform::kNoFile;
    bool seekable_ = false;
    std::int64_t length_ = 0;
    std::vector<std::uint8_t> memory_;
};

// The run-length data of the file, read through a small window.
class BmpBandReader::FileCodes {
public:
    FileCodes(const Bytes& bytes, std::int64_t start, std::int64_t size)
        : bytes_(bytes), start_(start), size_(size) {}

    std::int64_t size() const { return size_; }

    const std::uint8_t* at(std::int64_t offset, int n) {
        if (offset < windowStart_ || offset + n > windowStart_ + windowLength_) {
            const std::int64_t length = std::min(kCodeWindow, size_ - offset);
            window_.resize(static_cast<std::size_t>(kCodeWindow));
            if (length < n || bytes_.read(start_ + offset, window_.data(), length) != length) {
                windowLength_ = 0;
                return nullptr;
            }
            windowStart_ = offset;
            windowLength_ = length;
        }
        return window_.data() + (offset - windowStart_);
    }

private:
    const Bytes& bytes_;
    std::int64_t start_;
    std::int64_t size_;
    std::vector<std::uint8_t> window_;
    std::int64_t windowStart_ = 0;
    std::int64_t windowLength_ = 0;
};

BmpBandReader::BmpBandReader() = default;
BmpBandReader::~BmpBandReader() = default;

bool BmpBandReader::open(const std::string& fileName) {
    bytes_ = std::make_unique<Bytes>();
    if (!bytes_->open(fileName)) {
        setLastError(kBmpErrorCannotOpen, fileName);
        return false;
    }
    unsigned char fileHeader[kBmpFileHeaderSize];
    if (!bytes_->loadStream(kBmpFileHeaderSize) ||
        bytes_->read(0, fileHeader, kBmpFileHeaderSize) != kBmpFileHeaderSize) {
        return fail(kBmpErrorFileRead);
    }
    if (const int code = checkBmpFileHeader(fileHeader, blockSize_); code != 0) {
        return fail(code);
    }
    if (!bytes_->loadStream(kBmpFileHeaderSize + blockSize_) ||
        blockSize_ > bytes_->length() - kBmpFileHeaderSize) {
        return fail(kBmpErrorFileRead);
    }
    unsigned char head[kInfoHeaderSize] = {};
    const std::int64_t headBytes = std::min(blockSize_, kInfoHeaderSize);
    if (bytes_->read(kBmpFileHeaderSize, head, headBytes) != headBytes) {
        return fail(kBmpErrorFileRead);
    }
    if (const int code = checkBitmapBlock(head, blockSize_, info_); code != 0) {
        return fail(code);
    }
    width_ = info_.biWidth;
    height_ = info_.biHeight < 0 ? -info_.biHeight : info_.biHeight;
    if (width_ == 0 || height_ == 0) {
        return true; // an empty image: no rows to read
    }
    runLength_ = info_.biCompression == BI_RLE8 || info_.biCompression == BI_RLE4;
    rowsOffset_ = std::int64_t{info_.biSize} + 4 * bitmapTableEntries(info_);
    rowBytes_ = (std::int64_t{width_} * info_.biBitCount + 31) / 32 * 4;
    if (!checkWithLibrary()) {
        return fail(kBmpErrorConversion);
    }
    if (runLength_ && !indexRunLengthRows()) {
        return false;
    }

    // The band bitmap: header, then the table (palette bitmaps: every entry an index can
    // reach, as the conversion reads them from the original block, 0 past its end) or the
    // three colour masks, then room for one MCU row of rows.
    std::int64_t tableBytes = 0;
    if (info_.biBitCount <= 8) {
        tableBytes = std::int64_t{4} << info_.biBitCount;
    } else if (info_.biCompression == BI_BITFIELDS &&
               (info_.biBitCount == 16 || info_.biBitCount == 32)) {
        tableBytes = 12;
    }
    bandRowsOffset_ = kInfoHeaderSize + tableBytes;
    bandDib_.assign(static_cast<std::size_t>(bandRowsOffset_ + 8 * rowBytes_), 0);
    for (std::int64_t entry = 0; entry < tableBytes; entry += 4) {
        const std::int64_t offset = kInfoHeaderSize + entry;
        if (offset + 4 <= blockSize_ &&
            bytes_->read(kBmpFileHeaderSize + offset, bandDib_.data() + offset, 4) != 4) {
            return fail(kBmpErrorFileRead);
        }
    }
    return true;
}

// The image library's own checks of the header, table and masks: a conversion of a bitmap
// with the original's header, everything before its pixel rows, and one row.
bool BmpBandReader::checkWithLibrary() {
    const std::int64_t prefix =
        std::max(kInfoHeaderSize, std::min(rowsOffset_, kInfoHeaderSize + kLargestTableBytes));
    static constexpr std::uint8_t kEndOfBitmap[2] = {0, 1};
    const std::int64_t rowPart = runLength_ ? 2 : rowBytes_;
    std::vector<std::uint8_t> probe(static_cast<std::size_t>(prefix + rowPart), 0);
    if (bytes_->read(kBmpFileHeaderSize, probe.data(), prefix) != prefix) {
        return false;
    }
    storeLe32(probe.data() + 8, info_.biHeight < 0 ? static_cast<std::uint32_t>(-1) : 1u);
    if (runLength_) {
        std::memcpy(probe.data() + prefix, kEndOfBitmap, 2);
    }
    BandImage image(width_, 1);
    if (!image.valid()) {
        return false;
    }
    iplConvertFromDIB(reinterpret_cast<const BITMAPINFOHEADER*>(probe.data()),
                      static_cast<std::int64_t>(probe.size()), &image.header());
    return iplGetStatus() == 0;
}

bool BmpBandReader::indexRunLengthRows() {
    const rle::Form& form = info_.biCompression == BI_RLE8 ? rle::kRle8 : rle::kRle4;
    const std::int64_t start = rleDataOffset(info_, blockSize_);
    codes_ = std::make_unique<FileCodes>(*bytes_, kBmpFileHeaderSize + start, blockSize_ - start);
    rowEntries_.assign(static_cast<std::size_t>(height_), RowEntry{});
    rle::Walker walker(form, *codes_, width_, height_);
    std::int64_t enteredRow = -1;
    for (;;) {
        const rle::Position& at = walker.position();
        if (at.y != enteredRow && at.y < height_) {
            rowEntries_[static_cast<std::size_t>(at.y)] = {at.offset, at.x};
            enteredRow = at.y;
        }
        rle::Event event;
        const rle::Step step = walker.next(event);
        if (step == rle::Step::ReadFailed) {
            return fail(kBmpErrorFileRead);
        }
        if (step == rle::Step::Refused) {
            reportRleRefusal(walker.refusal());
            return fail(kBmpErrorConversion);
        }
        if (event.code == rle::Code::EndOfBitmap) {
            return true;
        }
    }
}

bool BmpBandReader::readStoredRows(int firstRow, int rows) {
    const bool bottomUp = info_.biHeight > 0;
    const std::int64_t firstStored = bottomUp ? std::int64_t{height_} - firstRow - rows : firstRow;
    const std::int64_t offset = rowsOffset_ + firstStored * rowBytes_;
    // The last stored row may end without its padding; nothing past the block is read.
    const std::int64_t length = std::min(rows * rowBytes_, blockSize_ - offset);
    std::uint8_t* into = bandDib_.data() + bandRowsOffset_;
    if (bytes_->read(kBmpFileHeaderSize + offset, into, length) != length) {
        return false;
    }
    std::memset(into + length, 0, static_cast<std::size_t>(rows * rowBytes_ - length));
    putBandHeader(bandDib_.data(), info_, bottomUp ? rows : -rows, info_.biCompression);
    return true;
}

bool BmpBandReader::decodeRunLengthRows(int firstRow, int rows) {
    const rle::Form& form = info_.biCompression == BI_RLE8 ? rle::kRle8 : rle::kRle4;
    // Rows of the data run bottom-up: image row firstRow + rows - 1 is data row firstStored.
    const std::int64_t firstStored = std::int64_t{height_} - firstRow - rows;
    for (int i = 0; i < rows; ++i) {
        const std::int64_t y = firstStored + i;
        std::uint8_t* row = bandDib_.data() + bandRowsOffset_ + i * rowBytes_;
        std::memset(row, 0, static_cast<std::size_t>(rowBytes_));
        const RowEntry& entry = rowEntries_[static_cast<std::size_t>(y)];
        if (entry.offset < 0) {
            continue;
        }
        rle::Walker walker(form, *codes_, width_, height_, {entry.offset, entry.x, y});
        for (;;) {
            rle::Event event;
            if (walker.next(event) != rle::Step::Ok) {
                return false; // the file changed since it was checked
            }
            if (event.code == rle::Code::EndOfLine || event.code == rle::Code::EndOfBitmap ||
                walker.position().y != y) {
                break;
            }
            rle::applyToRow(form, event, row);
        }
    }
    putBandHeader(bandDib_.data(), info_, rows, BI_RGB);
    return true;
}

bool BmpBandReader::readBand(int firstRow, int rows, BandImage& band) {
    if (rows < 1 || rows > 8 || firstRow < 0 || firstRow > height_ - rows) {
        return false;
    }
    if (!(runLength_ ? decodeRunLengthRows(firstRow, rows) : readStoredRows(firstRow, rows))) {
        return false;
    }
    iplConvertFromDIB(reinterpret_cast<const BITMAPINFOHEADER*>(bandDib_.data()),
                      bandRowsOffset_ + rows * rowBytes_, &band.header());
    return iplGetStatus() == 0;
}
