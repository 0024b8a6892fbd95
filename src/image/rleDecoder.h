// The code walk of BI_RLE8 and BI_RLE4 data, shared by the whole-bitmap decoder (ownrle) and
// by readers that decode rows on demand: the codes come from memory or from a file window,
// the pixels go to every row or only to the rows asked for, and the walk can start at a row
// whose entry an earlier walk recorded. Every code is checked the same way in every use.
#pragma once

#include "image/imageRefusal.h"
#include "util/reportLines.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace rle {

struct Refusal {
    int status;
    const char* message;
    int line;
};

// The refusals of one run-length form, with their fixed line numbers.
struct Form {
    bool fourBit;
    Refusal noMemory;
    Refusal height;
    Refusal delta;
    Refusal position;
    Refusal pastEnd;
};

inline constexpr Form kRle8{
    false,
    {IPL_StsNoMem, "Not enough memory to decompress BI_RLE8 DIB at DIB",
     report_lines::kRle8.noMemory},
    {IPL_StsBadArg, "Incorrect format of BI_RLE8 DIB (mismatch biHeight)",
     report_lines::kRle8.height},
    {IPL_StsBadArg, "Incorrect format of BI_RLE8 DIB (bad Delta command)",
     report_lines::kRle8.delta},
    {IPL_StsBadArg, "Incorrect format of BI_RLE8 DIB (mismatch biHeight or biWidth)",
     report_lines::kRle8.position},
    {IPL_StsBadArg, "Incorrect format of BI_RLE8 DIB (data ends without end of bitmap)",
     report_lines::kRle8.pastEnd},
};

inline constexpr Form kRle4{
    true,
    {IPL_StsNoMem, "Not enough memory to decompress BI_RLE4 DIB at DIB",
     report_lines::kRle4.noMemory},
    {IPL_StsBadArg, "Incorrect format of BI_RLE4 DIB (mismatch biHeight)",
     report_lines::kRle4.height},
    {IPL_StsBadArg, "Incorrect format of BI_RLE4 DIB (bad Delta command)",
     report_lines::kRle4.delta},
    {IPL_StsBadArg, "Incorrect format of BI_RLE4 DIB (mismatch biHeight or biWidth)",
     report_lines::kRle4.position},
    {IPL_StsBadArg, "Incorrect format of BI_RLE4 DIB (data ends without end of bitmap)",
     report_lines::kRle4.pastEnd},
};

