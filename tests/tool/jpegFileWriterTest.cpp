// writeJpegFile: the tool's whole-image write of an Rgba8 image; encodeJpegImage, the same into
// memory.
#include "tool/jpegFileWriter.h"
#include "jpeg/jpegEncoder.h"
#include "support/testFiles.h"
#include "vx2Image/QimImg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

using testing_support::Bytes;
using testing_support::readFile;
using testing_support::ScratchDir;

namespace {

QimImgT<Rgba8> makeImage(int width, int height, unsigned seed) {
    QimImgT<Rgba8> image;
    image.create(width, height, true, false, 0);
    unsigned state = seed;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<std::uint8_t*>(image.imageData() + y * image.widthStep());
        for (int x = 0; x < 4 * width; ++x) {
            state = state * 1103515245u + 12345u;
            row[x] = static_cast<std::uint8_t>((x * 5 + y * 3 + (state >> 28)) & 0xFF);
        }
        // The row tail beyond the pixels must not matter.
        for (int x = 4 * width; x < image.widthStep(); ++x) {
            row[x] = static_cast<std::uint8_t>(state >> 24);
        }
    }
    return image;
}

// The same pixels, packed without row padding, encoded through the encoder directly.
Bytes encodePacked(const QimImgT<Rgba8>& image, int quality) {
    const int width = image.width();
    const int height = image.height();
    Bytes pixels(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        std::memcpy(pixels.data() + static_cast<std::size_t>(y) * width * 4,
                    image.imageData() + y * image.widthStep(), static_cast<std::size_t>(width) * 4);
    }
    auto p = std::make_unique<JPEG_PROPERTIES>();
    EXPECT_EQ(jpegInitialize(p.get()), 0);
    p->inputPixels = pixels.data();
    p->inputWidth = p->outputWidth = width;
    p->inputHeight = p->outputHeight = height;
    p->inputChannels = 4;
    p->inputColor = JPEG_COLOR_RGB;
    p->outputSampling = JPEG_SAMPLING_NONE;
    p->quality = quality;
    Bytes buffer(1024 + pixels.size() * 2);
    p->outputBuffer = buffer.data();
    p->outputBufferSize = static_cast<std::int32_t>(buffer.size());
    EXPECT_EQ(jpegWrite(p.get(), JPEG_WRITE_BUFFER_IMAGE), 0);
    buffer.resize(static_cast<std::size_t>(p->outputBufferSize));
    jpegRelease(p.get());
    return buffer;
}

TEST(WriteJpegFile, OnePixelShadingRatioImageGivesThe666ByteFile) {
    ScratchDir dir;
    QimImgT<Rgba8> image;
    image.create(1, 1, true, false, 0);
    const std::uint8_t pixel[4] = {64, 64, 64, 0};
    std::memcpy(image.imageData(), pixel, 4);
    const std::string path = dir.file("one.jpg");
    ASSERT_TRUE(writeJpegFile(path, image, 95));
    const Bytes file = readFile(path);
    ASSERT_EQ(file.size(), 666u);
    EXPECT_EQ(Bytes(file.begin() + 659, file.end()),
              (Bytes{0xFC, 0xFF, 0x00, 0xA0, 0x0F, 0xFF, 0xD9}));
}

TEST(WriteJpegFile, PaddedRowsEncodeLikeThePackedPixels) {
    ScratchDir dir;
    for (const auto& [width, height] : {std::pair{3, 5}, std::pair{10, 1}, std::pair{17, 9}}) {
        const QimImgT<Rgba8> image = makeImage(width, height, 7);
        const std::string path = dir.file("padded.jpg");
        ASSERT_TRUE(writeJpegFile(path, image, 95));
        EXPECT_EQ(readFile(path), encodePacked(image, 95)) << width << "x" << height;
    }
}

TEST(WriteJpegFile, UsesTheGivenQuality) {
    ScratchDir dir;
    const QimImgT<Rgba8> image = makeImage(16, 16, 3);
    const std::string path = dir.file("q50.jpg");
    ASSERT_TRUE(writeJpegFile(path, image, 50));
    const Bytes file = readFile(path);
    EXPECT_EQ(file, encodePacked(image, 50));
    EXPECT_NE(file, encodePacked(image, 95));
}

TEST(WriteJpegFile, ReportsFailureWhenTheFileCannotBeCreated) {
    ScratchDir dir;
    const QimImgT<Rgba8> image = makeImage(4, 4, 1);
    EXPECT_FALSE(writeJpegFile(dir.file("missing/folder/out.jpg"), image, 95));
    EXPECT_FALSE(writeJpegFile("", image, 95));
}

// Memory that must grow (full-range noise at quality 100 takes more than two bytes a pixel)
// and memory that need not both hold the bytes of the file.
TEST(EncodeJpegImage, GivesTheFileBytesInMemory) {
    ScratchDir dir;
    QimImgT<Rgba8> noise;
    noise.create(256, 256, true, false, 0);
    unsigned state = 5;
    for (int y = 0; y < noise.height(); ++y) {
        auto* row = reinterpret_cast<std::uint8_t*>(noise.imageData() + y * noise.widthStep());
        for (int x = 0; x < 4 * noise.width(); ++x) {
            state = state * 1103515245u + 12345u;
            row[x] = static_cast<std::uint8_t>(state >> 23);
        }
    }
    std::size_t largest = 0;
    for (const auto& [image, quality] :
         {std::pair{makeImage(17, 9, 2), 95}, std::pair{noise, 50}, std::pair{noise, 100}}) {
        const std::string path = dir.file("memory.jpg");
        ASSERT_TRUE(writeJpegFile(path, image, quality));
        Bytes bytes{1, 2, 3};
        EXPECT_EQ(encodeJpegImage(bytes, image, quality), JPEG_SUCCESS);
        EXPECT_EQ(bytes, readFile(path)) << image.width() << " quality " << quality;
        largest = std::max(largest, bytes.size());
    }
    EXPECT_GT(largest, 4096u + 2 * 256 * 256) << "the memory never had to grow";
}

} // namespace
