// The image library: image header, aligned storage, status codes and error reporting.
// Every library failure goes through iplReportStatus; in the default error mode (0) that ends
// the process with exit status 1 and no text. Other modes make the failing operation return.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::int32_t IPL_DEPTH_SIGN = static_cast<std::int32_t>(0x80000000u);
constexpr std::int32_t IPL_DEPTH_MASK = 0x7FFFFFFF;
constexpr std::int32_t IPL_DEPTH_1U = 1;
constexpr std::int32_t IPL_DEPTH_8U = 8;
constexpr std::int32_t IPL_DEPTH_16U = 16;
constexpr std::int32_t IPL_DEPTH_32F = 32;
constexpr std::int32_t IPL_DEPTH_8S = IPL_DEPTH_SIGN | 8;
constexpr std::int32_t IPL_DEPTH_16S = IPL_DEPTH_SIGN | 16;
constexpr std::int32_t IPL_DEPTH_32S = IPL_DEPTH_SIGN | 32;

// Status codes (see iplStatusText for their texts).
constexpr int IPL_StsOk = 0;
constexpr int IPL_StsBackTrace = -1;
constexpr int IPL_StsInternal = -3;
constexpr int IPL_StsNoMem = -4;
constexpr int IPL_StsBadArg = -5;
constexpr int IPL_StsAutoTrace = -8;

// Error modes: 0 ends the process on any reported error; 1 makes operations return.
constexpr int IPL_ErrModeLeaf = 0;
constexpr int IPL_ErrModeParent = 1;

struct IplROI {
    std::int32_t coi;
    std::int32_t xOffset;
    std::int32_t yOffset;
    std::int32_t width;
    std::int32_t height;
};

struct ImageHeader;
using IplTileCallback = void (*)(const ImageHeader* image, int xIndex, int yIndex, int mode);

struct IplTileInfo {
    IplTileCallback callBack;
    void* id;
    char* tileData;
    std::int32_t width;
    std::int32_t height;
};

struct ImageHeader {
    std::int32_t headerSize;
    std::int32_t version;
    std::int32_t nChannels;
    std::int32_t alphaChannel;
    std::int32_t depth;
    char colorModel[4];
    char channelSeq[4];
    std::int32_t dataOrder;
    std::int32_t origin;
    std::int32_t align;
    std::int32_t width;
    std::int32_t height;
    IplROI* roi;
    ImageHeader* mask;
    void* userData;
    IplTileInfo* tileInfo;
    std::int32_t imageSize;
    char* imageData;
    std::int32_t widthStep;
    std::int32_t borderModes[4];
    std::int32_t borderValues[4];
    char* dataBlock;
};

// Flags of iplFreeImageParts.
constexpr int IPL_IMAGE_HEADER = 1;
constexpr int IPL_IMAGE_DATA = 2;
constexpr int IPL_IMAGE_ROI = 4;
constexpr int IPL_IMAGE_TILE = 8;
constexpr int IPL_IMAGE_MASK = 16;
constexpr int IPL_IMAGE_ALL =
    IPL_IMAGE_HEADER | IPL_IMAGE_DATA | IPL_IMAGE_TILE | IPL_IMAGE_ROI | IPL_IMAGE_MASK;

// Side bits of iplSetBorder.
constexpr int IPL_SIDE_TOP = 1;
constexpr int IPL_SIDE_BOTTOM = 2;
constexpr int IPL_SIDE_LEFT = 4;
constexpr int IPL_SIDE_RIGHT = 8;
constexpr int IPL_SIDE_ALL = 15;

// Bytes of row storage for rows of `rowBits` bits, each row padded to a multiple of `align`
// bytes. Bitmap rows use an alignment of 4, image rows their header's `align`.
constexpr std::int64_t rowStep(std::int64_t rowBits, std::int64_t align) {
    return (rowBits + 8 * align - 1) / (8 * align) * align;
}

// Aligned allocator: 32-byte aligned blocks; null for a size of 0 or less or when memory runs
// out. The heap block's address is kept in a pointer-sized slot just before the returned block.
void* iplAlignedAlloc(std::int64_t size);
void iplAlignedFree(void* block);

ImageHeader* iplCreateImageHeader(int nChannels, int alphaChannel, int depth,
                                  const char* colorModel, const char* channelSeq, int dataOrder,
                                  int origin, int align, int width, int height, IplROI* roi,
                                  ImageHeader* mask, void* userData, IplTileInfo* tileInfo);
void iplSetBorder(ImageHeader* image, int mode, int sides, int value);
int iplCheckImageHeader(const ImageHeader* image);

void iplAllocateImage(ImageHeader* image, int fill, int fillValue);
void iplAllocateImageFP(ImageHeader* image, int fill, float fillValue);
int iplFreeImageData(ImageHeader* image);
void iplFreeImageParts(ImageHeader* image, int flags);

// Copies the pixels of one image into another of the same depth (alpha channels left out).
void iplCopy(const ImageHeader* source, ImageHeader* destination);

// Converts a device-independent bitmap in memory into the image's pixels. `dibSize` is the
// number of bytes readable from `dib` (the whole bitmap block); nothing is read beyond it.
// BITMAPINFOHEADER names the block's start; its fields are read byte by byte.
struct BITMAPINFOHEADER;
void iplConvertFromDIB(const BITMAPINFOHEADER* dib, std::int64_t dibSize, ImageHeader* image);
// The same for a bitmap block that also knows the file's pixel-data offset.
struct DibBlock;
void iplConvertDib(const DibBlock* block, ImageHeader* image);

// Status and error reporting.
int iplGetStatus();
void iplSetStatus(int status);
int iplGetErrorMode();
// Sets the error mode (0: end the process on an error, 1: return). Test and fuzz harnesses only.
void iplSetErrorMode(int mode);
// The function that every reported error goes to; iplDefaultErrorHandler unless replaced.
using IplErrorHandler = int (*)(int status, const char* functionName, const char* message,
                                const char* file, int line);
// Installs another error handler (null restores the default) and returns the previous one.
// It lets test and fuzz harnesses observe the reports' messages and lines.
IplErrorHandler iplSetErrorHandler(IplErrorHandler handler);
// The reason, in plain words, that goes with the refusal being reported: bitmap refusals set
// it just before they report, so that an error handler can tell people why. Empty when the
// reporting operation gave none.
void iplSetStatusReason(const char* reason);
const char* iplGetStatusReason();
int iplReportStatus(int status, const char* functionName, const char* message, const char* file,
                    int line);
int iplDefaultErrorHandler(int status, const char* functionName, const char* message,
                           const char* file, int line);
const char* iplStatusText(int status);
