// The code walk of BI_RLE8 and BI_RLE4 data, shared by the whole-bitmap decoder (ownrle) and
// by readers that decode rows on demand: one code at a time, each checked exactly as the
// decoder checks it, reported as an event that says which pixels of which row it sets.
#pragma once

#include "image/iplImage.h"

#include <cstdint>
#include <cstring>

namespace rle {

struct Refusal {
    int status;
    const char* message;
    int line;
};

// The refusals of one run-length form.
struct Form {
    bool fourBit;
    Refusal noMemory;
    Refusal width;
    Refusal height;
    Refusal delta;
    Refusal position;
    Refusal pastEnd;
};

inline constexpr Form kRle8{
    false,
    {IPL_StsNoMem, "Not enough memory to decompress BI_RLE8 DIB at DIB", 606},
    {IPL_StsBadArg, "Incorrect format of BI_RLE8 DIB (mismatch biWidth)", 632},
    {IPL_StsBadArg, "Incorrect format of BI_RLE8 DIB (mismatch biHeight)", 652},
    {IPL_StsBadArg, "Incorrect format of BI_RLE8 DIB (bad Delta command)", 667},
    {IPL_StsBadArg, "Incorrect format of BI_RLE8 DIB (mismatch biHeight or biWidth)", 696},
    {IPL_StsBadArg, "Incorrect format of BI_RLE8 DIB (data ends without end of bitmap)", 700},
};

inline constexpr Form kRle4{
    true,
    {IPL_StsNoMem, "Not enough memory to decompress BI_RLE4 DIB at DIB", 715},
    {IPL_StsBadArg, "Incorrect format of BI_RLE4 DIB (mismatch biWidth)", 764},
    {IPL_StsBadArg, "Incorrect format of BI_RLE4 DIB (mismatch biHeight)", 785},
    {IPL_StsBadArg, "Incorrect format of BI_RLE4 DIB (bad Delta command)", 805},
    {IPL_StsBadArg, "Incorrect format of BI_RLE4 DIB (mismatch biHeight or biWidth)", 848},
    {IPL_StsBadArg, "Incorrect format of BI_RLE4 DIB (data ends without end of bitmap)", 852},
};

// Padded row size in bytes of the decoded rows.
inline std::int64_t rowBytes(const Form& form, std::int64_t width) {
    return form.fourBit ? (width / 2 + width % 2 + 3) / 4 * 4 : (width + 3) / 4 * 4;
}

// Where the walk stands: the offset of the next code from the start of the run-length data
// and the pixel position x of row y (row 0 is the first row of the data, the bottom one).
struct Position {
    std::int64_t offset = 0;
    std::int64_t x = 0;
    std::int64_t y = 0;
};

enum class Code { Run, Literal, EndOfLine, Delta, EndOfBitmap };

// One code: Run and Literal set `count` pixels of row `y` from column `x` (a run's pixels
// come from `value`, a literal's from `literal`); EndOfLine, Delta and EndOfBitmap set none.
struct Event {
    Code code = Code::EndOfBitmap;
    std::int64_t x = 0;
    std::int64_t y = 0;
    unsigned count = 0;
    unsigned value = 0;
    const std::uint8_t* literal = nullptr;
};

enum class Step { Ok, Refused, ReadFailed };

// Walks the codes of `Codes`, which gives the data's size and `at(offset, n)`: a pointer to n
// readable bytes at that offset (null when they cannot be read).
template <class Codes> class Walker {
public:
    Walker(const Form& form, Codes& codes, std::int64_t width, std::int64_t height,
           Position start = {})
        : form_(form), codes_(codes), width_(width), height_(height), at_(start) {}

    const Position& position() const { return at_; }
    // The refusal after a Step::Refused.
    const Refusal& refusal() const { return *refusal_; }

    // Reads and checks the next code.
    Step next(Event& event) {
        if (at_.y > height_ || at_.x > width_) {
            return refuse(form_.position);
        }
        const std::int64_t available = codes_.size();
        if (available - at_.offset < 2) {
            return refuse(form_.pastEnd);
        }
        const std::uint8_t* code = codes_.at(at_.offset, 2);
        if (code == nullptr) {
            return Step::ReadFailed;
        }
        const unsigned a = code[0];
        const unsigned b = code[1];
        at_.offset += 2;
        event.x = at_.x;
        event.y = at_.y;
        if (a > 0) {
            // Encoded run: a pixels of value b (RLE4: its two nibbles alternately).
            if (at_.y == height_ || at_.x + a > width_) {
                return refuse(form_.position);
            }
            event.code = Code::Run;
            event.count = a;
            event.value = b;
            at_.x += a;
            return Step::Ok;
        }
        if (b == 0) {
            // End of line: only after a complete row.
            if (at_.x != width_) {
                return refuse(form_.width);
            }
            event.code = Code::EndOfLine;
            ++at_.y;
            at_.x = 0;
            return Step::Ok;
        }
        if (b == 1) {
            // End of bitmap: the last row closed, or the last row being the current one.
            if (at_.y != height_ && at_.y != height_ - 1) {
                return refuse(form_.height);
            }
            event.code = Code::EndOfBitmap;
            return Step::Ok;
        }
        if (b == 2) {
            // Delta: skip dx pixels and dy rows.
            if (available - at_.offset < 2) {
                return refuse(form_.pastEnd);
            }
            const std::uint8_t* delta = codes_.at(at_.offset, 2);
            if (delta == nullptr) {
                return Step::ReadFailed;
            }
            at_.x += delta[0];
            at_.y += delta[1];
            at_.offset += 2;
            if (at_.x > width_ || at_.y > height_) {
                return refuse(form_.delta);
            }
            event.code = Code::Delta;
            return Step::Ok;
        }
        // Literal block of b pixels, padded to an even number of bytes.
        const std::int64_t bytes = form_.fourBit ? (b + 1) / 2 : b;
        if (at_.y == height_ || at_.x + b > width_) {
            return refuse(form_.position);
        }
        if (available - at_.offset < bytes) {
            return refuse(form_.pastEnd);
        }
        event.literal = codes_.at(at_.offset, static_cast<int>(bytes));
        if (event.literal == nullptr) {
            return Step::ReadFailed;
        }
        event.code = Code::Literal;
        event.count = b;
        at_.offset = (at_.offset + bytes + 1) / 2 * 2;
        at_.x += b;
        return Step::Ok;
    }

private:
    Step refuse(const Refusal& refusal) {
        refusal_ = &refusal;
        return Step::Refused;
    }

    const Form& form_;
    Codes& codes_;
    std::int64_t width_;
    std::int64_t height_;
    Position at_;
    const Refusal* refusal_ = nullptr;
};

// Writes pixel x of an RLE4 row in place: the high nibble for even x, the low one for odd x.
inline void putNibble(std::uint8_t* row, std::int64_t x, unsigned value) {
    std::uint8_t& byte = row[x / 2];
    if (x % 2 == 0) {
        byte = static_cast<std::uint8_t>((byte & 0x0Fu) | ((value & 0x0Fu) << 4));
    } else {
        byte = static_cast<std::uint8_t>((byte & 0xF0u) | (value & 0x0Fu));
    }
}

// Sets the pixels of a Run or Literal event in `row`, the decoded row the event's y names.
inline void applyToRow(const Form& form, const Event& event, std::uint8_t* row) {
    if (event.code == Code::Run) {
        if (form.fourBit) {
            for (unsigned i = 0; i < event.count; ++i) {
                putNibble(row, event.x + i, i % 2 == 0 ? event.value >> 4 : event.value & 0x0Fu);
            }
        } else {
            std::memset(row + event.x, static_cast<int>(event.value), event.count);
        }
    } else if (event.code == Code::Literal) {
        if (form.fourBit) {
            for (unsigned i = 0; i < event.count; ++i) {
                const unsigned byte = event.literal[i / 2];
                putNibble(row, event.x + i, i % 2 == 0 ? byte >> 4 : byte & 0x0Fu);
            }
        } else {
            std::memcpy(row + event.x, event.literal, event.count);
        }
    }
}

// Codes held in memory.
class MemoryCodes {
public:
    MemoryCodes(const std::uint8_t* data, std::int64_t size) : data_(data), size_(size) {}
    std::int64_t size() const { return size_; }
    const std::uint8_t* at(std::int64_t offset, int) const { return data_ + offset; }

private:
    const std::uint8_t* data_;
    std::int64_t size_;
};

} // namespace rle
