// Image header, aligned storage, status codes and error reporting of the image library.
#include "image/iplImage.h"
#include "util/reportLines.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>

namespace {

constexpr const char* kFile = "iplalloc";
constexpr const char* kBadHeader = "Incorrect data-ins";

constexpr const auto& kLine = report_lines::kIplAlloc;

// The process-wide error context: current status, error mode and handler.
struct ImageErrorContext {
    int status = IPL_StsOk;
    char reason[160] = {};
    int mode = IPL_ErrModeLeaf;
    IplErrorHandler handler = iplDefaultErrorHandler;
};

ImageErrorContext& errorContext() {
    static ImageErrorContext context;
    return context;
}

bool isKnownDepth(std::int32_t depth) {
    switch (depth) {
    case IPL_DEPTH_1U:
    case IPL_DEPTH_8U:
    case IPL_DEPTH_16U:
    case IPL_DEPTH_32F:
    case IPL_DEPTH_8S:
    case IPL_DEPTH_16S:
    case IPL_DEPTH_32S:
        return true;
    default:
        return false;
    }
}

bool isKnownAlign(std::int32_t align) {
    return align == 4 || align == 8 || align == 16 || align == 32;
}

// The field checks shared by header creation, the header check and allocation. Returns 0 or
// the failing status.
int checkFields(int nChannels, int alphaChannel, int depth, const char* colorModel,
                const char* channelSeq, int dataOrder, int origin, int align, int width, int height,
                const ImageHeader* mask) {
    if (width <= 0 || height <= 0) {
        return -10;
    }
    if (nChannels <= 0) {
        return -15;
    }
    if (nChannels != 1 && depth == IPL_DEPTH_1U) {
        return -16;
    }
    if (colorModel == nullptr || channelSeq == nullptr) {
        return -14;
    }
    if (!isKnownDepth(depth)) {
        return -17;
    }
    if (alphaChannel != 0 && alphaChannel != nChannels) {
        return -18;
    }
    if (dataOrder != 0 && dataOrder != 1) {
        return -19;
    }
    if (origin != 0 && origin != 1) {
        return -20;
    }
    if (!isKnownAlign(align)) {
        return -21;
    }
    if (mask != nullptr) {
        if (mask->depth != IPL_DEPTH_1U) {
            return -117;
        }
        if (mask->tileInfo != nullptr) {
            return -26;
        }
        const int maskStatus = iplCheckImageHeader(mask);
        if (maskStatus != IPL_StsOk) {
            return maskStatus - 100;
        }
    }
    return IPL_StsOk;
}

int checkOwnFields(const ImageHeader* image) {
    return checkFields(image->nChannels, image->alphaChannel, image->depth, image->colorModel,
                       image->channelSeq, image->dataOrder, image->origin, image->align,
                       image->width, image->height, image->mask);
}

struct RowGeometry {
    std::int32_t widthStep;
    std::int32_t imageSize;
};

// Row bytes rounded up to `align`, and the pixel area, for fields that passed checkFields.
// False when either does not fit the header's 32-bit fields.
bool rowGeometry(int nChannels, int depth, int dataOrder, int align, int width, int height,
                 RowGeometry& geometry) {
    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    std::int64_t bits = std::int64_t{width} * (depth & IPL_DEPTH_MASK);
    if (dataOrder == 0) {
        if (bits > limit * 8 / nChannels) {
            return false;
        }
        bits *= nChannels;
    }
    const std::int64_t widthStep = rowStep(bits, align);
    if (widthStep > limit) {
        return false;
    }
    std::int64_t imageSize = widthStep * height;
    if (dataOrder == 1) {
        if (imageSize > limit / nChannels) {
            return false;
        }
        imageSize *= nChannels;
    }
    if (imageSize > limit) {
        return false;
    }
    geometry.widthStep = static_cast<std::int32_t>(widthStep);
    geometry.imageSize = static_cast<std::int32_t>(imageSize);
    return true;
}

// The 32-bit pattern that fills a pixel area of the given depth.
std::uint32_t fillPattern(int depth, std::uint32_t value) {
    switch (depth & IPL_DEPTH_MASK) {
    case 1:
        return (value & 1u) != 0 ? 0xFFFFFFFFu : 0u;
    case 8:
        return (value & 0xFFu) * 0x01010101u;
    case 16:
        return (value & 0xFFFFu) * 0x00010001u;
    default:
        return value;
    }
}

void fillWords(ImageHeader* image, std::uint32_t pattern) {
    auto* bytes = reinterpret_cast<unsigned char*>(image->imageData);
    const std::size_t words = static_cast<std::size_t>(image->imageSize) / 4;
    for (std::size_t i = 0; i < words; ++i) {
        std::memcpy(bytes + i * 4, &pattern, 4);
    }
}

// Shared body of iplAllocateImage and iplAllocateImageFP after their depth check.
bool allocatePixels(ImageHeader* image, const char* function, int line) {
    const int status = checkOwnFields(image);
    if (status != IPL_StsOk) {
        iplReportStatus(status, function, kBadHeader, kFile, line);
        return false;
    }
    RowGeometry geometry{};
    if (!rowGeometry(image->nChannels, image->depth, image->dataOrder, image->align, image->width,
                     image->height, geometry)) {
        iplReportStatus(-10, function, kBadHeader, kFile, line);
        return false;
    }
    const std::int64_t blockSize = std::int64_t{image->align} + geometry.imageSize - 1;
    void* block = std::malloc(static_cast<std::size_t>(blockSize));
    if (block == nullptr) {
        iplReportStatus(IPL_StsNoMem, function, "for allocate image data", kFile, line + 1);
        return false;
    }
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    const auto align = static_cast<std::uintptr_t>(image->align);
    image->dataBlock = static_cast<char*>(block);
    image->imageData = image->dataBlock + ((align - address % align) % align);
    image->imageSize = geometry.imageSize;
    image->widthStep = geometry.widthStep;
    return true;
}

// The -9 to -25 texts are stored once, with the "Mask. " prefix where a masked variant
// (code - 100) exists; the plain text skips the prefix.
constexpr std::size_t kMaskPrefix = 6;

struct StatusEntry {
    int code;
    const char* text;
    bool hasMaskVariant;
};

constexpr StatusEntry kStatusTable[] = {
    {0, "No Error", false},
    {-1, "Backtrace", false},
    {-3, "Internal error (bad state)", false},
    {-4, "Insufficient memory", false},
    {-5, "Bad argument", false},
    {-6, "Unsupported function", false},
    {-7, "Iteration convergence failed", false},
    {-8, "Autotrace call", false},
    {-9, "Null pointer to an image header", false},
    {-10, "Mask. Incorrect image size", true},
    {-11, "Mask. Incorrect offset of ROI of the image", true},
    {-12, "Mask. Image must be tiled or must have nonzero data pointer", true},
    {-13, "Mask. Incorrect widthStep of the image", true},
    {-14, "Mask. Incorrect Color model or channel sequence of the image", true},
    {-15, "Mask. Incorrect number of channels in the image", true},
    {-16, "Number of channels for 1U depth image must be one", false},
    {-17, "Mask. Incorrect depth value in the image header", true},
    {-18, "Mask. Incorrect alpha channel number in the image header", true},
    {-19, "Mask. Incorrect data order value in the image header", true},
    {-20, "Mask. Incorrect data origin value in the image header", true},
    {-21, "Mask. Incorrect data alignment value in the image header", true},
    {-22, "Null pointer to callback function", false},
    {-23, "Incorrect size of the tile", false},
    {-24, "Mask. Incorrect COI of the image", true},
    {-25, "Mask. Incorrect size of ROI in the image header", true},
    {-26, "Mask image is taled", false},
    {-27, "Null pointer", false},
    {-28, "Incorrect vector length", false},
    {-29, "Incorrect filter structure content", false},
    {-30, "Incorrect transform kernel content", false},
    {-31, "Incorrect filter ofset value", false},
};

} // namespace

