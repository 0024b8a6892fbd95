// Test helpers for the entropy coder: the T.81 Annex K example Huffman tables, a small
// independent T.81 Annex F decoder, and the plain and vector routine sets side by side.
#pragma once

#include "jpeg/huffmanTable.h"
#include "jpeg/outputStream.h"
#include "jpeg/routineTable.h"
#include "jpeg/zigzag.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace entropy_test {

struct HuffmanSpec {
    std::array<std::uint8_t, 16> bits;
    std::vector<std::uint8_t> huffval;
};

// T.81 Table K.3.
inline const HuffmanSpec kLuminanceDc = {{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
                                         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
// T.81 Table K.4.
inline const HuffmanSpec kChrominanceDc = {{0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0},
                                           {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
// T.81 Table K.5.
inline const HuffmanSpec kLuminanceAc = {
    {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
    {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
     0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
     0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
     0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
     0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
     0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
     0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
     0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
     0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
     0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
     0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};
// T.81 Table K.6.
inline const HuffmanSpec kChrominanceAc = {
    {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77},
    {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
     0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
     0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
     0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
     0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
     0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
     0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
     0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
     0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
     0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
     0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};

inline HuffmanCodeTable derive(const HuffmanSpec& spec) {
    HuffmanCodeTable table{};
    buildHuffmanCodeTable(spec.bits.data(), spec.huffval.data(), &table);
    return table;
}

// The code of `symbol` as a string of '0' and '1'; empty when it has none.
inline std::string codeString(const HuffmanCodeTable& table, int symbol) {
    std::string s;
    for (int i = table.length[symbol] - 1; i >= 0; --i) {
        s += ((table.code[symbol] >> i) & 1) ? '1' : '0';
    }
    return s;
}

// Decoding tables of T.81 Figure F.16 (MINCODE, MAXCODE, VALPTR), built straight from BITS.
class Decoder {
public:
    explicit Decoder(const HuffmanSpec& spec) : huffval_(spec.huffval) {
        std::int32_t code = 0;
        int k = 0;
        for (int length = 1; length <= 16; ++length) {
            const int n = spec.bits[length - 1];
            valptr_[length] = k;
            mincode_[length] = code;
            maxcode_[length] = n == 0 ? -1 : code + n - 1;
            code = (code + n) << 1;
            k += n;
        }
    }

    template <typename NextBit> std::optional<int> decode(NextBit&& nextBit) const {
        std::int32_t code = 0;
        for (int length = 1; length <= 16; ++length) {
            const auto bit = nextBit();
            if (!bit) {
                return std::nullopt;
            }
            code = (code << 1) | *bit;
            if (maxcode_[length] >= 0 && code <= maxcode_[length]) {
                return huffval_[static_cast<std::size_t>(valptr_[length] + code -
                                                         mincode_[length])];
            }
        }
        return std::nullopt;
    }

private:
    std::vector<std::uint8_t> huffval_;
    std::int32_t mincode_[17] = {};
    std::int32_t maxcode_[17] = {};
    int valptr_[17] = {};
};

// Reads the entropy-coded bits of a byte stream: removes the 0x00 after each 0xFF and stops
// at a marker.
class BitReader {
public:
    explicit BitReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

    std::optional<int> bit() {
        if (bitsLeft_ == 0) {
            if (pos_ >= bytes_.size()) {
                return std::nullopt;
            }
            const std::uint8_t byte = bytes_[pos_];
            if (byte == 0xFF) {
                if (pos_ + 1 >= bytes_.size() || bytes_[pos_ + 1] != 0x00) {
                    return std::nullopt; // a marker
                }
                pos_ += 2;
            } else {
                pos_ += 1;
            }
            current_ = byte;
            bitsLeft_ = 8;
        }
        --bitsLeft_;
        return (current_ >> bitsLeft_) & 1;
    }

    std::optional<std::int32_t> receive(int count) {
        std::int32_t v = 0;
        for (int i = 0; i < count; ++i) {
            const auto b = bit();
            if (!b) {
                return std::nullopt;
            }
            v = (v << 1) | *b;
        }
        return v;
    }

    // True when the bits left in the current byte are all 1 (T.81 padding).
    bool restIsPadding() const {
        return bitsLeft_ == 0 || (current_ & ((1u << bitsLeft_) - 1)) == (1u << bitsLeft_) - 1;
    }
    std::size_t position() const { return pos_; }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t pos_ = 0;
    std::uint8_t current_ = 0;
    int bitsLeft_ = 0;
};

inline std::int32_t extend(std::int32_t v, int category) {
    return category == 0 ? 0 : (v < (1 << (category - 1)) ? v - (1 << category) + 1 : v);
}

struct DecodedBlock {
    std::array<std::int16_t, 64> coefficients{}; // natural order
    std::vector<int> symbols;                    // DC category, then the AC symbols
};

// Decodes one block (T.81 F.2.2); nullopt on a broken stream.
inline std::optional<DecodedBlock> decodeBlock(BitReader& reader, const Decoder& dc,
                                               const Decoder& ac, std::int32_t& predictor) {
    DecodedBlock block;
    auto next = [&] { return reader.bit(); };
    const auto t = dc.decode(next);
    if (!t || *t > 16) {
        return std::nullopt;
    }
    block.symbols.push_back(*t);
    const auto bits = reader.receive(*t);
    if (!bits) {
        return std::nullopt;
    }
    predictor += extend(*bits, *t);
    block.coefficients[0] = static_cast<std::int16_t>(predictor);
    for (int k = 1; k < 64;) {
        const auto rs = ac.decode(next);
        if (!rs) {
            return std::nullopt;
        }
        block.symbols.push_back(*rs);
        const int run = *rs >> 4, size = *rs & 15;
        if (size == 0) {
            if (run != 15) {
                break;
            }
            k += 16;
            continue;
        }
        k += run;
        const auto v = reader.receive(size);
        if (k > 63 || !v) {
            return std::nullopt;
        }
        block.coefficients[static_cast<std::size_t>(kZigzagNatural[k])] =
            static_cast<std::int16_t>(extend(*v, size));
        ++k;
    }
    return block;
}

// The bit output of one kernel set, taken from its routine table; all null where this build or
// processor lacks the set.
struct BitOutputSet {
    const char* name;
    StartOutputFn startOutput;
    WriteBytesFn writeBytes;
    EncodeBlockFn encodeBlock;
};

inline BitOutputSet bitOutputOf(const char* name, KernelSet set) {
    const std::optional<RoutineTable> table = routinesForSet(set);
    if (!table) {
        return {name, nullptr, nullptr, nullptr};
    }
    return {name, table->startOutput, table->writeBytes, table->encodeBlock};
}

inline const BitOutputSet kPlainSet = bitOutputOf("Plain", KernelSet::Plain);
inline const BitOutputSet kVectorSet = bitOutputOf("Vector", KernelSet::VectorPortable);
inline const BitOutputSet kAvx2Set = bitOutputOf("Avx2", KernelSet::Avx2);
inline const BitOutputSet kAvx512Set = bitOutputOf("Avx512", KernelSet::Avx512);

inline std::unique_ptr<OutputStream> newStream() {
    return std::make_unique<OutputStream>();
}

} // namespace entropy_test
