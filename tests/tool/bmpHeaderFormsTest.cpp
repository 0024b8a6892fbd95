// Bitmap header forms: the same picture stored with each accepted info header loads exactly as
// its 40-byte form does (and gives the same JPEG bytes at both processor classes); the pixel-
// data offset; and the refusals with their standard-error reasons, through the real binary.
#include "tool/bmpLoader.h"

#include "support/printAsName.h"

#include "support/dibBuilder.h"
#include "support/runProcess.h"
#include "support/testFiles.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

namespace {

using dib_builder::Bytes;
using dib_builder::putU16;
using dib_builder::putU32;
using testing_support::readFile;
using testing_support::runQmjpeg;
using testing_support::ScratchDir;
using testing_support::writeFile;

void setU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// One picture as stored: format, palette entries (blue, green, red, reserved from the low byte
// up), colour masks, and the pixel rows or run-length data.
struct Picture {
    std::string name;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = BI_RGB;
    std::vector<std::uint32_t> palette;
    std::vector<std::uint32_t> masks; // red, green, blue (bit-field pictures)
    Bytes pixels;
};

// Rows of `width` pixels of `bits` each, from a simple pattern, padded to 4 bytes.
Bytes patternRows(int width, int rows, int bits) {
    const int rowBytes = (width * bits + 31) / 32 * 4;
    Bytes out;
    for (int y = 0; y < rows; ++y) {
        for (int i = 0; i < rowBytes; ++i) {
            out.push_back(
                static_cast<std::uint8_t>(i < (width * bits + 7) / 8 ? 37 * y + 11 * i + 5 : 0));
        }
    }
    return out;
}

std::vector<std::uint32_t> greyPalette(int entries) {
    std::vector<std::uint32_t> palette;
    for (int i = 0; i < entries; ++i) {
        const auto v = static_cast<std::uint32_t>(i * 255 / (entries - 1));
        palette.push_back(v | (((v * 7) & 0xFF) << 8) | ((255 - v) << 16));
    }
    return palette;
}

Picture palettePicture(int bits, int width) {
    Picture p;
    p.name = "palette" + std::to_string(bits);
    p.width = width;
    p.height = 3;
    p.bitCount = static_cast<std::uint16_t>(bits);
    p.palette = greyPalette(1 << bits);
    p.pixels = patternRows(width, 3, bits);
    return p;
}

Picture directPicture(const std::string& name, int bits, std::uint32_t compression,
                      std::vector<std::uint32_t> masks, int height = 3) {
    Picture p;
    p.name = name;
    p.width = 5;
    p.height = height;
    p.bitCount = static_cast<std::uint16_t>(bits);
    p.compression = compression;
    p.masks = std::move(masks);
    p.pixels = patternRows(5, height < 0 ? -height : height, bits);
    return p;
}

Picture runLengthPicture(bool fourBit) {
    Picture p;
    p.name = fourBit ? "rle4" : "rle8";
    p.width = 5;
    p.height = 2;
    p.bitCount = fourBit ? 4 : 8;
    p.compression = fourBit ? BI_RLE4 : BI_RLE8;
    p.palette = greyPalette(fourBit ? 16 : 256);
    // A run into the row's padding, an early end of line, a literal block, end of bitmap.
    p.pixels = fourBit
                   ? Bytes{0x07, 0x12, 0x00, 0x00, 0x00, 0x03, 0x34, 0x50, 0x00, 0x01}
                   : Bytes{0x07, 0x21, 0x00, 0x00, 0x00, 0x03, 0x04, 0x05, 0x06, 0x00, 0x00, 0x01};
    return p;
}

std::vector<Picture> pictures() {
    return {
        palettePicture(1, 9),
        palettePicture(4, 5),
        palettePicture(8, 7),
        directPicture("rgb16", 16, BI_RGB, {}),
        directPicture("fields565", 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}),
        directPicture("rgb24", 24, BI_RGB, {}),
        directPicture("rgb24TopDown", 24, BI_RGB, {}, -3),
        directPicture("rgb32", 32, BI_RGB, {}),
        directPicture("fields32", 32, BI_BITFIELDS, {0x3FF00000, 0x000FFC00, 0x000003FF}),
        runLengthPicture(false),
        runLengthPicture(true),
    };
}

// The header forms. `alphaBitFields`: the 40-byte header with compression 6 (four masks).
struct Form {
    std::string name;
    std::uint32_t infoSize;
    bool alphaBitFields = false;
};

bool accepts(const Form& form, const Picture& picture) {
    const bool fields = !picture.masks.empty();
    switch (form.infoSize) {
    case 12:
        return picture.compression == BI_RGB && picture.bitCount != 16 && picture.bitCount != 32 &&
               picture.height > 0;
    case 64:
        return !fields;
    case 40:
        return fields; // compression 6
    default:
        return true;
    }
}

