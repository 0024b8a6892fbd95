// Helpers for the encoder tests: synthetic RGBX images, encoding through the public interface
// with a forced routine set, JPEG segment parsing and decoding with TurboJPEG.
#pragma once

#include "jpeg/jpegEncoder.h"
#include "jpeg/processorInfo.h"
#include "jpeg/routineTable.h"
#include "support/printAsName.h"
#include "support/scopedEnv.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace enc_test {

using Bytes = std::vector<std::uint8_t>;

// A routine set, forced through the processor-class override and, for a vector set narrower
// than the widest, through the kernel-set limit (`kernels`, the QMJPEG_KERNELS value). `set`
// is the kernel set the case runs, where it names one.
struct RoutineSetCase {
    const char* name;
    const char* processorClass;
    const char* kernels = nullptr;
    std::optional<KernelSet> set = std::nullopt;
};
PRINT_CASE_AS_NAME(RoutineSetCase)

// The two routine sets, which write different bytes for textured images.
inline constexpr RoutineSetCase kRoutineSets[] = {{"Plain", "0"}, {"Vector", "6"}};

// Every kernel set: the plain one and each vector set, all vector sets writing the same bytes.
inline constexpr RoutineSetCase kEveryKernelSet[] = {
    {"Plain", "0", nullptr, KernelSet::Plain},
    {"Portable", "6", "portable", KernelSet::VectorPortable},
    {"Sse2", "6", "sse2", KernelSet::Sse2},
    {"Avx2", "6", "avx2", KernelSet::Avx2},
    {"Avx512", "6", "avx512", KernelSet::Avx512},
};

inline std::string routineSetName(const ::testing::TestParamInfo<RoutineSetCase>& info) {
    return info.param.name;
}

// Sets the override for the lifetime of the object and restores the previous value.
class ScopedProcessorClass : public testing_support::ScopedEnv {
public:
    explicit ScopedProcessorClass(const char* value) : ScopedEnv(kProcessorClassVariable, value) {}
};

// Sets the kernel-set limit for the lifetime of the object and restores the previous value.
class ScopedKernelSet : public testing_support::ScopedEnv {
public:
    explicit ScopedKernelSet(const char* value) : ScopedEnv(kKernelSetVariable, value) {}
};

// Why the case cannot run here; empty when it can.
inline std::string unavailableReason(const RoutineSetCase& c) {
    if (c.set && !kernelSetAvailable(*c.set)) {
        return std::string("this build or processor has no ") + c.name + " kernels";
    }
    return {};
}

// An interleaved 4-byte-per-pixel image, rows top-down, `padding` bytes after each row. The
// buffer ends right after the last pixel of the last row (its padding is not allocated), so a
// read of that padding is a read outside the allocation.
struct RgbxImage {
    int width = 0;
    int height = 0;
    int padding = 0;
    Bytes bytes;

    std::size_t stride() const { return static_cast<std::size_t>(width) * 4 + padding; }
    std::uint8_t* pixel(int x, int y) { return bytes.data() + y * stride() + x * 4; }
    const std::uint8_t* pixel(int x, int y) const { return bytes.data() + y * stride() + x * 4; }
};

using PixelFunction = std::function<void(int x, int y, std::uint8_t* rgbx)>;

inline RgbxImage makeImage(int width, int height, int padding, const PixelFunction& fill,
                           std::uint8_t padValue = 0xA5) {
    RgbxImage image;
    image.width = width;
    image.height = height;
    image.padding = padding;
    image.bytes.assign(image.stride() * (height - 1) + static_cast<std::size_t>(width) * 4,
                       padValue);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            fill(x, y, image.pixel(x, y));
        }
    }
    return image;
}

// The record's input and output layout fields from a layout description that has the fields
// bytesPerPixel, inputColor, inputSampling, outputChannels and outputColor (2x1 input sampling
// takes three bytes a pixel whatever the layout says).
template <class Layout>
void setLayoutFields(JPEG_PROPERTIES& p, const Layout& l, int outputSampling) {
    p.inputChannels = l.inputSampling == 2 ? 3 : l.bytesPerPixel;
    p.inputColor = l.inputColor;
    p.inputSampling = l.inputSampling;
    p.outputChannels = l.outputChannels;
    p.outputColor = l.outputColor;
    p.outputSampling = outputSampling;
}

