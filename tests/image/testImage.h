// Test helper: images to convert bitmaps into, and the conversion call.
#pragma once

#include "image/iplImage.h"
#include "support/dibBuilder.h"
#include "support/testFiles.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace image_test {

using testing_support::Bytes;

using dib_builder::addRow;
using dib_builder::DibFields;
using dib_builder::entry;

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
