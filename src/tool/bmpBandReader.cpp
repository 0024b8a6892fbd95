#include "tool/bmpBandReader.h"

#include "image/dibRows.h"
#include "image/ownrle.h"
#include "image/rleDecoder.h"
#include "tool/bmpLoader.h"
#include "util/byteOrder.h"
#include "util/platformFile.h"
#include "vx2Image/QimImg.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Bytes read from the block's start before its header is described; every header form fits.
constexpr std::int64_t kHeadBytes = 4096;
// Most bytes read for the header, masks and table: a table the conversion accepts (at most
// 32768 entries) fits; a larger one is refused before anything beyond this is read.
constexpr std::int64_t kLargestPrefix = 1 << 20;
// Run-length codes are read through a window of this many bytes.
constexpr std::int64_t kCodeWindow = 64 * 1024;

} // namespace

BandImage::BandImage(int width, int rows, bool allocate) {
    const QimPixelKind& kind = Rgba8::kind;
    header_ = iplCreateImageHeader(kind.nChannels, kind.alphaChannel, kind.depth, kind.colorModel,
                                   kind.channelSeq, 0, 0, kQimRowAlign, width, rows, nullptr,
                                   nullptr, nullptr, nullptr);
    if (header_ != nullptr && allocate) {
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

    const std::uint8_t* at(std::int64_t offset, std::int64_t n) {
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

// Where decoded rows go: the first walk records where each row is entered and writes nothing;
// a band's walk writes the band's rows only.
struct BmpBandReader::BandRows {
    std::vector<RowEntry>* entries = nullptr;
    std::uint8_t* rows = nullptr;
    std::int64_t firstRow = 0;
    std::int64_t rowCount = 0;
    std::int64_t rowBytes = 0;

    std::uint8_t* row(std::int64_t y) const {
        return y >= firstRow && y < firstRow + rowCount ? rows + (y - firstRow) * rowBytes
                                                        : nullptr;
    }
    void entered(const rle::Position& at) const {
        if (entries != nullptr) {
            (*entries)[static_cast<std::size_t>(at.y)] = {at.offset, at.x};
        }
    }
};

BmpBandReader::Scratch::Scratch() = default;
BmpBandReader::Scratch::~Scratch() = default;

BmpBandReader::BmpBandReader() = default;
BmpBandReader::~BmpBandReader() = default;

Outcome BmpBandReader::open(const std::string& fileName) {
    bytes_ = std::make_unique<Bytes>();
    if (!bytes_->open(fileName)) {
        return cannotOpenBitmap();
    }
    unsigned char fileHeader[kFileHeaderSize] = {};
    if (!bytes_->loadStream(kFileHeaderSize)) {
        return unreadable();
    }
    // First the header alone, then (a stream read in up to its declared size) its length.
    const std::int64_t headerBytes = bytes_->read(0, fileHeader, kFileHeaderSize);
    if (Outcome header = checkBmpFileHeader(fileHeader, headerBytes, blockSize_); !header) {
        return header;
    }
    if (!bytes_->loadStream(kFileHeaderSize + blockSize_)) {
        return unreadable();
    }
    if (Outcome length = checkBmpFileLength(blockSize_, bytes_->length()); !length) {
        return length;
    }
    Outcome checked = checkBlock(std::int64_t{loadLeI32(fileHeader + 10)} - kFileHeaderSize);
    if (!checked && checked.code() != kLastErrorConversion) {
        return checked;
    }
    if (width_ == 0 || height_ == 0) {
        return {}; // an empty image: no rows to read
    }
    // The whole-file loader has read every byte before the conversion refuses anything.
    if (!readPrefix()) {
        return unreadable();
    }
    if (!checked) {
        return checked;
    }
    if (layout_.runLength) {
        if (Outcome indexed = indexRunLengthRows(); !indexed) {
            return indexed;
        }
    }
    if (height_ >= kBandRows) {
        fullBand_ = makeConverter(kBandRows);
    }
    if (height_ % kBandRows != 0) {
        lastBand_ = makeConverter(height_ % kBandRows);
    }
    return {};
}

Outcome BmpBandReader::unreadable() {
    return Outcome::failure(kLastErrorRead, "the file could not be read");
}

Outcome BmpBandReader::checkBlock(std::int64_t pixelOffset) {
    prefix_.assign(static_cast<std::size_t>(std::min(blockSize_, kHeadBytes)), 0);
    if (bytes_->read(kFileHeaderSize, prefix_.data(), static_cast<std::int64_t>(prefix_.size())) !=
        static_cast<std::int64_t>(prefix_.size())) {
        return unreadable();
    }
    prefixBlock_.size = blockSize_;
    prefixBlock_.pixelOffset = pixelOffset;
    prefixBlock_.fileOffset = kFileHeaderSize;
    prefixBlock_.endsAtSizeField = blockSize_ < bytes_->length() - kFileHeaderSize;
    // Bit-field masks that follow an info header of any size: the checks read them, and an
    // unknown header may put them beyond the bytes read so far.
    const std::int64_t infoSize = prefix_.size() >= 4 ? loadLe32(prefix_.data()) : 0;
    if (infoSize + 16 > static_cast<std::int64_t>(prefix_.size()) && infoSize < blockSize_) {
        const std::int64_t count = std::min<std::int64_t>(16, blockSize_ - infoSize);
        if (bytes_->read(kFileHeaderSize + infoSize, afterHeader_.data(), count) != count) {
            return unreadable();
        }
        prefixBlock_.bytesAfterHeader = afterHeader_.data();
    }
    prefixBlock_.data = prefix_.data();
    Outcome checked = checkBitmapBlock(prefixBlock_, layout_);
    width_ = static_cast<int>(layout_.width);
    height_ = static_cast<int>(layout_.height);
    return checked;
}

bool BmpBandReader::readPrefix() {
    // Everything the conversion reads ahead of the rows: masks, table and the palette entries
    // an index can reach (beyond the table they are the bytes that follow it).
    const std::int64_t tableEnd = layout_.tableOffset + layout_.entryBytes * layout_.tableEntries;
    const std::int64_t paletteEnd = layout_.tableOffset + layout_.entryBytes * 256;
    const std::int64_t prefixBytes =
        std::min({blockSize_, kLargestPrefix, std::max({tableEnd, paletteEnd, kHeadBytes})});
    const std::int64_t have = static_cast<std::int64_t>(prefix_.size());
    if (prefixBytes > have) {
        prefix_.resize(static_cast<std::size_t>(prefixBytes), 0);
        if (bytes_->read(kFileHeaderSize + have, prefix_.data() + have, prefixBytes - have) !=
            prefixBytes - have) {
            return false;
        }
    }
    prefixBlock_.data = prefix_.data();
    return true;
}

Outcome BmpBandReader::indexRunLengthRows() {
    const rle::Form& form = rleForm(layout_);
    codesStart_ = kFileHeaderSize + layout_.pixelOffset;
    codesSize_ = blockSize_ - layout_.pixelOffset;
    FileCodes codes(*bytes_, codesStart_, codesSize_);
    rowEntries_.assign(static_cast<std::size_t>(height_), RowEntry{});
    BandRows recorder;
    recorder.entries = &rowEntries_;
    rle::Decoder decoder(form, codes, recorder, runLengthRowBytes(), height_);
    if (decoder.decode()) {
        return {};
    }
    if (decoder.readFailedFlag()) {
        return unreadable();
    }
    return Outcome::failure(kLastErrorConversion, decoder.refusal().text());
}

std::int64_t BmpBandReader::runLengthRowBytes() const {
    return rowStep(layout_.width * (rleForm(layout_).fourBit ? 4 : 8), 4);
}

bool BmpBandReader::readStoredRows(int firstRow, int rows, Scratch& scratch) const {
    const std::int64_t firstStored =
        layout_.bottomUp ? std::int64_t{height_} - firstRow - rows : firstRow;
    const std::int64_t offset = layout_.pixelOffset + firstStored * layout_.rowBytes;
    const std::int64_t length = std::min(rows * layout_.rowBytes, blockSize_ - offset);
    scratch.rows.resize(static_cast<std::size_t>(kBandRows * layout_.rowBytes));
    if (length < 0 ||
        bytes_->read(kFileHeaderSize + offset, scratch.rows.data(), length) != length) {
        return false;
    }
    std::memset(scratch.rows.data() + length, 0,
                static_cast<std::size_t>(rows * layout_.rowBytes - length));
    return true;
}

bool BmpBandReader::decodeRunLengthRows(int firstRow, int rows, Scratch& scratch) const {
    const rle::Form& form = rleForm(layout_);
    const std::int64_t rowBytes = runLengthRowBytes();
    scratch.rows.assign(static_cast<std::size_t>(kBandRows * rowBytes), 0);
    if (!scratch.codes) {
        scratch.codes = std::make_unique<FileCodes>(*bytes_, codesStart_, codesSize_);
    }
    // Rows of the data run bottom-up: image row firstRow + rows - 1 is data row firstStored.
    const std::int64_t firstStored = std::int64_t{height_} - firstRow - rows;
    for (std::int64_t y = firstStored; y < firstStored + rows; ++y) {
        const RowEntry& entry = rowEntries_[static_cast<std::size_t>(y)];
        if (entry.offset < 0) {
            continue; // no code reaches this row: its pixels stay 0
        }
        BandRows band{nullptr, scratch.rows.data(), firstStored, rows, rowBytes};
        rle::Decoder decoder(form, *scratch.codes, band, rowBytes, height_);
        decoder.resume({entry.offset, entry.x, y}, firstStored + rows);
        return decoder.decode();
    }
    return true;
}

std::unique_ptr<DibRowConverter> BmpBandReader::makeConverter(int rows) const {
    // The layout of one band's rows as they lie in the scratch rows.
    DibLayout bandLayout = layout_;
    bandLayout.height = rows;
    if (layout_.runLength) {
        bandLayout.bottomUp = true;
        bandLayout.rowBytes = rowStep(layout_.width * layout_.bitCount, 4);
    }
    // Bands are images of the bitmap's width.
    BandImage shape(width_, kBandRows, false);
    if (!shape.hasHeader()) {
        return nullptr;
    }
    return std::make_unique<DibRowConverter>(prefixBlock_, bandLayout, shape.header());
}

int BmpBandReader::storedBgrPixelBytes() const {
    const bool stored = bytes_ != nullptr && !layout_.runLength &&
                        (layout_.bitCount == 24 || (layout_.bitCount == 32 && !layout_.bitFields));
    return stored ? static_cast<int>(layout_.bitCount / 8) : 0;
}

const std::uint8_t* BmpBandReader::readStoredBand(int firstRow, int rows, Scratch& scratch,
                                                  std::int64_t& step) const {
    if (storedBgrPixelBytes() == 0 || rows < 1 || rows > kBandRows || firstRow < 0 ||
        firstRow > height_ - rows || !readStoredRows(firstRow, rows, scratch)) {
        return nullptr;
    }
    step = layout_.bottomUp ? -layout_.rowBytes : layout_.rowBytes;
    return scratch.rows.data() + (layout_.bottomUp ? (rows - 1) * layout_.rowBytes : 0);
}

bool BmpBandReader::readBand(int firstRow, int rows, BandImage& band, Scratch& scratch) const {
    if (rows < 1 || rows > kBandRows || firstRow < 0 || firstRow > height_ - rows ||
        !band.valid() || band.header().width < width_ || band.header().height < rows) {
        return false;
    }
    const DibRowConverter* converter = rows == kBandRows ? fullBand_.get() : lastBand_.get();
    if (rows != kBandRows && firstRow + rows != height_) {
        return false; // only the last band is shorter
    }
    if (converter == nullptr || !converter->ready()) {
        return false;
    }
    if (!(layout_.runLength ? decodeRunLengthRows(firstRow, rows, scratch)
                            : readStoredRows(firstRow, rows, scratch))) {
        return false;
    }
    converter->convert(scratch.rows.data(), 0, rows, band.row(0), band.rowStep());
    return true;
}
