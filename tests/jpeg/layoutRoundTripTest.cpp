// Every source and component layout the encoder accepts, written through its public interface:
// the stream decodes with TurboJPEG close to the source converted the same way, the plain and
// the vector routine sets give the same bytes, and so do rows stored bottom-up. Run alone, the
// test prints its table.
#include "encoderTestSupport.h"
#include "jpeg/blockTransform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

using namespace enc_test;

namespace {

struct Layout {
    const char* name;
    int inputColor;
    int bytesPerPixel;
    int inputSampling; // 2: packed Y0 Cb Y1 Cr pairs
    int outputColor;
    int outputChannels;
    std::vector<int> samplings;
    bool decodable = true; // TurboJPEG decodes 1, 3 and 4 components only
};

const std::vector<int> kOne = {JPEG_SAMPLING_NONE};
const std::vector<int> kThree = {JPEG_SAMPLING_NONE, JPEG_SAMPLING_H2V2, JPEG_SAMPLING_H2V1};
const std::vector<int> kFour = {JPEG_SAMPLING_NONE, JPEG_SAMPLING_H2V2_ALPHA,
                                JPEG_SAMPLING_H2V1_ALPHA};

const Layout kLayouts[] = {
    {"Gray>Gray", JPEG_COLOR_GRAY, 1, 0, JPEG_COLOR_GRAY, 1, kOne},
    {"Gray>YCbCr", JPEG_COLOR_GRAY, 1, 0, JPEG_COLOR_YCBCR, 3, kThree},
    {"RGB>Gray", JPEG_COLOR_RGB, 3, 0, JPEG_COLOR_GRAY, 1, kOne},
    {"RGB>RGB", JPEG_COLOR_RGB, 3, 0, JPEG_COLOR_RGB, 3, kThree},
    {"RGB>YCbCr", JPEG_COLOR_RGB, 3, 0, JPEG_COLOR_YCBCR, 3, kThree},
    {"RGBX>YCbCr", JPEG_COLOR_RGB, 4, 0, JPEG_COLOR_YCBCR, 3, kThree},
    {"BGR>Gray", JPEG_COLOR_BGR, 3, 0, JPEG_COLOR_GRAY, 1, kOne},
    {"BGR>RGB", JPEG_COLOR_BGR, 3, 0, JPEG_COLOR_RGB, 3, kThree},
    {"BGR>YCbCr", JPEG_COLOR_BGR, 3, 0, JPEG_COLOR_YCBCR, 3, kThree},
    {"YCbCr>YCbCr", JPEG_COLOR_YCBCR, 3, 0, JPEG_COLOR_YCBCR, 3, kThree},
    {"YCbCr422>YCbCr", JPEG_COLOR_YCBCR, 2, 2, JPEG_COLOR_YCBCR, 3, {JPEG_SAMPLING_H2V1}},
    {"Four>Four", JPEG_COLOR_FOUR_CHANNEL, 4, 0, JPEG_COLOR_FOUR_CHANNEL, 4, kFour},
    {"Four>YCCK", JPEG_COLOR_FOUR_CHANNEL, 4, 0, JPEG_COLOR_YCC_FOUR_CHANNEL, 4, kFour},
    {"Other1>Other1", JPEG_COLOR_OTHER, 1, 0, JPEG_COLOR_OTHER, 1, kOne},
    {"Other2>Other2", JPEG_COLOR_OTHER, 2, 0, JPEG_COLOR_OTHER, 2, kOne, false},
    {"Other4>Other3", JPEG_COLOR_OTHER, 4, 0, JPEG_COLOR_OTHER, 3, kThree},
    {"Other4>Other4", JPEG_COLOR_OTHER, 4, 0, JPEG_COLOR_OTHER, 4, kFour},
};

struct Size {
    int width;
    int height;
};
const std::vector<Size> kSizes = {{1, 1}, {7, 5}, {17, 9}, {33, 17}};
// Packed pairs need an even width: odd ones are refused.
const std::vector<Size> kEvenSizes = {{2, 1}, {8, 5}, {18, 9}, {34, 17}};
constexpr int kPadding = 3;

std::uint8_t clampByte(double v) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
}

