// Test helper: builds device-independent bitmap blocks and images to convert them into.
#pragma once

#include "image/bitmapInfoHeader.h"
#include "image/iplImage.h"
#include "support/testFiles.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace image_test {

using testing_support::Bytes;

// A bitmap block: 40-byte header, 4-byte table words (palette entries or masks), pixel data.
struct DibSpec {
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = BI_RGB;
    std::uint32_t clrUsed = 0;
    std::uint32_t headerSize = 40;
    std::uint16_t planes = 1;
    std::vector<std::uint32_t> table;
    Bytes pixels;

    Bytes build() const {
        Bytes out;
        testing_support::putU32(out, headerSize);
        testing_support::putU32(out, static_cast<std::uint32_t>(width));
        testing_support::putU32(out, static_cast<std::uint32_t>(height));
        testing_support::putU16(out, planes);
        testing_support::putU16(out, bitCount);
        testing_support::putU32(out, compression);
        testing_support::putU32(out, 0); // biSizeImage
        testing_support::putU32(out, 2835);
        testing_support::putU32(out, 2835);
        testing_support::putU32(out, clrUsed);
        testing_support::putU32(out, 0); // biClrImportant
        for (std::uint32_t word : table) {
            testing_support::putU32(out, word);
        }
        out.insert(out.end(), pixels.begin(), pixels.end());
        return Bytes(out.begin(), out.end()); // exact size, so a read past the end is caught
    }
};

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

// An image from iplCreateImageHeader with allocated pixels, freed on destruction.
class TestImage {
public:
    TestImage(int width, int height, int nChannels = 4, int alphaChannel = 4,
              int depth = IPL_DEPTH_8U, const char* seq = "RGBA", int dataOrder = 0, int origin = 0,
              int align = 8, bool allocate = true, int fillValue = 0xAB) {
        const char* model = nChannels == 1 ? "GRAY" : "RGBA";
        header_ =
            iplCreateImageHeader(nChannels, alphaChannel, depth, model, seq, dataOrder, origin,
                                 align, width, height, nullptr, nullptr, nullptr, nullptr);
        if (header_ != nullptr && allocate) {
            iplAllocateImage(header_, 1, fillValue);
        }
    }
    ~TestImage() { iplFreeImageParts(header_, IPL_IMAGE_ALL); }
    TestImage(const TestImage&) = delete;
    TestImage& operator=(const TestImage&) = delete;

    ImageHeader* get() const { return header_; }
    ImageHeader* operator->() const { return header_; }

    std::uint8_t* row(int y) const {
        return reinterpret_cast<std::uint8_t*>(header_->imageData) +
               static_cast<std::ptrdiff_t>(y) * header_->widthStep;
    }
    std::array<std::uint8_t, 4> rgba(int x, int y) const {
        std::array<std::uint8_t, 4> pixel{};
        std::memcpy(pixel.data(), row(y) + 4 * x, 4);
        return pixel;
    }
    Bytes bytes() const {
        const auto* data = reinterpret_cast<const std::uint8_t*>(header_->imageData);
        return Bytes(data, data + header_->imageSize);
    }

private:
    ImageHeader* header_ = nullptr;
};

inline void convert(const Bytes& dib, ImageHeader* image) {
    iplConvertFromDIB(reinterpret_cast<const BITMAPINFOHEADER*>(dib.data()),
                      static_cast<std::int64_t>(dib.size()), image);
}

using Rgba = std::array<std::uint8_t, 4>;

} // namespace image_test
