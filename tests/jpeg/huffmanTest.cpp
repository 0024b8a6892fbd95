#include "entropyTestSupport.h"

#include "jpeg/coefficientBits.h"
#include "jpeg/huffmanTable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <vector>

namespace {

using namespace entropy_test;

struct KnownCodes {
    const char* name;
    const HuffmanSpec* spec;
    std::map<int, std::string> codes; // symbol -> code as printed in T.81 Annex K
};

const std::vector<KnownCodes>& knownCodes() {
    static const std::vector<KnownCodes> tables = {
        {"LuminanceDc",
         &kLuminanceDc,
         {{0, "00"},
          {1, "010"},
          {2, "011"},
          {3, "100"},
          {4, "101"},
          {5, "110"},
          {6, "1110"},
          {7, "11110"},
          {8, "111110"},
          {9, "1111110"},
          {10, "11111110"},
          {11, "111111110"}}},
        {"ChrominanceDc",
         &kChrominanceDc,
         {{0, "00"},
          {1, "01"},
          {2, "10"},
          {3, "110"},
          {4, "1110"},
          {5, "11110"},
          {6, "111110"},
          {7, "1111110"},
          {8, "11111110"},
          {9, "111111110"},
          {10, "1111111110"},
          {11, "11111111110"}}},
        {"LuminanceAc",
         &kLuminanceAc,
         {{0x00, "1010"},
          {0x01, "00"},
          {0x02, "01"},
          {0x03, "100"},
          {0x04, "1011"},
          {0x05, "11010"},
          {0x06, "1111000"},
          {0x07, "11111000"},
          {0x08, "1111110110"},
          {0x09, "1111111110000010"},
          {0x0A, "1111111110000011"},
          {0x11, "1100"},
          {0x12, "11011"},
          {0x13, "1111001"},
          {0x21, "11100"},
          {0x31, "111010"},
          {0x41, "111011"},
          {0xF0, "11111111001"},
          {0xF1, "1111111111110101"},
          {0xFA, "1111111111111110"}}},
        {"ChrominanceAc",
         &kChrominanceAc,
         {{0x00, "00"},
          {0x01, "01"},
          {0x02, "100"},
          {0x03, "1010"},
          {0x04, "11000"},
          {0x05, "11001"},
          {0x06, "111000"},
          {0x07, "1111000"},
          {0x08, "111110100"},
          {0x09, "1111110110"},
          {0x0A, "111111110100"},
          {0x11, "1011"},
          {0x21, "11010"},
          {0xF0, "1111111010"},
          {0xF1, "111111111000011"},
          {0xFA, "1111111111111110"}}},
    };
    return tables;
}

TEST(HuffmanCodeTable, DerivesTheCodesOfTheStandardTables) {
    for (const KnownCodes& known : knownCodes()) {
        SCOPED_TRACE(known.name);
        const HuffmanCodeTable table = derive(*known.spec);
        for (const auto& [symbol, code] : known.codes) {
            EXPECT_EQ(codeString(table, symbol), code) << "symbol " << symbol;
        }
    }
}

TEST(HuffmanCodeTable, StandardTablesGiveAPrefixFreeCodeForEveryListedSymbol) {
    for (const KnownCodes& known : knownCodes()) {
        SCOPED_TRACE(known.name);
        const HuffmanCodeTable table = derive(*known.spec);
        std::vector<std::string> codes;
        int coded = 0;
        for (int s = 0; s < 256; ++s) {
            if (table.length[s] != 0) {
                ++coded;
                codes.push_back(codeString(table, s));
            }
        }
        EXPECT_EQ(coded, static_cast<int>(known.spec->huffval.size()));
        for (std::size_t i = 0; i < codes.size(); ++i) {
            for (std::size_t j = 0; j < codes.size(); ++j) {
                if (i != j) {
                    EXPECT_NE(codes[j].rfind(codes[i], 0), 0u)
                        << codes[i] << " is a prefix of " << codes[j];
                }
            }
        }
        // Symbols outside HUFFVAL have no code.
        for (int s = 0; s < 256; ++s) {
            bool listed = false;
            for (std::uint8_t v : known.spec->huffval) {
                listed = listed || v == s;
            }
            if (!listed) {
                EXPECT_EQ(table.length[s], 0) << "symbol " << s;
            }
        }
    }
}

TEST(HuffmanCodeTable, EmptyCountsGiveATableWithoutCodes) {
    HuffmanCodeTable table{};
    for (int s = 0; s < 256; ++s) {
        table.length[s] = 7;
        table.code[s] = 0x55;
    }
    const std::uint8_t bits[16] = {};
    const std::uint8_t huffval[1] = {0};
    EXPECT_EQ(buildHuffmanCodeTable(bits, huffval, &table), 0);
    for (int s = 0; s < 256; ++s) {
        EXPECT_EQ(table.length[s], 0);
        EXPECT_EQ(table.code[s], 0);
    }
}

TEST(HuffmanCodeTable, AcceptsUpTo258CodesAndRefuses259) {
    struct Case {
        int count15;
        int count16;
        int expected;
    };
    const Case cases[] = {{3, 255, 0}, {4, 255, -6}, {2, 255, 0}, {255, 4, -6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count15 + c.count16);
        std::uint8_t bits[16] = {};
        bits[14] = static_cast<std::uint8_t>(c.count15);
        bits[15] = static_cast<std::uint8_t>(c.count16);
        std::vector<std::uint8_t> huffval(260);
        for (std::size_t k = 0; k < huffval.size(); ++k) {
            huffval[k] = static_cast<std::uint8_t>(k);
        }
        HuffmanCodeTable table{};
        EXPECT_EQ(buildHuffmanCodeTable(bits, huffval.data(), &table), c.expected);
    }
}

TEST(HuffmanCodeTable, RefusesCountsThatNoPrefixCodeCanMeet) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> counts; // (length, count)
        int expected;
    };
    const Case cases[] = {
        {"two of length 1", {{1, 2}}, 0},
        {"three of length 1", {{1, 3}}, -6},
        {"four of length 2", {{2, 4}}, 0},
        {"five of length 2", {{2, 5}}, -6},
        {"one of 1, three of 2", {{1, 1}, {2, 3}}, -6},
        {"one of 1, two of 2", {{1, 1}, {2, 2}}, 0},
        {"full tree down to 16",
         {{1, 1},
          {2, 1},
          {3, 1},
          {4, 1},
          {5, 1},
          {6, 1},
          {7, 1},
          {8, 1},
          {9, 1},
          {10, 1},
          {11, 1},
          {12, 1},
          {13, 1},
          {14, 1},
          {15, 1},
          {16, 2}},
         0},
        {"one too many at 16",
         {{1, 1},
          {2, 1},
          {3, 1},
          {4, 1},
          {5, 1},
          {6, 1},
          {7, 1},
          {8, 1},
          {9, 1},
          {10, 1},
          {11, 1},
          {12, 1},
          {13, 1},
          {14, 1},
          {15, 1},
          {16, 3}},
         -6},
    };
    const std::vector<std::uint8_t> huffval = [] {
        std::vector<std::uint8_t> v(256);
        for (std::size_t i = 0; i < v.size(); ++i) {
            v[i] = static_cast<std::uint8_t>(i);
        }
        return v;
    }();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint8_t bits[16] = {};
        for (const auto& [length, count] : c.counts) {
            bits[length - 1] = static_cast<std::uint8_t>(count);
        }
        HuffmanCodeTable table{};
        ASSERT_EQ(buildHuffmanCodeTable(bits, huffval.data(), &table), c.expected);
        if (c.expected == 0) {
            // Every code fits its length.
            for (int s = 0; s < 256; ++s) {
                if (table.length[s] != 0) {
                    EXPECT_LT(table.code[s], 1 << table.length[s]) << "symbol " << s;
                }
            }
        }
    }
}

