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

// Reports the refusal with its reason for people (a printf format and its values).
std::uint8_t* refuse(const Refusal& refusal, const char* reason, ...) {
    char text[128];
    va_list args;
    va_start(args, reason);
    std::vsnprintf(text, sizeof text, reason, args);
    va_end(args);
    iplSetStatusReason(text);
    iplReportStatus(refusal.status, kFunction, refusal.message, kFile, refusal.line);
    return nullptr;
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
    // Pixels may go on into the row's padding (they are dropped), but not beyond it.
    const std::int64_t rowPixels = form.fourBit ? 2 * rowBytes : rowBytes;
    const std::int64_t size = width > 0 && height > 0 ? rowBytes * height : 0;

    OutputBlock block(size);
    if (block.get() == nullptr) {
        return refuse(form.noMemory, "not enough memory to decode the run-length data");
    }
    std::memset(block.get(), 0, static_cast<std::size_t>(size));
    if (height < 0) {
        return refuse(form.position, "run-length bitmaps stored top-down are not supported");
    }

    const std::int64_t dataStart = layout.pixelOffset;
    const char* const kNoEnd = "run-length data ends without its end-of-bitmap code";
    if (dataStart > dib.size || dataStart < layout.infoSize) {
        return refuse(form.pastEnd, kNoEnd);
    }
    const std::uint8_t* data = dib.data + dataStart;
    const std::int64_t available = dib.size - dataStart;
    const char* const kPastRow = "run-length data runs past the end of row %lld";
    const char* const kPastLast = "run-length data runs past the last row (%lld)";

    std::int64_t pos = 0;
    std::int64_t x = 0;
    std::int64_t y = 0;
    for (;;) {
        if (y > height || x > rowPixels) {
            return refuse(form.position, kPastLast, static_cast<long long>(height - 1));
        }
        if (available - pos < 2) {
            return refuse(form.pastEnd, kNoEnd);
        }
        const unsigned a = data[pos];
        const unsigned b = data[pos + 1];
        pos += 2;
        if (a > 0) {
            // Encoded run: a pixels of value b (RLE4: its two nibbles alternately).
            if (y == height) {
                return refuse(form.position, kPastLast, static_cast<long long>(height - 1));
            }
            if (x + a > rowPixels) {
                return refuse(form.position, kPastRow, static_cast<long long>(y));
            }
            std::uint8_t* row = block.get() + y * rowBytes;
            if (form.fourBit) {
                for (unsigned i = 0; i < a; ++i) {
                    putNibble(row, x + i, i % 2 == 0 ? b >> 4 : b & 0x0Fu);
                }
            } else {
                std::memset(row + x, static_cast<int>(b), a);
            }
            x += a;
        } else if (b == 0) {
            // End of line; it may close the row early, leaving the rest of it unset.
            ++y;
            x = 0;
        } else if (b == 1) {
            // End of bitmap: the last row closed, or the last row being the current one.
            if (y == height || y == height - 1) {
                return block.release();
            }
            return refuse(form.height, "run-length data ends at row %lld of %lld",
                          static_cast<long long>(y), static_cast<long long>(height));
        } else if (b == 2) {
            // Delta: skip dx pixels and dy rows.
            if (available - pos < 2) {
                return refuse(form.pastEnd, kNoEnd);
            }
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
            if (x > rowPixels || y > height) {
                return refuse(form.delta, "run-length delta moves past the bitmap at row %lld",
                              static_cast<long long>(y));
            }
        } else {
            // Literal block of b pixels, padded to an even number of bytes.
            const std::int64_t bytes = form.fourBit ? (b + 1) / 2 : b;
            if (y == height) {
                return refuse(form.position, kPastLast, static_cast<long long>(height - 1));
            }
            if (x + b > rowPixels) {
                return refuse(form.position, kPastRow, static_cast<long long>(y));
            }
            if (available - pos < bytes) {
                return refuse(form.pastEnd, kNoEnd);
            }
            std::uint8_t* row = block.get() + y * rowBytes;
            if (form.fourBit) {
                for (unsigned i = 0; i < b; ++i) {
                    const unsigned byte = data[pos + i / 2];
                    putNibble(row, x + i, i % 2 == 0 ? byte >> 4 : byte & 0x0Fu);
                }
            } else {
                std::memcpy(row + x, data + pos, b);
            }
            pos = (pos + bytes + 1) / 2 * 2;
            x += b;
        }
    }
}