// The picture stored as a BMP file with the given info header form.
Bytes store(const Picture& picture, const Form& form) {
    const bool fields = !picture.masks.empty();
    Bytes dib;
    if (form.infoSize == 12) {
        putU32(dib, 12);
        putU16(dib, static_cast<std::uint16_t>(picture.width));
        putU16(dib, static_cast<std::uint16_t>(picture.height));
        putU16(dib, 1);
        putU16(dib, picture.bitCount);
        for (std::uint32_t entry : picture.palette) {
            dib.push_back(static_cast<std::uint8_t>(entry));
            dib.push_back(static_cast<std::uint8_t>(entry >> 8));
            dib.push_back(static_cast<std::uint8_t>(entry >> 16));
        }
    } else {
        putU32(dib, form.infoSize);
        putU32(dib, static_cast<std::uint32_t>(picture.width));
        putU32(dib, static_cast<std::uint32_t>(picture.height));
        putU16(dib, 1);
        putU16(dib, picture.bitCount);
        putU32(dib, fields && form.alphaBitFields ? BI_ALPHABITFIELDS : picture.compression);
        putU32(dib, static_cast<std::uint32_t>(picture.pixels.size()));
        putU32(dib, 2835);
        putU32(dib, 2835);
        putU32(dib, 0); // colours used: the default table
        putU32(dib, 0);
        const bool masksInHeader = form.infoSize > 40 && form.infoSize != 64;
        if (masksInHeader) {
            for (std::size_t i = 0; i < 3; ++i) {
                putU32(dib, fields ? picture.masks[i] : 0xFFFFFFFFu); // unused without fields
            }
            putU32(dib, 0xC0000000u); // an alpha mask, not used
        }
        // Colour space, end points, gamma, intent, profile: ignored, so filled with noise.
        while (dib.size() < form.infoSize) {
            dib.push_back(static_cast<std::uint8_t>(dib.size() * 29 + 3));
        }
        dib.resize(form.infoSize);
        if (fields && !masksInHeader) {
            for (std::uint32_t mask : picture.masks) {
                putU32(dib, mask);
            }
            if (form.alphaBitFields) {
                putU32(dib, 0xC0000000u); // the fourth mask, not used
            }
        }
        for (std::uint32_t entry : picture.palette) {
            putU32(dib, entry);
        }
    }
    const auto pixelOffset = static_cast<std::uint32_t>(14 + dib.size());
    dib.insert(dib.end(), picture.pixels.begin(), picture.pixels.end());
    return dib_builder::buildBmpFile(dib, {}, pixelOffset);
}

struct FormCase {
    Picture picture;
    Form form;
};
inline void PrintTo(const FormCase& row, std::ostream* out) {
    *out << row.picture.name << "_" << row.form.name;
}

std::vector<FormCase> formCases() {
    const std::vector<Form> forms = {{"os2v1", 12},      {"os2v2", 64}, {"info52", 52},
                                     {"info56", 56},     {"v4", 108},   {"v5", 124},
                                     {"alpha", 40, true}};
    std::vector<FormCase> cases;
    for (const Picture& picture : pictures()) {
        for (const Form& form : forms) {
            if (accepts(form, picture)) {
                cases.push_back({picture, form});
            }
        }
    }
    return cases;
}

Bytes imageBytes(const QimImgT<Rgba8>& image) {
    Bytes bytes;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint8_t*>(image.imageData()) +
                          std::int64_t{y} * image.widthStep();
        bytes.insert(bytes.end(), row, row + 4 * image.width());
    }
    return bytes;
}

class HeaderFormTest : public ::testing::TestWithParam<FormCase> {
protected:
    // Loads the file; its image as bytes, row by row (empty when the load failed).
    Bytes loaded(const std::string& name, const Bytes& file) {
        const std::string path = dir.file(name);
        writeFile(path, file);
        clearLastError();
        QimImgT<Rgba8> image;
        image.create(0, 0, false, false, 0.0);
        if (const Outcome loadedBmp = loadBmp(path.c_str(), image); !loadedBmp) {
            ADD_FAILURE() << name << ": " << loadedBmp.reason();
            return {};
        }
        return imageBytes(image);
    }

    ScratchDir dir;
};

TEST_P(HeaderFormTest, LoadsAsItsFortyByteForm) {
    const FormCase& c = GetParam();
    const Bytes reference = loaded("40.bmp", store(c.picture, Form{"info40", 40}));
    const Bytes other = loaded("form.bmp", store(c.picture, c.form));
    ASSERT_FALSE(reference.empty());
    EXPECT_EQ(other, reference);
}