inline PixelFunction solid(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 0) {
    return [=](int, int, std::uint8_t* p) {
        p[0] = r;
        p[1] = g;
        p[2] = b;
        p[3] = a;
    };
}

inline PixelFunction randomPixels(unsigned seed) {
    auto engine = std::make_shared<std::mt19937>(seed);
    return [engine](int, int, std::uint8_t* p) {
        for (int k = 0; k < 4; ++k) {
            p[k] = static_cast<std::uint8_t>((*engine)() & 0xFF);
        }
    };
}

// Smooth gradients with a little noise, like a photograph.
inline PixelFunction photoLike(int width, int height, unsigned seed) {
    auto engine = std::make_shared<std::mt19937>(seed);
    return [=](int x, int y, std::uint8_t* p) {
        std::uniform_int_distribution<int> noise(-3, 3);
        const double fx = static_cast<double>(x) / std::max(1, width - 1);
        const double fy = static_cast<double>(y) / std::max(1, height - 1);
        const double wave = 40.0 * std::sin(fx * 9.0 + fy * 4.0);
        const auto clamp = [](double v) {
            return static_cast<std::uint8_t>(std::lround(std::min(255.0, std::max(0.0, v))));
        };
        p[0] = clamp(40 + 170 * fx + wave + noise(*engine));
        p[1] = clamp(60 + 150 * fy - wave / 2 + noise(*engine));
        p[2] = clamp(200 - 120 * fx * fy + noise(*engine));
        p[3] = static_cast<std::uint8_t>((*engine)() & 0xFF);
    };
}

struct RecordDeleter {
    void operator()(JPEG_PROPERTIES* p) const {
        jpegRelease(p);
        delete p;
    }
};
using Record = std::unique_ptr<JPEG_PROPERTIES, RecordDeleter>;

// An initialised record (under the given processor class override, or none).
inline Record newRecord(const char* processorClass = nullptr) {
    ScopedProcessorClass force(processorClass);
    auto* p = new JPEG_PROPERTIES();
    const int status = jpegInitialize(p);
    EXPECT_EQ(status, 0);
    return Record(p);
}

// The tool's settings for an RGBX source: 3 YCbCr components without subsampling.
inline void describe(JPEG_PROPERTIES& p, const RgbxImage& image, int quality = 95) {
    p.inputPixels = image.bytes.data();
    p.inputWidth = image.width;
    p.inputHeight = image.height;
    p.inputRowPadding = image.padding;
    p.inputChannels = 4;
    p.inputColor = JPEG_COLOR_RGB;
    p.outputWidth = image.width;
    p.outputHeight = image.height;
    p.outputChannels = 3;
    p.outputColor = JPEG_COLOR_YCBCR;
    p.outputSampling = JPEG_SAMPLING_NONE;
    p.quality = quality;
}

struct Encoded {
    int status = 0;
    Bytes bytes; // the bytes produced (outputBufferSize of them)
};

// Encodes into memory with request 9.
inline Encoded encodeToMemory(const RgbxImage& image, const char* processorClass, int quality = 95,
                              std::size_t capacity = 0) {
    Record p = newRecord(processorClass);
    describe(*p, image, quality);
    if (capacity == 0) {
        capacity = 1024 + static_cast<std::size_t>(image.width) * image.height * 8;
    }
    Bytes buffer(capacity);
    p->outputBuffer = buffer.data();
    p->outputBufferSize = static_cast<std::int32_t>(capacity);
    Encoded result;
    result.status = jpegWrite(p.get(), JPEG_WRITE_BUFFER_IMAGE);
    buffer.resize(static_cast<std::size_t>(p->outputBufferSize));
    result.bytes = std::move(buffer);
    return result;
}

