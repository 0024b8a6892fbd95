#include "tool/bmpLoader.h"

#include "image/dibLayout.h"
#include "image/iplImage.h"
#include "util/byteOrder.h"
#include "util/lastError.h"
#include "util/platformFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

namespace {

struct AlignedFree {
    void operator()(void* block) const { iplAlignedFree(block); }
};
using AlignedBlock = std::unique_ptr<void, AlignedFree>;

// Records the failure: the last-error code and text, and the reason for people.
class Failure {
public:
    explicit Failure(std::string* reason) : reason_(reason) {}

    bool operator()(int code, const char* text, const std::string& reason) const {
        setLastError(code, text);
        if (reason_ != nullptr) {
            *reason_ = reason;
        }
        return false;
    }

private:
    std::string* reason_;
};

std::string formatted(const char* format, long long a, long long b = 0) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

} // namespace

int checkBmpFileHeader(const unsigned char* fileHeader, std::int64_t headerBytes,
                       std::int64_t fileLength, std::int64_t& blockSize, std::string& reason) {
    if (headerBytes != kFileHeaderSize) {
        reason = formatted("file of %lld bytes is too short for a bitmap", headerBytes);
        return kLastErrorRead;
    }
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') {
        reason = "not a BMP file (it does not start with \"BM\")";
        return kLastErrorSignature;
    }
    const std::int64_t sizeField = loadLeI32(fileHeader + 2);
    blockSize = sizeField - kFileHeaderSize;
    if (blockSize <= 0) {
        // The field as the file holds it: unsigned, so that 0xFFFFFFFF reads as it is.
        const std::int64_t stored = loadLe32(fileHeader + 2);
        reason = sizeField < 0
                     ? formatted("file size field %lld is larger than %lld bytes", stored,
                                 std::int64_t{0x7FFFFFFF})
                     : formatted("file size field %lld is too small for a bitmap", stored);
        return kLastErrorMemory;
    }
    // The size field is not trusted with an allocation: the file must really hold that much.
    if (fileLength < 0 || blockSize > fileLength - kFileHeaderSize) {
        reason = formatted("file ends at byte %lld but its file header says %lld", fileLength,
                           sizeField);
        return kLastErrorRead;
    }
    return 0;
}

const char* lastErrorText(int code) {
    switch (code) {
    case kLastErrorRead:
        return "File read error.";
    case kLastErrorSignature:
        return "Image file is not a DIB, or cannot be read.";
    case kLastErrorMemory:
        return "Memory allocation error.";
    case kLastErrorConversion:
        return "Unable to convert DIB image to IPL image.";
    case kLastErrorPastEnd:
        return "Bitmap data extends past the end of the file.";
    case kLastErrorDimensions:
        return "Bitmap dimensions are not supported.";
    default:
        return "";
    }
}

int checkBitmapBlock(const DibBlock& block, DibLayout& layout, std::string& reason) {
    const DibStatus described = describeDib(block, layout);
    if (described.fault == DibFault::HeaderPastEnd || layout.infoSize > block.size) {
        reason = described.ok() ? "file ends inside the info header" : described.reason;
        return kLastErrorPastEnd;
    }
    if (layout.width < 0) {
        reason = formatted("negative width %lld", layout.width);
        return kLastErrorDimensions;
    }
    if (layout.width > kQimMaxDimension || layout.height > kQimMaxDimension ||
        (layout.width != 0 && layout.height != 0 &&
         !qimImageSizeSupported(Rgba8::kind, layout.width, layout.height))) {
        reason =
            formatted("bitmap of %lld x %lld pixels is too large", layout.width, layout.height);
        return kLastErrorDimensions;
    }
    const DibStatus extent = checkDibExtent(block, layout);
    if (isTruncation(extent.fault)) {
        // An unknown header's own parts say little: its size is the reason.
        reason = described.fault == DibFault::InfoSize ? described.reason : extent.reason;
        return kLastErrorPastEnd;
    }
    return 0;
}