// The refusal as a value, with its reason for people (a printf format and its values).
inline ImageRefusal refusalOf(const Refusal& refusal, const char* reason, ...) {
    char text[128];
    va_list args;
    va_start(args, reason);
    std::vsnprintf(text, sizeof text, reason, args);
    va_end(args);
    return {refusal.status, "iplConvertFromDIB", refusal.message, "ownrle", refusal.line, text};
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

inline const char* const kNoEnd = "run-length data ends without its end-of-bitmap code";
inline const char* const kPastRow = "run-length data runs past the end of row %lld";
inline const char* const kPastLast = "run-length data runs past the last row (%lld)";

// Where a walk stands: the offset of the next code in the data and the pixel position x in
// row y (row 0 is the first row of the data, the bottom one of the picture).
struct Position {
    std::int64_t offset = 0;
    std::int64_t x = 0;
    std::int64_t y = 0;
};

// Codes held in memory.
class MemoryCodes {
public:
    MemoryCodes(const std::uint8_t* data, std::int64_t size) : data_(data), size_(size) {}
    std::int64_t size() const { return size_; }
    const std::uint8_t* at(std::int64_t offset, std::int64_t) const { return data_ + offset; }

private:
    const std::uint8_t* data_;
    std::int64_t size_;
};

// Decodes the codes into padded rows. Pixels may go on into a row's padding but not beyond it.
// `Codes` gives size() and at(offset, n): n readable bytes at that offset, or null when they
// cannot be read. `Rows` gives row(y): where stored row y goes (null: not wanted), and
// entered(position): called when the walk enters a row, before its first code.
template <class Codes, class Rows> class Decoder {
public:
    Decoder(const Form& form, Codes& codes, Rows& rows, std::int64_t rowBytes, std::int64_t height)
        : form_(form), codes_(codes), rows_(rows),
          rowPixels_(form.fourBit ? 2 * rowBytes : rowBytes), height_(height) {}

    // Starts at a recorded position instead of the first code; ends (true) before the first
    // code of row `stopRow` or a later one. A refusal then can only mean that the data changed
    // since the walk that recorded the position checked it.
    void resume(const Position& at, std::int64_t stopRow) {
        at_ = at;
        stopRow_ = stopRow;
    }

    // True at the end-of-bitmap code (or at the stop row); false after a refusal (refusal())
    // or when the codes cannot be read (readFailedFlag()).
    bool decode() {
        std::int64_t enteredRow = -1;
        for (;;) {
            if (at_.y >= stopRow_) {
                return true;
            }
            if (at_.y != enteredRow && at_.y < height_) {
                rows_.entered(at_);
                enteredRow = at_.y;
            }
            if (at_.y > height_ || at_.x > rowPixels_) {
                return pastLastRow();
            }
            if (!has(2)) {
                return fail(form_.pastEnd, kNoEnd);
            }
            const std::uint8_t* code = codes_.at(at_.offset, 2);
            if (code == nullptr) {
                return readFailed();
            }
            const unsigned a = code[0];
            const unsigned b = code[1];
            at_.offset += 2;
            bool ok = true;
            if (a > 0) {
                ok = encodedRun(a, b);
            } else if (b == 0) {
                // End of line; it may close the row early, leaving the rest of it unset.
                ++at_.y;
                at_.x = 0;
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

    bool readFailedFlag() const { return readFailed_; }
    const ImageRefusal& refusal() const { return refusal_; }

private:
    bool has(std::int64_t bytes) const { return codes_.size() - at_.offset >= bytes; }

    template <class... Values>
    bool fail(const Refusal& refusal, const char* reason, Values... values) {
        refusal_ = refusalOf(refusal, reason, values...);
        return false;
    }

    bool readFailed() {
        readFailed_ = true;
        return false;
    }

    bool pastLastRow() {
        return fail(form_.position, kPastLast, static_cast<long long>(height_ - 1));
    }

    // Checks that `count` pixels fit in the current row from x; refuses them if not.
    bool fits(std::int64_t count) {
        if (at_.y == height_) {
            return pastLastRow();
        }
        if (at_.x + count > rowPixels_) {
            return fail(form_.position, kPastRow, static_cast<long long>(at_.y));
        }
        return true;
    }

    // `count` pixels of `value` (RLE4: its two nibbles alternately).
    bool encodedRun(unsigned count, unsigned value) {
        if (!fits(count)) {
            return false;
        }
        if (std::uint8_t* row = rows_.row(at_.y)) {
            if (form_.fourBit) {
                for (unsigned i = 0; i < count; ++i) {
                    putNibble(row, at_.x + i, i % 2 == 0 ? value >> 4 : value & 0x0Fu);
                }
            } else {
                std::memset(row + at_.x, static_cast<int>(value), count);
            }
        }
        at_.x += count;
        return true;
    }

    // The last row closed, or the last row being the current one.
    bool endOfBitmap() {
        if (at_.y == height_ || at_.y == height_ - 1) {
            return true;
        }
        return fail(form_.height, "run-length data ends at row %lld of %lld",
                    static_cast<long long>(at_.y), static_cast<long long>(height_));
    }

    // Skips dx pixels and dy rows.
    bool delta() {
        if (!has(2)) {
            return fail(form_.pastEnd, kNoEnd);
        }
        const std::uint8_t* move = codes_.at(at_.offset, 2);
        if (move == nullptr) {
            return readFailed();
        }
        at_.x += move[0];
        at_.y += move[1];
        at_.offset += 2;
        if (at_.x > rowPixels_ || at_.y > height_) {
            return fail(form_.delta, "run-length delta moves past the bitmap at row %lld",
                        static_cast<long long>(at_.y));
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
            return fail(form_.pastEnd, kNoEnd);
        }
        const std::uint8_t* data = codes_.at(at_.offset, bytes);
        if (data == nullptr) {
            return readFailed();
        }
        if (std::uint8_t* row = rows_.row(at_.y)) {
            if (form_.fourBit) {
                for (unsigned i = 0; i < count; ++i) {
                    const unsigned byte = data[i / 2];
                    putNibble(row, at_.x + i, i % 2 == 0 ? byte >> 4 : byte & 0x0Fu);
                }
            } else {
                std::memcpy(row + at_.x, data, count);
            }
        }
        at_.offset = (at_.offset + bytes + 1) / 2 * 2;
        at_.x += count;
        return true;
    }

    const Form& form_;
    Codes& codes_;
    Rows& rows_;
    std::int64_t rowPixels_;
    std::int64_t height_;
    Position at_;
    std::int64_t stopRow_ = INT64_MAX;
    bool readFailed_ = false;
    ImageRefusal refusal_;
};

} // namespace rle