// Whether the decoder takes the three components as Y, Cb and Cr.
bool decodedAsYcc(const Layout& l) {
    return l.outputChannels == 3 && l.outputColor != JPEG_COLOR_RGB &&
           (l.inputColor == JPEG_COLOR_YCBCR || l.inputColor == JPEG_COLOR_OTHER);
}

// A smooth picture with a little texture; Cb and Cr stay near their middle for sources that
// the decoder takes as YCbCr, so that no colour leaves the RGB cube.
std::uint8_t sourceByte(const Layout& l, int x, int y, int k) {
    const double wave = std::sin(0.5 * x + 0.3 * y + k) + 0.5 * std::cos(0.9 * x - 0.4 * y * k);
    const bool chroma = decodedAsYcc(l) && k > 0;
    return clampByte(chroma ? 128 + 10 * wave + 2 * k : 60 + 4 * x + 5 * y + 20 * k + 15 * wave);
}

struct Source {
    int width;
    int height;
    std::size_t stride;
    Bytes bytes;
    bool bottomUp = false; // rows stored last first
};

Source storedBottomUp(const Source& s) {
    Source flipped = s;
    flipped.bottomUp = true;
    for (int y = 0; y < s.height; ++y) {
        std::copy_n(s.bytes.begin() + static_cast<std::ptrdiff_t>(y * s.stride), s.stride,
                    flipped.bytes.begin() +
                        static_cast<std::ptrdiff_t>((s.height - 1 - y) * s.stride));
    }
    return flipped;
}

Source makeSource(const Layout& l, Size size) {
    const int rowBytes = size.width * l.bytesPerPixel;
    Source s{size.width, size.height, static_cast<std::size_t>(rowBytes + kPadding), {}};
    s.bytes.assign(s.stride * size.height, 0xA5);
    for (int y = 0; y < size.height; ++y) {
        for (int i = 0; i < rowBytes; ++i) {
            int x = i / l.bytesPerPixel;
            int k = i % l.bytesPerPixel;
            if (l.inputSampling == 2 && i % 2 == 1) {
                // Packed pairs: Y0 Cb Y1 Cr, the chroma of the pair's first pixel.
                x &= ~1;
                k = i % 4 == 1 ? 1 : 2;
            } else if (l.inputSampling == 2) {
                k = 0;
            }
            s.bytes[y * s.stride + i] = sourceByte(l, x, y, k);
        }
    }
    return s;
}

// The source converted as the decoder gives it back: gray, RGB or CMYK bytes per pixel.
Bytes expectedPixels(const Layout& l, const Source& s, int pixelSize) {
    Bytes out;
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            int v[4] = {0, 0, 0, 0};
            for (int k = 0; k < (l.inputSampling == 2 ? 3 : 4); ++k) {
                const int pixel = l.inputSampling == 2 ? 2 * x : x * l.bytesPerPixel;
                int offset = std::min(k, l.bytesPerPixel - 1);
                if (l.inputSampling == 2) {
                    offset = k == 0 ? 0 : (x % 2 == 0 ? 2 * k - 1 : 2 * k - 3);
                }
                v[k] = s.bytes[y * s.stride + pixel + offset];
            }
            if (l.inputColor == JPEG_COLOR_BGR) {
                std::swap(v[0], v[2]);
            }
            if (l.inputColor == JPEG_COLOR_GRAY) {
                v[1] = v[2] = v[0];
            }
            if (l.outputColor == JPEG_COLOR_YCC_FOUR_CHANNEL) {
                v[3] = 255 - v[3];
            }
            if (pixelSize == 1 && l.outputColor == JPEG_COLOR_GRAY && l.bytesPerPixel >= 3) {
                v[0] = (77 * v[0] + 150 * v[1] + 29 * v[2] + 128) >> 8;
            }
            if (decodedAsYcc(l)) {
                const double luma = v[0];
                const double cb = v[1] - 128.0;
                const double cr = v[2] - 128.0;
                v[0] = clampByte(luma + 1.402 * cr);
                v[1] = clampByte(luma - 0.344136 * cb - 0.714136 * cr);
                v[2] = clampByte(luma + 1.772 * cb);
            }
            out.insert(out.end(), v, v + pixelSize);
        }
    }
    return out;
}

