// The encoder's public interface: initial values, validation order, status texts, version.
#include "encoderTestSupport.h"
#include "jpeg/jpegValidation.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace enc_test;

namespace {

TEST(JpegInitialize, SetsEveryPublicFieldAndTheStateDefaults) {
    auto* raw = new JPEG_PROPERTIES;
    std::memset(static_cast<void*>(raw), 0x5A, sizeof(*raw));
    ASSERT_EQ(jpegInitialize(raw), 0);
    Record p(raw);
    EXPECT_EQ(p->useStateAsIs, 0);
    EXPECT_EQ(p->inputPixels, nullptr);
    EXPECT_EQ(p->inputWidth, 0);
    EXPECT_EQ(p->inputHeight, 0);
    EXPECT_EQ(p->inputRowPadding, 0);
    EXPECT_EQ(p->inputChannels, 3);
    EXPECT_EQ(p->inputColor, JPEG_COLOR_BGR);
    EXPECT_EQ(p->inputSampling, 0);
    EXPECT_EQ(p->outputFileName, nullptr);
    EXPECT_EQ(p->outputBuffer, nullptr);
    EXPECT_EQ(p->outputBufferSize, 0);
    EXPECT_EQ(p->outputWidth, 0);
    EXPECT_EQ(p->outputHeight, 0);
    EXPECT_EQ(p->outputChannels, 3);
    EXPECT_EQ(p->outputColor, JPEG_COLOR_YCBCR);
    EXPECT_EQ(p->outputSampling, JPEG_SAMPLING_H2V2);
    EXPECT_EQ(p->thumbnailWidth, 0);
    EXPECT_EQ(p->thumbnailHeight, 0);
    EXPECT_EQ(p->convertColor, 1);
    EXPECT_EQ(p->upsample, 1);
    EXPECT_EQ(p->quality, 75);

    const JpegEncoderState& s = p->state;
    EXPECT_EQ(s.requestCode, -1);
    EXPECT_EQ(s.dctMethod, 1);
    EXPECT_EQ(s.config.restartInterval, 0);
    EXPECT_EQ(s.quantTableCount, 0);
    EXPECT_EQ(s.huffmanPairCount, 0);
    EXPECT_EQ(s.commentText, nullptr);
    EXPECT_EQ(s.jfifVersion, 0x0101);
    EXPECT_EQ(s.app14Version, 100);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(s.config.components[i].quantTable, i == 0 ? 0 : 1);
        EXPECT_EQ(s.config.dcTableNumbers[i], i == 0 ? 0 : 1);
        EXPECT_EQ(s.config.acTableNumbers[i], i == 0 ? 0 : 1);
    }
    EXPECT_EQ(s.outputFile, kNoJpegFile);
    EXPECT_EQ(s.coder.stream.sink, nullptr);
    EXPECT_NE(s.routines.encodeBlock, nullptr);
}

TEST(JpegRelease, ReturnsZeroAndFreesTheWorkingState) {
    JPEG_PROPERTIES p{};
    ASSERT_EQ(jpegInitialize(&p), 0);
    EXPECT_EQ(jpegRelease(&p), 0);
    EXPECT_EQ(p.state.routines.encodeBlock, nullptr);
    EXPECT_EQ(jpegWrite(&p, JPEG_WRITE_BUFFER_IMAGE), JPEG_ERR_INVALID_ENCODER);
}

TEST(JpegWrite, DecoderRequestCodesAreNotSupported) {
    Record p = newRecord();
    const RgbxImage image = makeImage(8, 8, 0, randomPixels(1));
    describe(*p, image);
    Bytes buffer(4096);
    p->outputBuffer = buffer.data();
    p->outputBufferSize = 4096;
    p->outputFileName = "unused.jpg";
    for (int request : {0, 3, 7, 14, 21}) {
        EXPECT_EQ(jpegWrite(p.get(), request), JPEG_ERR_NOT_SUPPORTED) << request;
    }
}

// A valid image request: 16 x 16 RGBX source into memory.
struct ValidRecord {
    Record p = newRecord();
    RgbxImage image = makeImage(16, 16, 0, randomPixels(2));
    Bytes buffer = Bytes(8192);