namespace {

void setAlpha(unsigned char* row, int width, bool opaque) {
    // Whole little-endian words, whose top byte is the alpha byte: this loop vectorises.
    for (int x = 0; x < width; ++x) {
        const std::uint32_t word = loadLe32(row + 4 * x);
        storeLe32(row + 4 * x, opaque ? (word | 0xFF000000u) : (word & 0x00FFFFFFu));
    }
}

bool rowHasAlpha(const unsigned char* row, int width) {
    // Pixels are read as little-endian words, whose top byte is the alpha byte (byte 3).
    std::uint32_t any = 0;
    for (int x = 0; x < width; ++x) {
        any |= loadLe32(row + 4 * x);
    }
    return (any & 0xFF000000u) != 0;
}

// Bitmaps without alpha information leave every alpha byte 0: those become opaque. A bitmap
// with any non-zero alpha byte keeps its alpha as stored. Each row is made opaque right after
// it was checked, while it is still in the cache; the first row with alpha puts the rows
// before it back to 0, which is what they held.
bool makeOpaqueWithoutAlpha(QimImgT<Rgba8>& image) {
    auto* pixels = reinterpret_cast<unsigned char*>(image.unshare());
    if (pixels == nullptr) {
        return false;
    }
    const int width = image.width();
    const int height = image.height();
    const std::int64_t step = image.widthStep();
    for (int y = 0; y < height; ++y) {
        unsigned char* row = pixels + y * step;
        if (rowHasAlpha(row, width)) {
            for (int done = 0; done < y; ++done) {
                setAlpha(pixels + done * step, width, false);
            }
            return true;
        }
        setAlpha(row, width, true);
    }
    return true;
}

} // namespace

bool loadBmpFile(const char* fileName, QimImgT<Rgba8>& image, std::string* reason) {
    const Failure fail(reason);
    std::ifstream in(platform::streamPath(fileName), std::ios::binary);
    if (!in) {
        return fail(kLastErrorOpen, fileName,
                    std::string("cannot open the file (") + std::strerror(errno) + ")");
    }
    unsigned char fileHeader[kFileHeaderSize];
    in.read(reinterpret_cast<char*>(fileHeader), kFileHeaderSize);
    const std::int64_t headerBytes = in.gcount();
    std::int64_t fileLength = -1;
    if (headerBytes == kFileHeaderSize && fileHeader[0] == 'B' && fileHeader[1] == 'M') {
        in.seekg(0, std::ios::end);
        fileLength = in ? static_cast<std::int64_t>(in.tellg()) : -1;
    }
    std::int64_t size = 0;
    std::string problem;
    if (const int code = checkBmpFileHeader(fileHeader, headerBytes, fileLength, size, problem);
        code != 0) {
        return fail(code, lastErrorText(code), problem);
    }
    AlignedBlock block(iplAlignedAlloc(size));
    if (!block) {
        return fail(kLastErrorMemory, "Memory allocation error.",
                    formatted("not enough memory for %lld bytes", size));
    }
    in.seekg(kFileHeaderSize, std::ios::beg);
    in.read(static_cast<char*>(block.get()), size);
    if (!in || in.gcount() != size) {
        return fail(kLastErrorRead, "File read error.", "the file could not be read");
    }

    DibBlock dib;
    dib.data = static_cast<const std::uint8_t*>(block.get());
    dib.size = size;
    dib.pixelOffset = std::int64_t{loadLeI32(fileHeader + 10)} - kFileHeaderSize;
    dib.fileOffset = kFileHeaderSize;
    dib.endsAtSizeField = size < fileLength - kFileHeaderSize;
    DibLayout layout;
    if (const int code = checkBitmapBlock(dib, layout, problem); code != 0) {
        return fail(code, lastErrorText(code), problem);
    }
    if (layout.width == 0 || layout.height == 0) {
        image.create(static_cast<int>(layout.width), static_cast<int>(layout.height), false, false,
                     0.0);
        return true;
    }
    if (!image.fromDib(dib)) {
        const char* why = iplGetStatusReason();
        return fail(kLastErrorConversion, "Unable to convert DIB image to IPL image.",
                    *why != '\0' ? why : "the bitmap could not be converted");
    }
    if (image.nChannels() == 4 && !makeOpaqueWithoutAlpha(image)) {
        return fail(kLastErrorMemory, "Memory allocation error.",
                    "not enough memory for the image");
    }
    return true;
}