double psnrOf(const Bytes& expected, const Bytes& decoded) {
    double squaredError = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const double e = static_cast<double>(expected[i]) - decoded[i];
        squaredError += e * e;
    }
    const double mse = squaredError / static_cast<double>(expected.size());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// With `plainTransforms`, the set's DCT and quantiser are replaced by the plain ones: the two
// sets differ only there (in the last bit of some coefficients), so they must then give the
// same bytes.
Encoded encode(const Layout& l, int sampling, const Source& s, const char* processorClass,
               bool plainTransforms = false) {
    Record p = newRecord(processorClass);
    if (plainTransforms) {
        replaceTransforms(p->state.routines, forwardDctPlain, quantizeBlockPlain);
    }
    p->inputPixels = s.bytes.data();
    p->inputWidth = s.width;
    p->inputHeight = s.bottomUp ? -s.height : s.height;
    p->inputRowPadding = kPadding;
    p->outputWidth = s.width;
    p->outputHeight = s.height;
    setLayoutFields(*p, l, sampling);
    p->quality = 95;
    Bytes buffer(4096 + s.bytes.size() * 4);
    p->outputBuffer = buffer.data();
    p->outputBufferSize = static_cast<std::int32_t>(buffer.size());
    Encoded result;
    result.status = jpegWrite(p.get(), JPEG_WRITE_BUFFER_IMAGE);
    buffer.resize(result.status == 0 ? static_cast<std::size_t>(p->outputBufferSize) : 0);
    result.bytes = std::move(buffer);
    return result;
}

TEST(LayoutRoundTrip, EveryLayoutDecodesCloseToItsSourceWithEqualRoutineSets) {
    std::printf("%-15s %3s %8s %6s %6s %8s %14s %10s\n", "layout", "bpp", "sampling", "size",
                "status", "PSNR dB", "plain=vector*", "plain=vector");
    for (const Layout& l : kLayouts) {
        std::vector<Size> sizes = kSizes;
        if (l.inputSampling == 2) {
            sizes.insert(sizes.end(), kEvenSizes.begin(), kEvenSizes.end());
        }
        for (const int sampling : l.samplings) {
            for (const Size size : sizes) {
                SCOPED_TRACE(std::string(l.name) + " sampling " + std::to_string(sampling) +
                             " size " + std::to_string(size.width) + "x" +
                             std::to_string(size.height));
                const Source source = makeSource(l, size);
                const Encoded plain = encode(l, sampling, source, "0");
                const Encoded vectorPlainTransforms = encode(l, sampling, source, "6", true);
                const Encoded vector = encode(l, sampling, source, "6");
                const Encoded bottomUp = encode(l, sampling, storedBottomUp(source), "6");
                const int pixelSize = l.outputChannels;
                const Decoded decoded =
                    plain.status != 0 || !l.decodable
                        ? Decoded{}
                        : decodeWithTurbo(plain.bytes, pixelSize == 1   ? TJPF_GRAY
                                                       : pixelSize == 4 ? TJPF_CMYK
                                                                        : TJPF_RGB);
                const double psnr =
                    decoded.ok ? psnrOf(expectedPixels(l, source, pixelSize), decoded.rgb) : 0;
                std::printf("%-15s %3d %8d %2dx%-3d %6d %8.2f %14s %10s\n", l.name, l.bytesPerPixel,
                            sampling, size.width, size.height, plain.status, psnr,
                            plain.bytes == vectorPlainTransforms.bytes ? "yes" : "NO",
                            plain.bytes == vector.bytes ? "yes" : "no");
                const bool refused = l.inputSampling == 2 && size.width % 2 != 0;
                ASSERT_EQ(plain.status, refused ? JPEG_ERR_SUBSAMPLING : 0);
                ASSERT_EQ(vector.status, plain.status);
                EXPECT_EQ(plain.bytes, vectorPlainTransforms.bytes);
                EXPECT_EQ(bottomUp.bytes, vector.bytes);
                if (refused || !l.decodable) {
                    continue;
                }
                ASSERT_TRUE(decoded.ok) << decoded.message;
                ASSERT_EQ(decoded.width, size.width);
                ASSERT_EQ(decoded.height, size.height);
                EXPECT_GE(psnr, l.outputChannels == 1 ? 45.0 : 35.0);
            }
        }
    }
    std::printf("* the vector set with the plain DCT and quantiser\n");
}

} // namespace