    ValidRecord() {
        describe(*p, image);
        p->outputBuffer = buffer.data();
        p->outputBufferSize = static_cast<std::int32_t>(buffer.size());
        p->outputFileName = "x.jpg";
    }
};

struct ValidationCase {
    const char* name;
    int request;
    std::function<void(JPEG_PROPERTIES&)> change;
    int expected;
};

TEST(Validation, ChecksInOrderAndTheFirstFailureDecides) {
    const std::vector<ValidationCase> cases = {
        {"valid", 9, [](JPEG_PROPERTIES&) {}, 0},
        {"request -1", -1, [](JPEG_PROPERTIES&) {}, -8},
        {"request 22", 22, [](JPEG_PROPERTIES&) {}, -8},
        {"state as is skips every check", -1,
         [](JPEG_PROPERTIES& p) {
             p.useStateAsIs = 1;
             p.inputPixels = nullptr;
         },
         0},
        {"no pixels", 9, [](JPEG_PROPERTIES& p) { p.inputPixels = nullptr; }, -8},
        {"width 0", 9, [](JPEG_PROPERTIES& p) { p.inputWidth = 0; }, -8},
        {"width 65536", 9, [](JPEG_PROPERTIES& p) { p.inputWidth = 65536; }, -8},
        {"width 65535", 9, [](JPEG_PROPERTIES& p) { p.inputWidth = 65535; }, 0},
        {"height 0", 9, [](JPEG_PROPERTIES& p) { p.inputHeight = 0; }, -8},
        {"height -65536", 9, [](JPEG_PROPERTIES& p) { p.inputHeight = -65536; }, -8},
        {"height -65535", 9, [](JPEG_PROPERTIES& p) { p.inputHeight = -65535; }, 0},
        {"height 65536", 9, [](JPEG_PROPERTIES& p) { p.inputHeight = 65536; }, -8},
        {"padding -1", 9, [](JPEG_PROPERTIES& p) { p.inputRowPadding = -1; }, -8},
        {"channels 0", 9, [](JPEG_PROPERTIES& p) { p.inputChannels = 0; }, -8},
        {"channels 256", 9, [](JPEG_PROPERTIES& p) { p.inputChannels = 256; }, -8},
        {"input sampling 1", 9, [](JPEG_PROPERTIES& p) { p.inputSampling = 1; }, -3},
        {"input sampling 2 with RGB", 9, [](JPEG_PROPERTIES& p) { p.inputSampling = 2; }, -3},
        {"input sampling 2 with YCbCr", 9,
         [](JPEG_PROPERTIES& p) {
             p.inputSampling = 2;
             p.inputColor = JPEG_COLOR_YCBCR;
             p.inputChannels = 3;
         },
         0},
        {"input sampling 2 with an odd width", 9,
         [](JPEG_PROPERTIES& p) {
             p.inputSampling = 2;
             p.inputColor = JPEG_COLOR_YCBCR;
             p.inputChannels = 3;
             p.inputWidth = 17;
         },
         -3},
        {"pixel fields before input sampling", 9,
         [](JPEG_PROPERTIES& p) {
             p.inputPixels = nullptr;
             p.inputSampling = 1;
         },
         -8},
        {"tables request needs no pixels", 11,
         [](JPEG_PROPERTIES& p) {
             p.inputPixels = nullptr;
             p.inputWidth = 0;
             p.inputSampling = 1;
         },
         0},
        {"file request without name", 8, [](JPEG_PROPERTIES& p) { p.outputFileName = nullptr; },
         -8},
        {"buffer request without buffer", 9, [](JPEG_PROPERTIES& p) { p.outputBuffer = nullptr; },
         -8},
        {"buffer request with size 0", 11, [](JPEG_PROPERTIES& p) { p.outputBufferSize = 0; }, -8},
        {"input sampling before output target", 9,
         [](JPEG_PROPERTIES& p) {
             p.inputSampling = 1;
             p.outputBuffer = nullptr;
         },
         -3},
        {"output channels 0", 9, [](JPEG_PROPERTIES& p) { p.outputChannels = 0; }, -8},
        {"output channels 257", 9, [](JPEG_PROPERTIES& p) { p.outputChannels = 257; }, -8},
        {"output width 0", 9, [](JPEG_PROPERTIES& p) { p.outputWidth = 0; }, -8},
        {"output height 0", 9, [](JPEG_PROPERTIES& p) { p.outputHeight = 0; }, -8},
        {"output height 65536", 9, [](JPEG_PROPERTIES& p) { p.outputHeight = 65536; }, -8},
        {"source narrower than output", 9, [](JPEG_PROPERTIES& p) { p.inputWidth = 15; }, -8},
        {"source lower than output", 9, [](JPEG_PROPERTIES& p) { p.inputHeight = 15; }, -8},
        {"bottom-up source lower than output", 9, [](JPEG_PROPERTIES& p) { p.inputHeight = -15; },
         -8},
        {"more output than input channels", 9,
         [](JPEG_PROPERTIES& p) {
             p.inputColor = JPEG_COLOR_OTHER;
             p.inputChannels = 2;
             p.outputColor = JPEG_COLOR_OTHER;
             p.outputChannels = 3;
         },
         -8},
        {"other colour with 5 components", 9,
         [](JPEG_PROPERTIES& p) {
             p.inputColor = JPEG_COLOR_OTHER;
             p.inputChannels = 5;
             p.outputColor = JPEG_COLOR_OTHER;
             p.outputChannels = 5;
         },
         -8},
        {"3 channels with sampling 3", 9,
         [](JPEG_PROPERTIES& p) { p.outputSampling = JPEG_SAMPLING_H2V2_ALPHA; }, -3},
        {"1 channel with sampling 1", 9,
         [](JPEG_PROPERTIES& p) {
             p.outputChannels = 1;
             p.outputColor = JPEG_COLOR_GRAY;
             p.outputSampling = JPEG_SAMPLING_H2V2;
         },
         -3},
        {"sampling before colour pair", 9,
         [](JPEG_PROPERTIES& p) {
             p.outputChannels = 1;
             p.outputSampling = JPEG_SAMPLING_H2V2;
         },
         -3},
        {"2 channels YCbCr passes sampling, fails colour pair", 9,
         [](JPEG_PROPERTIES& p) { p.outputChannels = 2; }, -8},
        {"RGB 4 channels to RGB", 9, [](JPEG_PROPERTIES& p) { p.outputColor = JPEG_COLOR_RGB; },
         -8},
        {"dct method 2", 9, [](JPEG_PROPERTIES& p) { p.state.dctMethod = 2; }, -8},
        {"dct method 0", 9, [](JPEG_PROPERTIES& p) { p.state.dctMethod = 0; }, 0},
        {"quality 0 is not refused", 9, [](JPEG_PROPERTIES& p) { p.quality = 0; }, 0},
        {"quality 1000 is not refused", 9, [](JPEG_PROPERTIES& p) { p.quality = 1000; }, 0},
    };
    for (const ValidationCase& c : cases) {
        ValidRecord v;
        c.change(*v.p);
        EXPECT_EQ(validateProperties(*v.p, c.request), c.expected) << c.name;
    }
}

