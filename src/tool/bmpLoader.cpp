#include "tool/bmpLoader.h"

#include "image/dibLayout.h"
#include "image/iplImage.h"
#include "util/byteOrder.h"
#include "util/lastError.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>

namespace {

constexpr std::int64_t kFileHeaderSize = 14;

struct AlignedFree {
    void operator()(void* block) const { iplAlignedFree(block); }
};
using AlignedBlock = std::unique_ptr<void, AlignedFree>;

bool fail(int code, const char* text) {
    setLastError(code, text);
    return false;
}

// Checks that the bitmap block holds everything its header promises and that its size can be
// held by an image; faults of the bitmap's format are left to the conversion, which refuses
// them. Returns 0 or the last-error code to report.
int checkBitmapBlock(const DibBlock& block, DibLayout& layout) {
    const DibStatus described = describeDib(block, layout);
    if (described.fault == DibFault::HeaderPastEnd || layout.infoSize > block.size) {
        return kLastErrorPastEnd;
    }
    if (layout.width < 0 || layout.width > kQimMaxDimension || layout.height > kQimMaxDimension) {
        return kLastErrorDimensions;
    }
    if (layout.width != 0 && layout.height != 0 &&
        !qimImageSizeSupported(Rgba8::kind, layout.width, layout.height)) {
        return kLastErrorDimensions;
    }
    if (described.fault == DibFault::InfoSize) {
        return 0;
    }
    if (isTruncation(checkDibExtent(block, layout).fault)) {
        return kLastErrorPastEnd;
    }
    return 0;
}

void setAlpha(unsigned char* row, int width, bool opaque) {
    for (int x = 0; x < width; ++x) {
        row[4 * x + 3] = opaque ? 0xFF : 0x00;
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

bool loadBmpFile(const char* fileName, QimImgT<Rgba8>& image) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        return fail(kLastErrorOpen, fileName);
    }
    unsigned char fileHeader[kFileHeaderSize];
    in.read(reinterpret_cast<char*>(fileHeader), kFileHeaderSize);
    if (in.gcount() != kFileHeaderSize) {
        return fail(kLastErrorRead, "File read error.");
    }
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') {
        return fail(kLastErrorSignature, "Image file is not a DIB, or cannot be read.");
    }
    const std::int64_t size = std::int64_t{loadLeI32(fileHeader + 2)} - kFileHeaderSize;
    if (size <= 0) {
        return fail(kLastErrorMemory, "Memory allocation error.");
    }
    // The size field is not trusted with an allocation: the file must really hold that much.
    in.seekg(0, std::ios::end);
    const std::int64_t fileLength = static_cast<std::int64_t>(in.tellg());
    if (!in || fileLength < 0 || size > fileLength - kFileHeaderSize) {
        return fail(kLastErrorRead, "File read error.");
    }
    AlignedBlock block(iplAlignedAlloc(size));
    if (!block) {
        return fail(kLastErrorMemory, "Memory allocation error.");
    }
    in.seekg(kFileHeaderSize, std::ios::beg);
    in.read(static_cast<char*>(block.get()), size);
    if (!in || in.gcount() != size) {
        return fail(kLastErrorRead, "File read error.");
    }

    DibBlock dib;
    dib.data = static_cast<const std::uint8_t*>(block.get());
    dib.size = size;
    dib.fileOffset = kFileHeaderSize;
    DibLayout layout;
    switch (checkBitmapBlock(dib, layout)) {
    case 0:
        break;
    case kLastErrorDimensions:
        return fail(kLastErrorDimensions, "Bitmap dimensions are not supported.");
    default:
        return fail(kLastErrorPastEnd, "Bitmap data extends past the end of the file.");
    }
    if (layout.width == 0 || layout.height == 0) {
        image.create(static_cast<int>(layout.width), static_cast<int>(layout.height), false, false,
                     0.0);
        return true;
    }
    if (!image.fromDib(dib)) {
        return fail(kLastErrorConversion, "Unable to convert DIB image to IPL image.");
    }
    if (image.nChannels() == 4 && !makeOpaqueWithoutAlpha(image)) {
        return fail(kLastErrorMemory, "Memory allocation error.");
    }
    return true;
}
