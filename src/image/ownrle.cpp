// Run-length decoding of BI_RLE8 and BI_RLE4 bitmaps into an uncompressed pixel array.
#include "image/ownrle.h"

#include "image/dibLayout.h"
#include "image/iplImage.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kFunction = "iplConvertFromDIB";
constexpr const char* kFile = "ownrle";

struct Refusal {
    int status;
    const char* message;
    int line;
};

// The refusals of one run-length form. Their line numbers are fixed, not taken from this file:
// callers and tests tell the refusals apart by them.
struct RleForm {
    bool fourBit;
    Refusal noMemory;
    Refusal height;
    Refusal delta;
    Refusal position;
    Refusal pastEnd;
};

constexpr RleForm kRle8{
    false,
    {IPL_StsNoMem, "Not enough memory to decompress BI_RLE8 DIB at DIB", 606},
    {IPL_StsBadArg, "Incorrect format of BI_RLE8 DIB (mismatch biHeight)", 652},
    {IPL_StsBadArg, "Incorrect format of BI_RLE8 DIB (bad Delta command)", 667},
    {IPL_StsBadArg, "Incorrect format of BI_RLE8 DIB (mismatch biHeight or biWidth)", 696},
    {IPL_StsBadArg, "Incorrect format of BI_RLE8 DIB (data ends without end of bitmap)", 700},
};

constexpr RleForm kRle4{
    true,
    {IPL_StsNoMem, "Not enough memory to decompress BI_RLE4 DIB at DIB", 715},
    {IPL_StsBadArg, "Incorrect format of BI_RLE4 DIB (mismatch biHeight)", 785},
    {IPL_StsBadArg, "Incorrect format of BI_RLE4 DIB (bad Delta command)", 805},
    {IPL_StsBadArg, "Incorrect format of BI_RLE4 DIB (mismatch biHeight or biWidth)", 848},
    {IPL_StsBadArg, "Incorrect format of BI_RLE4 DIB (data ends without end of bitmap)", 852},
};

// Owns the output block until it is handed to the caller.
class OutputBlock {
public:
    explicit OutputBlock(std::int64_t size)
        : data_(static_cast<std::uint8_t*>(iplAlignedAlloc(size))) {}
    ~OutputBlock() { iplAlignedFree(data_); }
    OutputBlock(const OutputBlock&) = delete;
    OutputBlock& operator=(const OutputBlock&) = delete;

    std::uint8_t* get() const { return data_; }
    std::uint8_t* release() {
        std::uint8_t* data = data_;
        data_ = nullptr;
        return data;
    }

private:
    std::uint8_t* data_;
};

// Reports the refusal with its reason for people (a printf format and its values); false.
bool refuse(const Refusal& refusal, const char* reason, ...) {
    char text[128];
    va_list args;
    va_start(args, reason);
    std::vsnprintf(text, sizeof text, reason, args);
    va_end(args);
    iplSetStatusReason(text);
    iplReportStatus(refusal.status, kFunction, refusal.message, kFile, refusal.line);
    return false;
}

// Writes pixel x of an RLE4 row in place: the high nibble for even x, the low one for odd x.
inline void putNibble(std::uint8_t* row, std::int64_t x, unsigned value) {
    std::uint8_t& byte = row[x / 2];
    if (x % 2 == 0) {
        byte = static_cast<std::uint8_t>((byte & 0x0Fu) | ((value & 0x0Fu) << 4));
    } else {
        byte = static_cast<std::uint8_t>((byte & 0xF0u) | (value & 0x0Fu));
    }
}

const char* const kNoEnd = "run-length data ends without its end-of-bitmap code";
const char* const kPastRow = "run-length data runs past the end of row %lld";
const char* const kPastLast = "run-length data runs past the last row (%lld)";

// Decodes the codes of one bitmap into its padded rows (row y = the y-th stored row, the bottom
// row of the picture first). Pixels may go on into a row's padding but not beyond it.
class RleDecoder {
public:
    RleDecoder(const RleForm& form, const std::uint8_t* data, std::int64_t available,
               std::uint8_t* rows, std::int64_t rowBytes, std::int64_t height)
        : form_(form), data_(data), available_(available), rows_(rows), rowBytes_(rowBytes),
          rowPixels_(form.fourBit ? 2 * rowBytes : rowBytes), height_(height) {}

    // True at the end-of-bitmap code; false after reporting a refusal.
    bool decode() {
        for (;;) {
            if (y_ > height_ || x_ > rowPixels_) {
                return pastLastRow();
            }
            if (!has(2)) {
                return refuse(form_.pastEnd, kNoEnd);
            }
            const unsigned a = data_[pos_];
            const unsigned b = data_[pos_ + 1];
            pos_ += 2;
            bool ok = true;
            if (a > 0) {
                ok = encodedRun(a, b);
            } else if (b == 0) {
                // End of line; it may close the row early, leaving the rest of it unset.
                ++y_;
                x_ = 0;
            } else if (b == 1) {
                return endOfBitmap();
            } else if (b == 2) {
                ok = delta();
            } else {
                ok = literal(b);
            }
            if (!ok) {
                return false;
            }
        }
    }

private:
    bool has(std::int64_t bytes) const { return available_ - pos_ >= bytes; }

