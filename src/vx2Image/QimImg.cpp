#include "vx2Image/QimImg.h"
#include "util/reportLines.h"

#include "util/byteOrder.h"
#include "util/diagnostics.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr const auto& kLine = report_lines::kQimImg;

int truncatedFillValue(double value) {
    if (!(value == value)) {
        return 0; // NaN
    }
    if (value >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (value <= static_cast<double>(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(value);
}

bool isFloatDepth(std::int32_t depth) {
    return depth == IPL_DEPTH_32F;
}

} // namespace

std::int64_t qimWidthStep(const QimPixelKind& kind, std::int64_t width) {
    return rowStep(width * (kind.depth & IPL_DEPTH_MASK) * kind.nChannels, kQimRowAlign);
}

bool qimImageSizeSupported(const QimPixelKind& kind, std::int64_t width, std::int64_t height) {
    if (width < 1 || height < 1 || width > kQimMaxDimension || height > kQimMaxDimension) {
        return false;
    }
    return qimWidthStep(kind, width) * height <= std::numeric_limits<std::int32_t>::max();
}

QimImg::QimImg() : body_(newQimImgBody()) {}

QimImg::QimImg(const QimImg& other) : body_(other.body_) {
    if (body_ != nullptr) {
        ++body_->refCount;
    }
}

QimImg& QimImg::operator=(const QimImg& other) {
    QimImgBase* shared = other.body_; // taken first: `other` may be this handle
    if (shared != nullptr) {
        ++shared->refCount;
    }
    release();
    body_ = shared;
    return *this;
}

QimImg::~QimImg() {
    release();
}

void QimImg::release() {
    if (body_ != nullptr && --body_->refCount <= 0) {
        delete body_;
    }
    body_ = nullptr;
}

bool QimImg::fromDib(const DibBlock&) {
    return false;
}

bool QimImg::fromDib(const BITMAPINFOHEADER* dib, std::int64_t dibSize) {
    DibBlock block;
    block.data = reinterpret_cast<const std::uint8_t*>(dib);
    block.size = dibSize;
    return fromDib(block);
}

BITMAPINFOHEADER* QimImg::toDib() const {
    return nullptr;
}

char* QimImg::unshare() {
    if (body_ == nullptr) {
        return nullptr;
    }
    if (body_->refCount <= 1) {
        return body_->header.imageData;
    }
    // The other handles keep the old body alive while the copy is made.
    QimImgBase* shared = body_;
    --shared->refCount;
    body_ = newQimImgBody(*shared, true);
    return body_ != nullptr ? body_->header.imageData : nullptr;
}

void QimImg::resetBody() {
    if (body_ == nullptr) {
        return;
    }
    if (body_->refCount > 1) {
        QimImgBase* shared = body_;
        --shared->refCount;
        body_ = newQimImgBody(*shared, false);
        return;
    }
    body_->releasePixels();
}

bool QimImg::prepareBody() {
    resetBody();
    if (body_ == nullptr) {
        body_ = newQimImgBody();
    }
    return body_ != nullptr;
}

void QimImg::setHeader(const QimPixelKind& kind, int width, int height) {
    ImageHeader& h = body_->header;
    h.headerSize = static_cast<std::int32_t>(sizeof(ImageHeader));
    h.nChannels = kind.nChannels;
    h.alphaChannel = kind.alphaChannel;
    h.depth = kind.depth;
    std::memcpy(h.colorModel, kind.colorModel, sizeof h.colorModel);
    std::memcpy(h.channelSeq, kind.channelSeq, sizeof h.channelSeq);
    h.dataOrder = 0;
    h.origin = 0;
    h.align = kQimRowAlign;
    h.width = width;
    h.height = height;
    h.roi = nullptr;
    h.mask = nullptr;
    h.userData = nullptr;
    h.tileInfo = nullptr;
    h.widthStep = 0;
    h.imageSize = 0;
    h.imageData = nullptr;
    h.dataBlock = nullptr;
}

void QimImg::allocatePixels(bool fill, double fillValue) {
    ImageHeader& h = body_->header;
    VX2_ASSERT(h.width > 0, kQimImgFile, kLine.widthAbove0);
    VX2_ASSERT(h.height > 0, kQimImgFile, kLine.heightAbove0);
    if (isFloatDepth(h.depth)) {
        iplAllocateImageFP(&h, fill ? 1 : 0, static_cast<float>(fillValue));
    } else {
        iplAllocateImage(&h, fill ? 1 : 0, truncatedFillValue(fillValue));
    }
    if (iplGetStatus() < 0) {
        if (iplReportStatus(IPL_StsBackTrace, "QimImgT", "Allocating image", kQimImgFile,
                            kLine.allocating) != 0) {
            reportError(kQimImgFile, kLine.noMemory, "Couldn't allocate memory");
        }
    }
}

void QimImg::createAs(const QimPixelKind& kind, int width, int height, bool allocate, bool fill,
                      double fillValue) {
    if (!prepareBody()) {
        reportError(kQimImgFile, kLine.noMemory, "Couldn't allocate memory");
    }
    setHeader(kind, width, height);
    if (allocate) {
        allocatePixels(fill, fillValue);
    }
}

bool QimImg::fromDibAs(const QimPixelKind& kind, const DibBlock& dib) {
    VX2_ASSERT(dib.data != nullptr, kQimImgFile, kLine.nullDib);
    // The size is taken from the header as far as it could be read; the conversion below
    // refuses whatever else is wrong with the bitmap. Top-down bitmaps have as many rows.
    DibLayout layout;
    describeDib(dib, layout);
    if (!qimImageSizeSupported(kind, layout.width, layout.height)) {
        return false;
    }
    const int w = static_cast<int>(layout.width);
    const int h = static_cast<int>(layout.height);

    if (body_ != nullptr && body_->header.depth == IPL_DEPTH_8U) {
        if (!prepareBody()) {
            return false;
        }
        setHeader(kind, w, h);
        allocatePixels(false, 0.0);
        if (!hasPixels()) {
            return false;
        }
        iplConvertDib(&dib, &body_->header);
        return iplGetStatus() == 0 && hasPixels();
    }

    // A handle without a usable pixel format: convert to grey, then widen into this kind.
    QimImg grey;
    if (grey.body_ == nullptr) {
        return false;
    }
    grey.createAs(Gray8::kind, w, h, true, false, 0.0);
    if (!grey.hasPixels()) {
        return false;
    }
    iplConvertDib(&dib, &grey.body_->header);
    if (iplGetStatus() != 0) {
        return false;
    }
    createAs(kind, w, h, true, false, 0.0);
    VX2_ASSERT(hasPixels(), kQimImgFile, kLine.greyHasPixels);
    VX2_ASSERT(grey.hasPixels(), kQimImgFile, kLine.copyHasPixels);
    VX2_ASSERT(width() == grey.width(), kQimImgFile, kLine.sameWidth);
    VX2_ASSERT(height() == grey.height(), kQimImgFile, kLine.sameHeight);
    const ImageHeader& from = grey.body_->header;
    ImageHeader& to = body_->header;
    const int channels = to.nChannels;
    for (int y = 0; y < h; ++y) {
        const auto* in = reinterpret_cast<const std::uint8_t*>(from.imageData) +
                         std::int64_t{y} * from.widthStep;
        auto* out = reinterpret_cast<std::uint8_t*>(to.imageData) + std::int64_t{y} * to.widthStep;
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < channels; ++c) {
                out[c] = (c + 1 == to.alphaChannel) ? std::uint8_t{255} : in[x];
            }
            out += channels;
        }
    }
    return true;
}

