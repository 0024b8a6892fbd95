// Image copy: copies the pixels of one untiled, unmasked image into another of the same depth.
#include "image/iplImage.h"
#include "util/reportLines.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr const char* kFunction = "iplCopy";
constexpr const char* kFile = "iplsce";

constexpr const auto& kLine = report_lines::kIplSce;

// Where and how one image's pixels are visited by the copy.
struct CopyView {
    unsigned char* start;   // first byte of the first processed sample
    std::int64_t bitOffset; // depth 1: bit of the first pixel within `start`'s byte run
    std::int64_t rowStep;   // bytes between rows
    std::int64_t planeStep; // bytes between channel planes (planar images)
    int width;              // columns of the region inside the image
    int height;             // rows of the region inside the image
    int channels;           // processed channels
    int nChannels;          // channels per pixel (interleaved stepping)
    bool planar;
    bool allChannels; // every channel of the pixel is processed
};

int sampleBytes(int depth) {
    const int bits = depth & IPL_DEPTH_MASK;
    return bits <= 8 ? 1 : bits / 8;
}

CopyView makeView(const ImageHeader* image) {
    CopyView view{};
    const bool planar = image->dataOrder == 1;
    const int bytes = sampleBytes(image->depth);
    std::int64_t x = 0;
    std::int64_t y = 0;
    view.width = image->width;
    view.height = image->height;
    int coi = 0;
    if (const IplROI* roi = image->roi; roi != nullptr) {
        x = roi->xOffset;
        y = roi->yOffset;
        view.width = static_cast<int>(
            std::max<std::int64_t>(0, std::min<std::int64_t>(roi->width, image->width - x)));
        view.height = static_cast<int>(
            std::max<std::int64_t>(0, std::min<std::int64_t>(roi->height, image->height - y)));
        coi = roi->coi;
    }
    view.rowStep = image->widthStep;
    view.planeStep = std::int64_t{image->widthStep} * image->height;
    view.planar = planar;
    view.nChannels = image->nChannels;
    std::int64_t offset = y * image->widthStep;
    if ((image->depth & IPL_DEPTH_MASK) == 1) {
        view.bitOffset = x % 8;
        offset += x / 8;
    } else {
        offset += x * bytes * (planar ? 1 : image->nChannels);
    }
    if (coi > 0) {
        view.channels = 1;
        offset += planar ? (coi - 1) * view.planeStep : std::int64_t{coi - 1} * bytes;
    } else if (image->alphaChannel != 0) {
        view.channels = image->nChannels - 1;
    } else {
        view.channels = image->nChannels;
    }
    view.allChannels = view.channels == image->nChannels;
    view.start = reinterpret_cast<unsigned char*>(image->imageData) + offset;
    return view;
}

void copyBits(const CopyView& src, const CopyView& dst, int width, int height) {
    for (int row = 0; row < height; ++row) {
        const unsigned char* s = src.start + row * src.rowStep;
        unsigned char* d = dst.start + row * dst.rowStep;
        for (std::int64_t col = 0; col < width; ++col) {
            const std::int64_t sb = src.bitOffset + col;
            const std::int64_t db = dst.bitOffset + col;
            const int bit = (s[sb / 8] >> (7 - sb % 8)) & 1;
            const auto maskBit = static_cast<unsigned char>(0x80u >> (db % 8));
            d[db / 8] = static_cast<unsigned char>(bit != 0 ? (d[db / 8] | maskBit)
                                                            : (d[db / 8] & ~maskBit));
        }
    }
}

// The copy's argument checks; every failed one is reported. True when the copy may go on.
bool copyArgumentsValid(const ImageHeader* source, const ImageHeader* destination) {
    if (iplCheckImageHeader(source) != IPL_StsOk) {
        iplReportStatus(iplGetStatus(), kFunction, "Incorrect Image", kFile, kLine.badSource);
        return false;
    }
    if (iplCheckImageHeader(destination) != IPL_StsOk) {
        iplReportStatus(iplGetStatus(), kFunction, "Incorrect Image", kFile, kLine.badDestination);
        return false;
    }
    if (source->depth != destination->depth) {
        iplReportStatus(IPL_StsBadArg, kFunction, "srcImage->depth != dstImage->depth", kFile,
                        kLine.depths);
    }
    if (source->origin != destination->origin) {
        iplReportStatus(IPL_StsBadArg, kFunction, "srcImage->origin != dstImage->origin", kFile,
                        kLine.origins);
    }
    if (source->dataOrder != destination->dataOrder && source->depth != IPL_DEPTH_1U &&
        !(source->nChannels == 1 && destination->nChannels == 1)) {
        iplReportStatus(IPL_StsBadArg, kFunction, "srcImage->dataOrder != dstImage->dataOrder",
                        kFile, kLine.dataOrders);
    }
    return iplGetStatus() >= 0;
}

// Copies the processed channels of `width` x `height` pixels of samples of `bytes` bytes.
void copySamples(const CopyView& src, const CopyView& dst, int width, int height,
                 std::int64_t bytes) {
    if (src.planar) {
        // One plane per processed channel, row by row.
        const std::size_t run = static_cast<std::size_t>(width * bytes);
        for (int channel = 0; channel < src.channels; ++channel) {
            for (int row = 0; row < height; ++row) {
                std::memcpy(dst.start + channel * dst.planeStep + row * dst.rowStep,
                            src.start + channel * src.planeStep + row * src.rowStep, run);
            }
        }
        return;
    }
    if (src.nChannels == dst.nChannels && src.allChannels && dst.allChannels) {
        const std::size_t run = static_cast<std::size_t>(width * bytes * src.nChannels);
        for (int row = 0; row < height; ++row) {
            std::memcpy(dst.start + row * dst.rowStep, src.start + row * src.rowStep, run);
        }
        return;
    }
    // Pixel by pixel: the processed channels only; the destination's others keep their values.
    const std::int64_t srcPixel = bytes * src.nChannels;
    const std::int64_t dstPixel = bytes * (dst.planar ? 1 : dst.nChannels);
    const std::size_t run = static_cast<std::size_t>(bytes * src.channels);
    for (int row = 0; row < height; ++row) {
        const unsigned char* s = src.start + row * src.rowStep;
        unsigned char* d = dst.start + row * dst.rowStep;
        for (int col = 0; col < width; ++col) {
            std::memcpy(d + col * dstPixel, s + col * srcPixel, run);
        }
    }
}

} // namespace

void iplCopy(const ImageHeader* source, ImageHeader* destination) {
    if (!copyArgumentsValid(source, destination) || source == destination) {
        return;
    }
    // Tiled and masked images are not copied.
    if (source->tileInfo != nullptr || destination->tileInfo != nullptr) {
        iplReportStatus(-6, kFunction, "tiled images are not supported", kFile, kLine.tiled);
        return;
    }

    const CopyView src = makeView(source);
    const CopyView dst = makeView(destination);
    if (src.channels != dst.channels) {
        iplReportStatus(IPL_StsBadArg, kFunction,
                        "Number of processed channels of srcImage != Number of processed "
                        "channels of dstImage",
                        kFile, kLine.channels);
        return;
    }
    const int width = std::min(src.width, dst.width);
    const int height = std::min(src.height, dst.height);
    if (width <= 0 || height <= 0 || src.channels <= 0) {
        return;
    }
    if ((source->depth & IPL_DEPTH_MASK) == 1) {
        copyBits(src, dst, width, height);
    } else {
        copySamples(src, dst, width, height, sampleBytes(source->depth));
    }
}