TEST(HuffmanCodeTable, SymbolListedTwiceKeepsItsLastCode) {
    std::uint8_t bits[16] = {};
    bits[1] = 3; // three codes of length 2: 00, 01, 10
    const std::uint8_t huffval[3] = {5, 6, 5};
    HuffmanCodeTable table{};
    ASSERT_EQ(buildHuffmanCodeTable(bits, huffval, &table), 0);
    EXPECT_EQ(codeString(table, 5), "10");
    EXPECT_EQ(codeString(table, 6), "01");
}

TEST(HuffmanCodeTable, SingleCodeOfLengthOne) {
    std::uint8_t bits[16] = {};
    bits[0] = 1;
    const std::uint8_t huffval[1] = {0x42};
    HuffmanCodeTable table{};
    ASSERT_EQ(buildHuffmanCodeTable(bits, huffval, &table), 0);
    EXPECT_EQ(codeString(table, 0x42), "0");
}

TEST(MagnitudeCategory, CountsTheSignificantBits) {
    const std::pair<int, int> cases[] = {{0, 0},   {1, 1},   {2, 2},   {3, 2},     {4, 3},
                                         {7, 3},   {8, 4},   {15, 4},  {16, 5},    {31, 5},
                                         {32, 6},  {63, 6},  {64, 7},  {127, 7},   {128, 8},
                                         {200, 8}, {255, 8}, {256, 9}, {2047, 11}, {32767, 15}};
    for (const auto& [value, category] : cases) {
        EXPECT_EQ(categoryOf(value), category) << value;
        EXPECT_EQ(categoryOf(-value), category) << -value;
        if (value != 0) {
            EXPECT_EQ(categoryOfNonZero(value), category) << value;
            EXPECT_EQ(categoryOfNonZero(-value), category) << -value;
        }
    }
}

TEST(ValueBits, AreTheValueOrItsOnesComplementCutToTheCategory) {
    // {value, bits}: negative values send value - 1 in `category` bits.
    const std::pair<int, std::uint32_t> cases[] = {{1, 1},       {-1, 0},    {5, 5},    {-5, 2},
                                                   {-4, 3},      {255, 255}, {-255, 0}, {-256, 255},
                                                   {1024, 1024}, {-32767, 0}};
    for (const auto& [value, bits] : cases) {
        EXPECT_EQ(valueBits(value, categoryOf(value)), bits) << value;
    }
}

} // namespace
