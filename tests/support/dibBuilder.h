// Builds device-independent bitmaps and BMP files byte by byte for the tests.
#pragma once

#include "image/dibLayout.h"
#include "support/testFiles.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

namespace dib_builder {

using testing_support::Bytes;
using testing_support::putU16;
using testing_support::putU32;

// The fields of a bitmap with a 40-byte info header, and what follows the header.
struct DibFields {
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = BI_RGB;
    std::uint32_t clrUsed = 0;
    std::uint32_t infoSize = 40;
    std::uint16_t planes = 1;
    // 4-byte words after the header: colour masks and/or table entries (blue in the low byte).
    std::vector<std::uint32_t> table;
    // Everything after the table: pixel rows or run-length data, as stored.
    Bytes pixels;

    // The bitmap block, exactly as long as its parts, so a read past the end is caught.
    Bytes build() const {
        Bytes b;
        putU32(b, infoSize);
        putU32(b, static_cast<std::uint32_t>(width));
        putU32(b, static_cast<std::uint32_t>(height));
        putU16(b, planes);
        putU16(b, bitCount);
        putU32(b, compression);
        putU32(b, static_cast<std::uint32_t>(pixels.size()));
        putU32(b, 2835);
        putU32(b, 2835);
        putU32(b, clrUsed);
        putU32(b, 0);
        for (std::uint32_t word : table) {
            putU32(b, word);
        }
        b.insert(b.end(), pixels.begin(), pixels.end());
        return b;
    }
};

inline Bytes buildDib(const DibFields& fields) {
    return fields.build();
}

// A BMP file: the 14-byte file header (size field = the real size unless overridden, pixel
// offset = 14 + 40 unless given) followed by the bitmap.
inline Bytes buildBmpFile(const Bytes& dib, std::optional<std::uint32_t> sizeField = {},
                          std::uint32_t pixelOffset = 0) {
    Bytes b{'B', 'M'};
    putU32(b, sizeField.value_or(static_cast<std::uint32_t>(14 + dib.size())));
    putU32(b, 0);
    putU32(b, pixelOffset != 0 ? pixelOffset : 14 + 40);
    b.insert(b.end(), dib.begin(), dib.end());
    return b;
}

inline Bytes buildBmpFile(const DibFields& fields) {
    return buildBmpFile(buildDib(fields));
}

// Appends one row of bytes, padded with `pad` to a multiple of 4.
inline void addRow(Bytes& pixels, std::initializer_list<std::uint8_t> row, std::uint8_t pad = 0) {
    const std::size_t start = pixels.size();
    pixels.insert(pixels.end(), row.begin(), row.end());
    while ((pixels.size() - start) % 4 != 0) {
        pixels.push_back(pad);
    }
}

// A palette entry as stored: blue, green, red, reserved.
inline std::uint32_t entry(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                           std::uint8_t reserved = 0) {
    return std::uint32_t{blue} | (std::uint32_t{green} << 8) | (std::uint32_t{red} << 16) |
           (std::uint32_t{reserved} << 24);
}

// Rows of a 24-bit bitmap as stored: each row blue, green, red per pixel, padded to 4 bytes.
// `rgb` lists the pixels row by row in storage order, each as 0xRRGGBB.
inline Bytes rows24(int width, const std::vector<std::uint32_t>& rgb) {
    Bytes b;
    const int rows = width == 0 ? 0 : static_cast<int>(rgb.size()) / width;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = rgb[static_cast<std::size_t>(y * width + x)];
            b.push_back(static_cast<std::uint8_t>(p));
            b.push_back(static_cast<std::uint8_t>(p >> 8));
            b.push_back(static_cast<std::uint8_t>(p >> 16));
        }
        while (b.size() % 4 != 0) {
            b.push_back(0);
        }
    }
    return b;
}

// A 24-bit bitmap whose pixels are all the same colour.
inline DibFields solid24(int width, int height, std::uint32_t rgb) {
    DibFields fields;
    fields.width = width;
    fields.height = height;
    fields.pixels = rows24(width, std::vector<std::uint32_t>(
                                      static_cast<std::size_t>(width) *
                                          static_cast<std::size_t>(height < 0 ? -height : height),
                                      rgb));
    return fields;
}

} // namespace dib_builder