void* iplAlignedAlloc(std::int64_t size) {
    constexpr std::int64_t kAlignment = 32;
    constexpr std::int64_t kSlot = static_cast<std::int64_t>(sizeof(void*));
    constexpr std::int64_t kExtra = kAlignment + kSlot;
    if (size <= 0 || size > std::numeric_limits<std::int64_t>::max() - kExtra ||
        static_cast<std::uint64_t>(size + kExtra) > std::numeric_limits<std::size_t>::max()) {
        return nullptr;
    }
    void* heapBlock = std::malloc(static_cast<std::size_t>(size + kExtra));
    if (heapBlock == nullptr) {
        return nullptr;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(heapBlock);
    const std::uintptr_t aligned =
        (start + kSlot + kAlignment - 1) & ~static_cast<std::uintptr_t>(kAlignment - 1);
    auto* block = reinterpret_cast<unsigned char*>(heapBlock) + (aligned - start);
    std::memcpy(block - kSlot, &heapBlock, sizeof(void*));
    return block;
}

void iplAlignedFree(void* block) {
    if (block == nullptr) {
        return;
    }
    void* heapBlock = nullptr;
    std::memcpy(&heapBlock, static_cast<unsigned char*>(block) - sizeof(void*), sizeof(void*));
    std::free(heapBlock);
}

ImageHeader* iplCreateImageHeader(int nChannels, int alphaChannel, int depth,
                                  const char* colorModel, const char* channelSeq, int dataOrder,
                                  int origin, int align, int width, int height, IplROI* roi,
                                  ImageHeader* mask, void* userData, IplTileInfo* tileInfo) {
    const int status = checkFields(nChannels, alphaChannel, depth, colorModel, channelSeq,
                                   dataOrder, origin, align, width, height, mask);
    if (status != IPL_StsOk) {
        iplReportStatus(status, "iplCreateImageHeader", kBadHeader, kFile, kLine.createBadField);
        return nullptr;
    }
    RowGeometry geometry{};
    if (!rowGeometry(nChannels, depth, dataOrder, align, width, height, geometry)) {
        iplReportStatus(-10, "iplCreateImageHeader", kBadHeader, kFile, kLine.createTooLarge);
        return nullptr;
    }
    auto* image = static_cast<ImageHeader*>(iplAlignedAlloc(sizeof(ImageHeader)));
    if (image == nullptr) {
        return nullptr;
    }
    std::memset(image, 0, sizeof(ImageHeader));
    image->headerSize = static_cast<std::int32_t>(sizeof(ImageHeader));
    image->version = 0;
    image->nChannels = nChannels;
    image->alphaChannel = alphaChannel;
    image->depth = depth;
    std::memcpy(image->colorModel, colorModel, 4);
    std::memcpy(image->channelSeq, channelSeq, 4);
    image->dataOrder = dataOrder;
    image->origin = origin;
    image->align = align;
    image->width = width;
    image->height = height;
    image->roi = roi;
    image->mask = mask;
    image->userData = userData;
    image->tileInfo = tileInfo;
    image->imageData = nullptr;
    image->dataBlock = nullptr;
    image->widthStep = geometry.widthStep;
    image->imageSize = geometry.imageSize;
    iplSetBorder(image, 0, IPL_SIDE_ALL, 0);
    return image;
}

void iplSetBorder(ImageHeader* image, int mode, int sides, int value) {
    if (image == nullptr) {
        return;
    }
    int low = std::numeric_limits<int>::min();
    int high = std::numeric_limits<int>::max();
    switch (image->depth) {
    case IPL_DEPTH_1U:
        low = 0;
        high = 1;
        break;
    case IPL_DEPTH_8U:
        low = 0;
        high = 255;
        break;
    case IPL_DEPTH_16U:
        low = 0;
        high = 65535;
        break;
    case IPL_DEPTH_8S:
        low = -128;
        high = 127;
        break;
    case IPL_DEPTH_16S:
        low = -32768;
        high = 32767;
        break;
    default:
        break;
    }
    const int clamped = value > high ? high : (value < low ? low : value);
    for (int side = 0; side < 4; ++side) {
        if ((sides & (1 << side)) != 0) {
            image->borderModes[side] = mode;
            image->borderValues[side] = clamped;
        }
    }
}

int iplCheckImageHeader(const ImageHeader* image) {
    const int status = [image]() -> int {
        if (image == nullptr) {
            return -9;
        }
        const bool tiled = image->tileInfo != nullptr;
        if ((image->imageData == nullptr) != tiled) {
            return -12;
        }
        if (!tiled && image->imageSize <= 0) {
            return -10;
        }
        if (!tiled && image->widthStep <= 0) {
            return -13;
        }
        const int fields = checkOwnFields(image);
        if (fields != IPL_StsOk) {
            return fields;
        }
        if (tiled) {
            const IplTileInfo* tile = image->tileInfo;
            if (tile->callBack == nullptr) {
                return -22;
            }
            if (tile->width <= 0 || tile->height <= 0 || tile->width % 8 != 0 ||
                tile->height % 8 != 0) {
                return -23;
            }
        }
        if (const IplROI* roi = image->roi; roi != nullptr) {
            if (roi->coi < 0 || roi->coi > image->nChannels) {
                return -24;
            }
            if (roi->width <= 0 || roi->height <= 0) {
                return -25;
            }
            if (roi->xOffset < 0 || roi->yOffset < 0) {
                return -11;
            }
        }
        return IPL_StsOk;
    }();
    if (status != IPL_StsOk) {
        iplSetStatus(status);
    }
    return status;
}

namespace {

// The checks of an allocating operation, each reported with its line; then the allocation.
// True when the image has its pixels.
bool allocateChecked(ImageHeader* image, const char* function, bool floatingPoint,
                     const report_lines::AllocateLines& lines) {
    if (image == nullptr) {
        iplReportStatus(IPL_StsBadArg, function, "( image == ((void *)0) )", kFile,
                        lines.nullImage);
        return false;
    }
    if (image->imageData != nullptr) {
        iplReportStatus(IPL_StsBadArg, function, "( image->imageData != ((void *)0) )", kFile,
                        lines.hasData);
        return false;
    }
    if (image->tileInfo != nullptr) {
        iplReportStatus(IPL_StsBadArg, function, "( image->tileInfo != ((void *)0) )", kFile,
                        lines.tiled);
        return false;
    }
    if ((image->depth == IPL_DEPTH_32F) != floatingPoint) {
        iplReportStatus(IPL_StsBadArg, function,
                        floatingPoint ? "( image->depth != 32 )" : "( image->depth == 32 )", kFile,
                        lines.depth);
        return false;
    }
    return allocatePixels(image, function, lines.badHeader);
}

} // namespace

void iplAllocateImage(ImageHeader* image, int fill, int fillValue) {
    if (allocateChecked(image, "iplAllocateImage", false, kLine.allocate) && fill != 0) {
        fillWords(image, fillPattern(image->depth, static_cast<std::uint32_t>(fillValue)));
    }
}

void iplAllocateImageFP(ImageHeader* image, int fill, float fillValue) {
    if (allocateChecked(image, "iplAllocateImageFP", true, kLine.allocateFp) && fill != 0) {
        std::uint32_t pattern = 0;
        std::memcpy(&pattern, &fillValue, sizeof(pattern));
        fillWords(image, pattern);
    }
}

int iplFreeImageData(ImageHeader* image) {
    if (image == nullptr) {
        return 0;
    }
    std::free(image->dataBlock);
    image->dataBlock = nullptr;
    image->imageData = nullptr;
    return 0;
}

void iplFreeImageParts(ImageHeader* image, int flags) {
    if (image == nullptr) {
        return;
    }
    if ((flags & IPL_IMAGE_ROI) != 0) {
        iplAlignedFree(image->roi);
        image->roi = nullptr;
    }
    if ((flags & IPL_IMAGE_MASK) != 0) {
        iplFreeImageParts(image->mask,
                          IPL_IMAGE_HEADER | IPL_IMAGE_DATA | IPL_IMAGE_ROI | IPL_IMAGE_TILE);
        image->mask = nullptr;
    }
    if ((flags & IPL_IMAGE_TILE) != 0) {
        iplAlignedFree(image->tileInfo);
        image->tileInfo = nullptr;
    }
    if ((flags & IPL_IMAGE_DATA) != 0) {
        iplFreeImageData(image);
    }
    if ((flags & IPL_IMAGE_HEADER) != 0) {
        iplAlignedFree(image);
    }
}

int iplGetStatus() {
    return errorContext().status;
}

void iplSetStatus(int status) {
    errorContext().status = status;
}

int iplGetErrorMode() {
    return errorContext().mode;
}

void iplSetErrorMode(int mode) {
    errorContext().mode = mode;
}

IplErrorHandler iplSetErrorHandler(IplErrorHandler handler) {
    ImageErrorContext& context = errorContext();
    const IplErrorHandler previous = context.handler;
    context.handler = handler != nullptr ? handler : iplDefaultErrorHandler;
    return previous;
}

void iplSetStatusReason(const char* reason) {
    char* text = errorContext().reason;
    if (reason == nullptr) {
        reason = "";
    }
    const std::size_t length = std::strlen(reason);
    const std::size_t kept =
        length < sizeof errorContext().reason ? length : sizeof errorContext().reason - 1;
    std::memcpy(text, reason, kept);
    text[kept] = '\0';
}

const char* iplGetStatusReason() {
    return errorContext().reason;
}

int iplReportStatus(int status, const char* functionName, const char* message, const char* file,
                    int line) {
    ImageErrorContext& context = errorContext();
    if (status != IPL_StsBackTrace && status != IPL_StsAutoTrace) {
        context.status = status;
        if (status == IPL_StsOk) {
            return 0;
        }
    }
    return context.handler(status, functionName, message, file, line);
}

int iplDefaultErrorHandler(int status, const char* /*functionName*/, const char* /*message*/,
                           const char* /*file*/, int /*line*/) {
    if (errorContext().mode == IPL_ErrModeLeaf) {
        std::cout.flush();
        std::fflush(stdout);
        std::exit(1);
    }
    return status;
}

const char* iplStatusText(int status) {
    const bool masked = status <= -109 && status >= -125;
    const int code = masked ? status + 100 : status;
    for (const StatusEntry& entry : kStatusTable) {
        if (entry.code != code) {
            continue;
        }
        if (masked) {
            return entry.hasMaskVariant ? entry.text : "Unknown error or status code";
        }
        return entry.hasMaskVariant ? entry.text + kMaskPrefix : entry.text;
    }
    return "Unknown error or status code";
}