struct PairCase {
    int inputColor;
    int inputChannels;
    int outputColor;
    int outputChannels;
    bool accepted;
};

TEST(Validation, AcceptsExactlyTheListedColourPairs) {
    const std::vector<PairCase> cases = {
        {4, 1, 4, 1, true},    {4, 1, 3, 3, true},  {4, 1, 1, 3, false},    {1, 3, 4, 1, true},
        {1, 3, 1, 3, true},    {1, 3, 3, 3, true},  {1, 4, 3, 3, true},     {1, 4, 1, 3, false},
        {1, 4, 4, 1, false},   {2, 3, 4, 1, true},  {2, 3, 1, 3, true},     {2, 3, 3, 3, true},
        {2, 4, 3, 3, false},   {5, 4, 5, 4, true},  {5, 4, 6, 4, true},     {5, 3, 5, 3, false},
        {3, 3, 3, 3, true},    {3, 3, 1, 3, false}, {255, 5, 255, 4, true}, {255, 4, 255, 4, true},
        {255, 3, 3, 3, false}, {6, 4, 6, 4, false}, {2, 3, 2, 3, false},
    };
    for (const PairCase& c : cases) {
        ValidRecord v;
        v.p->inputColor = c.inputColor;
        v.p->inputChannels = c.inputChannels;
        v.p->outputColor = c.outputColor;
        v.p->outputChannels = c.outputChannels;
        EXPECT_EQ(validateProperties(*v.p, JPEG_WRITE_BUFFER_TABLES), c.accepted ? 0 : -8)
            << c.inputColor << "/" << c.inputChannels << " -> " << c.outputColor << "/"
            << c.outputChannels;
    }
}