INSTANTIATE_TEST_SUITE_P(Forms, HeaderFormTest, ::testing::ValuesIn(formCases()),
                         [](const ::testing::TestParamInfo<FormCase>& info) {
                             return info.param.picture.name + "_" + info.param.form.name;
                         });

// ---- through the binary at both processor classes -----------------------------------------------

class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            previous_ = old;
            hadValue_ = true;
        }
        ::setenv(name, value, 1);
    }
    ~ScopedEnvironment() {
        if (hadValue_) {
            ::setenv(name_, previous_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    std::string previous_;
    bool hadValue_ = false;
};

TEST(HeaderFormJpeg, SameBytesAsTheFortyByteFormAtEachProcessorClass) {
    ScratchDir dir;
    // A final image of the same size, so that the ratio image depends on the source.
    const auto finalFor = [&](const Picture& picture) {
        const std::string path = dir.file(picture.name + "-final.bmp");
        writeFile(path, dib_builder::buildBmpFile(dib_builder::solid24(
                            picture.width, picture.height < 0 ? -picture.height : picture.height,
                            0x80C040)));
        return path;
    };
    const std::vector<FormCase> chosen = {
        {palettePicture(8, 7), {"os2v1", 12}},
        {palettePicture(4, 5), {"os2v2", 64}},
        {directPicture("fields565", 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}), {"v5", 124}},
        {directPicture("fields32", 32, BI_BITFIELDS, {0x3FF00000, 0x000FFC00, 0x000003FF}),
         {"alpha", 40, true}},
        {runLengthPicture(false), {"v4", 108}},
    };
    for (const char* processorClass : {"0", "6"}) {
        const ScopedEnvironment environment("QMJPEG_USECPU", processorClass);
        for (const FormCase& c : chosen) {
            const std::string finalPath = finalFor(c.picture);
            const std::string formPath = dir.file(c.picture.name + "-" + c.form.name + ".bmp");
            const std::string fortyPath = dir.file(c.picture.name + "-40.bmp");
            writeFile(formPath, store(c.picture, c.form));
            writeFile(fortyPath, store(c.picture, Form{"info40", 40}));
            const auto form = runQmjpeg({"-i", formPath, finalPath, dir.file("form.jpg")});
            const auto forty = runQmjpeg({"-i", fortyPath, finalPath, dir.file("forty.jpg")});
            ASSERT_EQ(form.exitStatus, 0) << formPath << ": " << form.output << form.errors;
            ASSERT_EQ(forty.exitStatus, 0) << fortyPath << ": " << forty.output << forty.errors;
            EXPECT_EQ(form.errors, "");
            EXPECT_EQ(readFile(dir.file("form.jpg")), readFile(dir.file("forty.jpg")))
                << c.picture.name << " " << c.form.name << " at class " << processorClass;
        }
    }
}

// ---- pixel-data offset -------------------------------------------------------------------------

// A 24-bit picture whose rows start `gap` bytes after the header, the file header's offset
// field being `offsetField` (0: pointing at the rows).
Bytes withGap(const Picture& picture, std::size_t gap, std::uint32_t offsetField = 0) {
    dib_builder::DibFields fields;
    fields.width = picture.width;
    fields.height = picture.height;
    fields.bitCount = picture.bitCount;
    fields.compression = picture.compression;
    fields.table = picture.palette;
    fields.pixels.assign(gap, 0xEE);
    fields.pixels.insert(fields.pixels.end(), picture.pixels.begin(), picture.pixels.end());
    const auto rowsAt = static_cast<std::uint32_t>(14 + 40 + 4 * picture.palette.size() + gap);
    return dib_builder::buildBmpFile(fields.build(), {}, offsetField != 0 ? offsetField : rowsAt);
}

class PixelOffsetTest : public HeaderFormTest {};

TEST_F(PixelOffsetTest, RowsAfterAGapAreFoundThroughTheOffset) {
    for (const Picture& picture :
         {directPicture("rgb24", 24, BI_RGB, {}), palettePicture(8, 7), runLengthPicture(false)}) {
        const Bytes reference = loaded("plain.bmp", store(picture, Form{"info40", 40}));
        EXPECT_EQ(loaded("gap.bmp", withGap(picture, 12)), reference) << picture.name;
    }
}

TEST_F(PixelOffsetTest, UnusableOffsetsFallBackToTheRowsAfterTheTable) {
    const Picture picture = directPicture("rgb24", 24, BI_RGB, {});
    const Bytes reference = loaded("plain.bmp", store(picture, Form{"info40", 40}));
    const Bytes file = store(picture, Form{"info40", 40});
    const auto size = static_cast<std::uint32_t>(file.size());
    for (const std::uint32_t offset : {1u, 14u + 20u, size - 4u, size + 100u, 0xFFFFFFF0u}) {
        Bytes bogus = file;
        setU32(bogus, 10, offset);
        EXPECT_EQ(loaded("bogus.bmp", bogus), reference) << "offset " << offset;
    }
}

// ---- refusals and their reasons through the binary ---------------------------------------------

struct RefusalCase {
    std::string name;
    Bytes file;
    std::string output; // standard output, unchanged by the reason line
    std::string reason;
};
PRINT_CASE_AS_NAME(RefusalCase)

Bytes withInfo(Picture picture, std::uint32_t infoSize, std::uint32_t compression) {
    picture.compression = compression;
    return store(picture, Form{"form", infoSize});
}

std::vector<RefusalCase> refusalCases() {
    const Picture rgb24 = directPicture("rgb24", 24, BI_RGB, {});
    const Bytes plain = store(rgb24, Form{"info40", 40});
    Bytes header16 = plain;
    header16[14] = 16;
    Bytes notBmp = plain;
    notBmp[0] = 'P';
    Bytes shortRows = plain;
    shortRows.pop_back(); // the last row's last padding byte, the size field saying so
    setU32(shortRows, 2, static_cast<std::uint32_t>(shortRows.size()));
    Bytes planes = plain;
    planes[14 + 12] = 2;
    Bytes bitCount2 = plain;
    bitCount2[14 + 14] = 2;
    dib_builder::DibFields bigPalette;
    bigPalette.width = 7;
    bigPalette.height = 3;
    bigPalette.bitCount = 8;
    bigPalette.clrUsed = 300;
    bigPalette.table = greyPalette(300);
    bigPalette.pixels = patternRows(7, 3, 8);
    Picture runPastRow = runLengthPicture(false);
    runPastRow.pixels = {0x09, 0x01, 0x00, 0x01}; // 9 pixels into a padded row of 8
    Picture zeroGreen = directPicture("fields565", 16, BI_BITFIELDS, {0xF800, 0, 0x001F});
    Picture core16 = directPicture("rgb16", 16, BI_RGB, {});
    const std::string loaderRefusal = "Unable to load src image\n";
    return {
        {"infoSize16", header16, "", "unsupported info header size 16"},
        {"jpeg", withInfo(rgb24, 124, BI_JPEG), "", "JPEG-compressed bitmaps are not supported"},
        {"png", withInfo(rgb24, 124, BI_PNG), "", "PNG-compressed bitmaps are not supported"},
        {"os2Huffman", withInfo(rgb24, 64, 3), "",
         "OS/2 Huffman-compressed bitmaps are not supported"},
        {"os2Rle24", withInfo(rgb24, 64, 4), "", "OS/2 RLE24-compressed bitmaps are not supported"},
        {"alphaFields24", withInfo(rgb24, 40, BI_ALPHABITFIELDS), "",
         "alpha bit fields with 24 bits per pixel are not supported"},
        {"core16", store(core16, Form{"os2v1", 12}), "", "OS/2 1.x bitmaps with 16 bits per pixel"},
        {"bitCount2", bitCount2, "", "unsupported bit count 2"},
        {"planes2", planes, "", "2 colour planes (only 1 is supported)"},
        {"palette300", dib_builder::buildBmpFile(bigPalette), "",
         "palette of 300 entries is larger than 256"},
        {"zeroMask", store(zeroGreen, Form{"v5", 124}), "", "the green bit-field mask is 0"},
        {"runPastRow", store(runPastRow, Form{"info40", 40}), "",
         "run-length data runs past the end of row 0"},
        {"lastRowPadding", shortRows, loaderRefusal,
         "file ends at byte " + std::to_string(plain.size() - 1) + " but its pixel rows need " +
             std::to_string(plain.size())},
        {"notBmp", notBmp, loaderRefusal, "not a BMP file (it does not start with \"BM\")"},
    };
}

class RefusalReasonTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalReasonTest, OneStandardErrorLineSaysWhy) {
    const RefusalCase& c = GetParam();
    ScratchDir dir;
    const std::string path = dir.file(c.name + ".bmp");
    writeFile(path, c.file);
    const auto result = runQmjpeg({"-i", path, path, dir.file("out.jpg")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, c.output);
    EXPECT_EQ(result.errors, "qmjpeg: " + path + ": " + c.reason + "\n");
}

INSTANTIATE_TEST_SUITE_P(Refusals, RefusalReasonTest, ::testing::ValuesIn(refusalCases()),
                         [](const ::testing::TestParamInfo<RefusalCase>& info) {
                             return info.param.name;
                         });

} // namespace
