// Conversion of the stored rows of a described bitmap into image rows, any band at a time.
#pragma once

#include "image/dibLayout.h"
#include "image/iplImage.h"

#include <array>
#include <cstdint>
#include <memory>

enum class DibReaderKind : int;
enum class DibOrderKind : int;
enum class DibWriterKind : int;

// Picks the pixel reader (bitmap format), channel-order step (image's channel sequence) and
// writer (image layout) once, loads the palette or the 16-bit table, then converts bands of
// picture rows. The bitmap's layout must have passed describeDib and checkDibExtent.
class DibRowConverter {
public:
    DibRowConverter(const DibBlock& block, const DibLayout& layout, const ImageHeader& image);

    // False when the image's channel sequence has no order step or its channels and depth
    // have no writer; convert then does nothing.
    bool ready() const;

    // Converts picture rows [y0, y1) (row 0 the top row of the picture) from `rows`, the
    // stored rows (or the decoded run-length rows) laid out as the layout says. Picture row y0
    // goes to `destination`, each following one `destinationStep` bytes further (negative to
    // fill upwards). The first min(image width, bitmap width) pixels of each row are written.
    void convert(const std::uint8_t* rows, std::int64_t y0, std::int64_t y1,
                 std::uint8_t* destination, std::int64_t destinationStep) const;

private:
    struct AlignedFree {
        void operator()(std::uint32_t* block) const { iplAlignedFree(block); }
    };

    DibLayout layout_;
    DibReaderKind reader_;
    DibOrderKind order_;
    DibWriterKind writer_;
    std::int64_t columns_ = 0;
    std::int64_t channelDistance_ = 0; // bytes between a pixel's channels
    std::int64_t pixelStep_ = 0;       // bytes between pixels
    std::array<std::uint32_t, 256> palette_{};
    std::unique_ptr<std::uint32_t, AlignedFree> table16_; // every 16-bit word's pixel, or null
};

// Bytes from one image row to the next for the image's width, depth, channels and alignment.
std::int64_t imageRowBytes(const ImageHeader& image);