// A refused write reports the status through jpegWrite and leaves no file behind it open.
TEST(Validation, JpegWriteReturnsTheValidationResult) {
    ValidRecord v;
    v.p->outputHeight = 0;
    EXPECT_EQ(jpegWrite(v.p.get(), JPEG_WRITE_BUFFER_IMAGE), -8);
    v.p->outputHeight = 16;
    v.p->outputSampling = JPEG_SAMPLING_H2V1_ALPHA;
    EXPECT_EQ(jpegWrite(v.p.get(), JPEG_WRITE_BUFFER_IMAGE), -3);
    v.p->outputSampling = JPEG_SAMPLING_NONE;
    EXPECT_EQ(jpegWrite(v.p.get(), JPEG_WRITE_BUFFER_IMAGE), 0);
}

TEST(StatusText, EveryCodeHasItsText) {
    const std::vector<std::pair<int, std::string>> texts = {
        {2, "ROI Success"},
        {1, "Interrupt Success"},
        {0, "Success"},
        {-1, "Exception detected"},
        {-2, "Invalid Encoder"},
        {-3, "Unsupported subsampling"},
        {-4, "Unsupported bytes per pixel"},
        {-5, "Memory error"},
        {-6, "Bad Huffman table"},
        {-7, "Bad Quantization table"},
        {-8, "Invalid JPEG_PROPERTIES"},
        {-9, "Error close file"},
        {-10, "Invalid file name"},
        {-11, "Error EOF"},
        {-12, "Not supported"},
        {-13, "Not JPEG"},
        {-14, "Error COMP"},
        {-15, "Error SOF"},
        {-16, "Error DNL"},
        {-17, "No Huffman table"},
        {-18, "No Quantization table"},
        {-19, "No frame"},
        {-20, "Multiply frame"},
        {-21, "Data error"},
        {-22, "No image"},
        {-23, "File error"},
        {-24, "Internal error"},
        {-25, "Bad RST marker"},
        {-26, "Thumbnail too small"},
        {-27, "Thumbnail has wrong color"},
        {-28, "Output buffer too small"},
        {-29, "Unsupported frame was found"},
        {-30, "Error access to jpeg_comment buffer"},
        {-99, "Reserved"},
        {-31, "Unknown error code"},
        {-50, "Unknown error code"},
        {-98, "Unknown error code"},
        {-100, "Unknown error code"},
        {3, "Unknown error code"},
        {INT_MAX, "Unknown error code"},
        {INT_MIN, "Unknown error code"},
    };
    for (const auto& [code, text] : texts) {
        EXPECT_STREQ(jpegStatusText(code), text.c_str()) << code;
    }
}

TEST(VersionInfo, CarriesTheVersionTexts) {
    const JpegVersion* version = jpegVersionInfo();
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->major, 1);
    EXPECT_EQ(version->minor, 51);
    EXPECT_EQ(version->build, 12);
    EXPECT_STREQ(version->version, "1.51.12");
    EXPECT_STREQ(version->fullVersion, "[1.51.12.44]");
    EXPECT_STREQ(version->buildDate, "May 30 2001");
    EXPECT_EQ(version, jpegVersionInfo());
}

} // namespace