BITMAPINFOHEADER* QimImg::toDibAs(const QimPixelKind& kind) const {
    if (!hasPixels() || kind.depth != IPL_DEPTH_8U ||
        (kind.nChannels != 1 && kind.nChannels != 4)) {
        return nullptr;
    }
    const ImageHeader& h = body_->header;
    const bool grey = kind.nChannels == 1;
    const std::int64_t bitCount = grey ? 8 : 32;
    const std::int64_t rowBytes = rowStep(h.width * bitCount, 4);
    const std::int64_t tableBytes = grey ? 256 * 4 : 0;
    const std::int64_t size = kInfoHeaderSize + tableBytes + rowBytes * h.height;
    auto* block = static_cast<std::uint8_t*>(iplAlignedAlloc(size));
    if (block == nullptr) {
        return nullptr;
    }
    std::memset(block, 0, static_cast<std::size_t>(size));
    // The 40-byte info header; the fields left out (resolutions, important colours) stay 0.
    storeLe32(block, kInfoHeaderSize);
    storeLe32(block + 4, static_cast<std::uint32_t>(h.width));
    storeLe32(block + 8, static_cast<std::uint32_t>(h.height));
    storeLe16(block + 12, 1);
    storeLe16(block + 14, static_cast<std::uint32_t>(bitCount));
    storeLe32(block + 16, BI_RGB);
    storeLe32(block + 20, static_cast<std::uint32_t>(rowBytes * h.height));
    storeLe32(block + 32, grey ? 256 : 0);
    std::uint8_t* table = block + kInfoHeaderSize;
    for (std::uint32_t i = 0; grey && i < 256; ++i) {
        storeLe32(table + 4 * i, i | (i << 8) | (i << 16));
    }
    std::uint8_t* rows = table + tableBytes;
    for (int y = 0; y < h.height; ++y) {
        const auto* in =
            reinterpret_cast<const std::uint8_t*>(h.imageData) + std::int64_t{y} * h.widthStep;
        std::uint8_t* out = rows + (h.height - 1 - y) * rowBytes; // bottom-up
        if (grey) {
            std::memcpy(out, in, static_cast<std::size_t>(h.width));
            continue;
        }
        for (int x = 0; x < h.width; ++x, in += 4, out += 4) {
            out[0] = in[2]; // blue
            out[1] = in[1]; // green
            out[2] = in[0]; // red
            out[3] = in[3]; // alpha
        }
    }
    return reinterpret_cast<BITMAPINFOHEADER*>(block);
}
