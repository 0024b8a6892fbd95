#include "tool/bmpLoader.h"

#include "image/bitmapInfoHeader.h"
#include "image/iplImage.h"
#include "util/lastError.h"
#include "util/platformFile.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>

namespace {

static_assert(std::endian::native == std::endian::little, "pixel words are read little-endian");

constexpr std::int64_t kFileHeaderSize = 14;
constexpr std::int64_t kInfoHeaderSize = 40;

struct AlignedFree {
    void operator()(void* block) const { iplAlignedFree(block); }
};
using AlignedBlock = std::unique_ptr<void, AlignedFree>;

std::int32_t readI32(const unsigned char* at) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
        (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24));
}

bool fail(int code, const char* text) {
    setLastError(code, text);
    return false;
}

// Entries of 4 bytes between the info header and the pixel rows: the colour table, and for
// bit-field bitmaps the three colour masks ahead of it.
std::int64_t tableEntries(const BITMAPINFOHEADER& info) {
    const std::int64_t used = info.biClrUsed;
    switch (info.biBitCount) {
    case 1:
    case 4:
    case 8:
        return used != 0 ? used : std::int64_t{1} << info.biBitCount;
    case 16:
    case 32:
        return info.biCompression == BI_BITFIELDS ? used + 3 : used;
    default:
        return used;
    }
}

// Checks that the bitmap block holds everything the conversion will read and that its size
// can be held by an image. Returns 0 or the last-error code to report.
int checkBitmapBlock(const unsigned char* block, std::int64_t blockSize, BITMAPINFOHEADER& info) {
    if (blockSize < kInfoHeaderSize) {
        return kBmpErrorPastEnd;
    }
    std::memcpy(&info, block, sizeof info);
    if (static_cast<std::int64_t>(info.biSize) > blockSize) {
        return kBmpErrorPastEnd;
    }
    const std::int64_t width = info.biWidth;
    const std::int64_t height =
        info.biHeight < 0 ? -static_cast<std::int64_t>(info.biHeight) : info.biHeight;
    if (width < 0 || width > kQimMaxDimension || height > kQimMaxDimension) {
        return kBmpErrorDimensions;
    }
    if (width != 0 && height != 0 && !qimImageSizeSupported(Rgba8::kind, width, height)) {
        return kBmpErrorDimensions;
    }
    const std::int64_t rowsStart = std::int64_t{info.biSize} + 4 * tableEntries(info);
    if (rowsStart > blockSize) {
        return kBmpErrorPastEnd;
    }
    if (info.biCompression == BI_RGB || info.biCompression == BI_BITFIELDS) {
        // Rows are padded to 4 bytes; the last row needs only the bytes its pixels occupy.
        const std::int64_t rowBits = width * info.biBitCount;
        const std::int64_t rowBytes = (rowBits + 31) / 32 * 4;
        const std::int64_t needed = height == 0 ? 0 : (height - 1) * rowBytes + (rowBits + 7) / 8;
        if (needed > blockSize - rowsStart) {
            return kBmpErrorPastEnd;
        }
    }
    return 0;
}

void setAlpha(unsigned char* row, int width, bool opaque) {
    // Pixels are handled as 32-bit words; the alpha byte (byte 3) is their top byte.
    for (int x = 0; x < width; ++x) {
        std::uint32_t word;
        std::memcpy(&word, row + 4 * x, sizeof word);
        word = opaque ? (word | 0xFF000000u) : (word & 0x00FFFFFFu);
        std::memcpy(row + 4 * x, &word, sizeof word);
    }
}

bool rowHasAlpha(const unsigned char* row, int width) {
    std::uint32_t any = 0;
    for (int x = 0; x < width; ++x) {
        std::uint32_t word;
        std::memcpy(&word, row + 4 * x, sizeof word);
        any |= word;
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
    std::ifstream in(platform::streamPath(fileName), std::ios::binary);
    if (!in) {
        return fail(kBmpErrorCannotOpen, fileName);
    }
    unsigned char fileHeader[kFileHeaderSize];
    in.read(reinterpret_cast<char*>(fileHeader), kFileHeaderSize);
    if (in.gcount() != kFileHeaderSize) {
        return fail(kBmpErrorFileRead, "File read error.");
    }
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') {
        return fail(kBmpErrorNotDib, "Image file is not a DIB, or cannot be read.");
    }
    const std::int64_t size = std::int64_t{readI32(fileHeader + 2)} - kFileHeaderSize;
    if (size <= 0) {
        return fail(kBmpErrorMemory, "Memory allocation error.");
    }
    // The size field is not trusted with an allocation: the file must really hold that much.
    in.seekg(0, std::ios::end);
    const std::int64_t fileLength = static_cast<std::int64_t>(in.tellg());
    if (!in || fileLength < 0 || size > fileLength - kFileHeaderSize) {
        return fail(kBmpErrorFileRead, "File read error.");
    }
    AlignedBlock block(iplAlignedAlloc(size));
    if (!block) {
        return fail(kBmpErrorMemory, "Memory allocation error.");
    }
    in.seekg(kFileHeaderSize, std::ios::beg);
    in.read(static_cast<char*>(block.get()), size);
    if (!in || in.gcount() != size) {
        return fail(kBmpErrorFileRead, "File read error.");
    }

    const auto* dib = static_cast<const unsigned char*>(block.get());
    BITMAPINFOHEADER info{};
    switch (checkBitmapBlock(dib, size, info)) {
    case 0:
        break;
    case kBmpErrorDimensions:
        return fail(kBmpErrorDimensions, "Bitmap dimensions are not supported.");
    default:
        return fail(kBmpErrorPastEnd, "Bitmap data extends past the end of the file.");
    }
    if (info.biWidth == 0 || info.biHeight == 0) {
        const std::int64_t height =
            info.biHeight < 0 ? -static_cast<std::int64_t>(info.biHeight) : info.biHeight;
        image.create(info.biWidth, static_cast<int>(height), false, false, 0.0);
        return true;
    }
    if (!image.fromDib(static_cast<const BITMAPINFOHEADER*>(block.get()), size)) {
        return fail(kBmpErrorConversion, "Unable to convert DIB image to IPL image.");
    }
    if (image.nChannels() == 4 && !makeOpaqueWithoutAlpha(image)) {
        return fail(kBmpErrorMemory, "Memory allocation error.");
    }
    return true;
}
