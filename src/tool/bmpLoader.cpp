#include "tool/bmpLoader.h"

#include "image/dibLayout.h"
#include "image/imageRefusal.h"
#include "image/iplImage.h"
#include "image/ownrle.h"
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

std::string formatted(const char* format, long long a, long long b = 0) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

} // namespace

Outcome cannotOpenBitmap() {
    return Outcome::failure(kLastErrorOpen,
                            std::string("cannot open the file (") + std::strerror(errno) + ")");
}

Outcome checkBmpFileHeader(const unsigned char* fileHeader, std::int64_t headerBytes,
                           std::int64_t& blockSize) {
    if (headerBytes != kFileHeaderSize) {
        return Outcome::failure(
            kLastErrorRead, formatted("file of %lld bytes is too short for a bitmap", headerBytes));
    }
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') {
        return Outcome::failure(kLastErrorSignature,
                                "not a BMP file (it does not start with \"BM\")");
    }
    const std::int64_t sizeField = loadLeI32(fileHeader + 2);
    blockSize = sizeField - kFileHeaderSize;
    if (blockSize <= 0) {
        // The field as the file holds it: unsigned, so that 0xFFFFFFFF reads as it is.
        const std::int64_t stored = loadLe32(fileHeader + 2);
        return Outcome::failure(
            kLastErrorMemory,
            sizeField < 0 ? formatted("file size field %lld is larger than %lld bytes", stored,
                                      std::int64_t{0x7FFFFFFF})
                          : formatted("file size field %lld is too small for a bitmap", stored));
    }
    return {};
}

Outcome checkBmpFileLength(std::int64_t blockSize, std::int64_t fileLength) {
    // The size field is not trusted with an allocation: the file must really hold that much.
    if (fileLength < 0 || blockSize > fileLength - kFileHeaderSize) {
        return Outcome::failure(kLastErrorRead,
                                formatted("file ends at byte %lld but its file header says %lld",
                                          fileLength, blockSize + kFileHeaderSize));
    }
    return {};
}

Outcome checkBitmapBlock(const DibBlock& block, DibLayout& layout) {
    const DibStatus described = describeDib(block, layout);
    if (described.fault == DibFault::HeaderPastEnd || layout.infoSize > block.size) {
        return Outcome::failure(kLastErrorPastEnd, described.ok()
                                                       ? "file ends inside the info header"
                                                       : described.reason);
    }
    if (layout.width < 0) {
        return Outcome::failure(kLastErrorDimensions,
                                formatted("negative width %lld", layout.width));
    }
    if (layout.width > kQimMaxDimension || layout.height > kQimMaxDimension ||
        (layout.width != 0 && layout.height != 0 &&
         !qimImageSizeSupported(Rgba8::kind, layout.width, layout.height))) {
        return Outcome::failure(
            kLastErrorDimensions,
            formatted("bitmap of %lld x %lld pixels is too large", layout.width, layout.height));
    }
    const DibStatus extent = checkDibExtent(block, layout);
    if (isTruncation(extent.fault)) {
        // An unknown header's own parts say little: its size is the reason.
        return Outcome::failure(kLastErrorPastEnd, described.fault == DibFault::InfoSize
                                                       ? described.reason
                                                       : extent.reason);
    }
    if (layout.width == 0 || layout.height == 0) {
        return {}; // nothing to convert
    }
    // The conversion's refusals: the header's form (an unknown bit count last), then the parts.
    const DibStatus& form = described.ok() ? extent : described;
    ImageRefusal refusal = dibRefusal(form);
    if (!refusal.refused() && layout.runLength) {
        refusal = rleDataRefusal(block, layout);
    }
    if (refusal.refused()) {
        return Outcome::failure(kLastErrorConversion, refusal.text());
    }
    return {};
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

Outcome loadBmp(const char* fileName, QimImgT<Rgba8>& image) {
    std::ifstream in(platform::streamPath(fileName), std::ios::binary);
    if (!in) {
        return cannotOpenBitmap();
    }
    unsigned char fileHeader[kFileHeaderSize];
    in.read(reinterpret_cast<char*>(fileHeader), kFileHeaderSize);
    std::int64_t size = 0;
    if (Outcome header = checkBmpFileHeader(fileHeader, in.gcount(), size); !header) {
        return header;
    }
    in.seekg(0, std::ios::end);
    const std::int64_t fileLength = in ? static_cast<std::int64_t>(in.tellg()) : -1;
    if (Outcome length = checkBmpFileLength(size, fileLength); !length) {
        return length;
    }
    AlignedBlock block(iplAlignedAlloc(size));
    if (!block) {
        return Outcome::failure(kLastErrorMemory,
                                formatted("not enough memory for %lld bytes", size));
    }
    in.seekg(kFileHeaderSize, std::ios::beg);
    in.read(static_cast<char*>(block.get()), size);
    if (!in || in.gcount() != size) {
        return Outcome::failure(kLastErrorRead, "the file could not be read");
    }

    DibBlock dib;
    dib.data = static_cast<const std::uint8_t*>(block.get());
    dib.size = size;
    dib.pixelOffset = std::int64_t{loadLeI32(fileHeader + 10)} - kFileHeaderSize;
    dib.fileOffset = kFileHeaderSize;
    dib.endsAtSizeField = size < fileLength - kFileHeaderSize;
    DibLayout layout;
    // The conversion makes and reports its own refusals.
    if (Outcome checked = checkBitmapBlock(dib, layout);
        !checked && checked.code() != kLastErrorConversion) {
        return checked;
    }
    if (layout.width == 0 || layout.height == 0) {
        image.create(static_cast<int>(layout.width), static_cast<int>(layout.height), false, false,
                     0.0);
        return {};
    }
    if (!image.fromDib(dib)) {
        const char* why = iplGetStatusReason();
        return Outcome::failure(kLastErrorConversion,
                                *why != '\0' ? why : "the bitmap could not be converted");
    }
    if (image.nChannels() == 4 && !makeOpaqueWithoutAlpha(image)) {
        return Outcome::failure(kLastErrorMemory, "not enough memory for the image");
    }
    return {};
}

bool loadBmpFile(const char* fileName, QimImgT<Rgba8>& image) {
    const Outcome loaded = loadBmp(fileName, image);
    if (!loaded) {
        setLastError(loaded.code(),
                     loaded.code() == kLastErrorOpen ? fileName : lastErrorText(loaded.code()));
    }
    return static_cast<bool>(loaded);
}