    bool pastLastRow() const {
        return refuse(form_.position, kPastLast, static_cast<long long>(height_ - 1));
    }

    // Checks that `count` pixels fit in the current row from x; reports the refusal if not.
    bool fits(std::int64_t count) const {
        if (y_ == height_) {
            return pastLastRow();
        }
        if (x_ + count > rowPixels_) {
            return refuse(form_.position, kPastRow, static_cast<long long>(y_));
        }
        return true;
    }

    // `count` pixels of `value` (RLE4: its two nibbles alternately).
    bool encodedRun(unsigned count, unsigned value) {
        if (!fits(count)) {
            return false;
        }
        std::uint8_t* row = rows_ + y_ * rowBytes_;
        if (form_.fourBit) {
            for (unsigned i = 0; i < count; ++i) {
                putNibble(row, x_ + i, i % 2 == 0 ? value >> 4 : value & 0x0Fu);
            }
        } else {
            std::memset(row + x_, static_cast<int>(value), count);
        }
        x_ += count;
        return true;
    }

    // The last row closed, or the last row being the current one.
    bool endOfBitmap() const {
        if (y_ == height_ || y_ == height_ - 1) {
            return true;
        }
        return refuse(form_.height, "run-length data ends at row %lld of %lld",
                      static_cast<long long>(y_), static_cast<long long>(height_));
    }

    // Skips dx pixels and dy rows.
    bool delta() {
        if (!has(2)) {
            return refuse(form_.pastEnd, kNoEnd);
        }
        x_ += data_[pos_];
        y_ += data_[pos_ + 1];
        pos_ += 2;
        if (x_ > rowPixels_ || y_ > height_) {
            return refuse(form_.delta, "run-length delta moves past the bitmap at row %lld",
                          static_cast<long long>(y_));
        }
        return true;
    }

    // `count` pixels as stored, padded to an even number of bytes.
    bool literal(unsigned count) {
        const std::int64_t bytes = form_.fourBit ? (count + 1) / 2 : count;
        if (!fits(count)) {
            return false;
        }
        if (!has(bytes)) {
            return refuse(form_.pastEnd, kNoEnd);
        }
        std::uint8_t* row = rows_ + y_ * rowBytes_;
        if (form_.fourBit) {
            for (unsigned i = 0; i < count; ++i) {
                const unsigned byte = data_[pos_ + i / 2];
                putNibble(row, x_ + i, i % 2 == 0 ? byte >> 4 : byte & 0x0Fu);
            }
        } else {
            std::memcpy(row + x_, data_ + pos_, count);
        }
        pos_ = (pos_ + bytes + 1) / 2 * 2;
        x_ += count;
        return true;
    }

    const RleForm& form_;
    const std::uint8_t* data_;
    std::int64_t available_;
    std::uint8_t* rows_;
    std::int64_t rowBytes_;
    std::int64_t rowPixels_;
    std::int64_t height_;
    std::int64_t pos_ = 0;
    std::int64_t x_ = 0;
    std::int64_t y_ = 0;
};

} // namespace

std::uint8_t* decodeRleDib(const BITMAPINFOHEADER* dib, std::int64_t dibSize) {
    DibBlock block;
    block.data = reinterpret_cast<const std::uint8_t*>(dib);
    block.size = dibSize;
    DibLayout layout;
    describeDib(block, layout);
    return decodeRleRows(block, layout);
}

std::uint8_t* decodeRleRows(const DibBlock& dib, const DibLayout& layout) {
    const RleForm& form = layout.compression == BI_RLE8 ? kRle8 : kRle4;
    const std::int64_t width = layout.width;
    const std::int64_t height = layout.bottomUp ? layout.height : -layout.height;
    const std::int64_t rowBytes = rowStep(width * (form.fourBit ? 4 : 8), 4);
    const std::int64_t size = width > 0 && height > 0 ? rowBytes * height : 0;

    OutputBlock block(size);
    if (block.get() == nullptr) {
        refuse(form.noMemory, "not enough memory to decode the run-length data");
        return nullptr;
    }
    std::memset(block.get(), 0, static_cast<std::size_t>(size));
    if (height < 0) {
        refuse(form.position, "run-length bitmaps stored top-down are not supported");
        return nullptr;
    }
    if (layout.pixelOffset > dib.size || layout.pixelOffset < layout.infoSize) {
        refuse(form.pastEnd, kNoEnd);
        return nullptr;
    }
    RleDecoder decoder(form, dib.data + layout.pixelOffset, dib.size - layout.pixelOffset,
                       block.get(), rowBytes, height);
    return decoder.decode() ? block.release() : nullptr;
}