struct Segment {
    std::uint8_t marker = 0;
    Bytes payload; // after the length field
};

// The marker segments before the entropy-coded data (SOI and EOI have empty payloads), and
// the offset of the first byte after the SOS segment (or of the end).
struct ParsedStream {
    std::vector<Segment> segments;
    std::size_t scanStart = 0;
};

inline ParsedStream parseSegments(const Bytes& jpeg) {
    ParsedStream parsed;
    std::size_t i = 0;
    while (i + 1 < jpeg.size()) {
        if (jpeg[i] != 0xFF) {
            ADD_FAILURE() << "no marker at offset " << i;
            return parsed;
        }
        Segment segment;
        segment.marker = jpeg[i + 1];
        i += 2;
        if (segment.marker == 0xD8 || segment.marker == 0xD9) {
            parsed.segments.push_back(segment);
            if (segment.marker == 0xD9) {
                break;
            }
            continue;
        }
        if (i + 2 > jpeg.size()) {
            ADD_FAILURE() << "truncated segment";
            return parsed;
        }
        const std::size_t length = (jpeg[i] << 8) | jpeg[i + 1];
        segment.payload.assign(jpeg.begin() + static_cast<std::ptrdiff_t>(i + 2),
                               jpeg.begin() + static_cast<std::ptrdiff_t>(i + length));
        i += length;
        parsed.segments.push_back(segment);
        if (segment.marker == 0xDA) {
            break;
        }
    }
    parsed.scanStart = i;
    return parsed;
}

inline std::vector<std::uint8_t> markerList(const ParsedStream& parsed) {
    std::vector<std::uint8_t> markers;
    for (const Segment& s : parsed.segments) {
        markers.push_back(s.marker);
    }
    return markers;
}

// Entropy-coded bytes between the SOS segment and the final EOI.
inline Bytes scanData(const Bytes& jpeg) {
    const ParsedStream parsed = parseSegments(jpeg);
    if (jpeg.size() < parsed.scanStart + 2) {
        return {};
    }
    return Bytes(jpeg.begin() + static_cast<std::ptrdiff_t>(parsed.scanStart), jpeg.end() - 2);
}

struct Decoded {
    bool ok = false;
    std::string message;
    int width = 0;
    int height = 0;
    Bytes rgb; // the pixels, in the format asked for
};

// Decodes with TurboJPEG into `pixelFormat` (RGB unless told); ok only without error and
// without warning.
inline Decoded decodeWithTurbo(const Bytes& jpeg, int pixelFormat = TJPF_RGB) {
    Decoded decoded;
    tjhandle handle = tjInitDecompress();
    int subsampling = 0;
    int colorspace = 0;
    if (tjDecompressHeader3(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                            &decoded.width, &decoded.height, &subsampling, &colorspace) != 0) {
        decoded.message = tjGetErrorStr2(handle);
        tjDestroy(handle);
        return decoded;
    }
    decoded.rgb.resize(static_cast<std::size_t>(decoded.width) * decoded.height *
                       static_cast<std::size_t>(tjPixelSize[pixelFormat]));
    const int status = tjDecompress2(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                                     decoded.rgb.data(), decoded.width, 0, decoded.height,
                                     pixelFormat, TJFLAG_ACCURATEDCT);
    decoded.ok = status == 0;
    if (!decoded.ok) {
        decoded.message = tjGetErrorStr2(handle);
    }
    tjDestroy(handle);
    return decoded;
}

// Peak signal-to-noise ratio of the decoded RGB against the source's RGB bytes.
inline double psnr(const RgbxImage& source, const Decoded& decoded) {
    double squaredError = 0;
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            const std::uint8_t* s = source.pixel(x, y);
            const std::uint8_t* d =
                decoded.rgb.data() + (static_cast<std::size_t>(y) * source.width + x) * 3;
            for (int k = 0; k < 3; ++k) {
                const double e = static_cast<double>(s[k]) - d[k];
                squaredError += e * e;
            }
        }
    }
    const double mse = squaredError / (3.0 * source.width * source.height);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

} // namespace enc_test
