#include "vx2Image/QimImg.h"

#include "util/diagnostics.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int kRowAlign = 8;

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

void putU32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

} // namespace

std::int64_t qimWidthStep(const QimPixelKind& kind, std::int64_t width) {
    const std::int64_t bits = width * (kind.depth & IPL_DEPTH_MASK) * kind.nChannels;
    const std::int64_t alignBits = 8 * kRowAlign;
    return (bits + alignBits - 1) / alignBits * kRowAlign;
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

bool QimImg::fromDib(const BITMAPINFOHEADER*, std::int64_t) {
    return false;
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
    h.align = kRowAlign;
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
    VX2_ASSERT(h.width > 0, kQimImgFile, 331);
    VX2_ASSERT(h.height > 0, kQimImgFile, 332);
    if (isFloatDepth(h.depth)) {
        iplAllocateImageFP(&h, fill ? 1 : 0, static_cast<float>(fillValue));
    } else {
        iplAllocateImage(&h, fill ? 1 : 0, truncatedFillValue(fillValue));
    }
    if (iplGetStatus() < 0) {
        if (iplReportStatus(IPL_StsBackTrace, "QimImgT", "Allocating image", kQimImgFile, 348) !=
            0) {
            reportError(kQimImgFile, 350, "Couldn't allocate memory");
        }
    }
}

void QimImg::createAs(const QimPixelKind& kind, int width, int height, bool allocate, bool fill,
                      double fillValue) {
    if (!prepareBody()) {
        reportError(kQimImgFile, 350, "Couldn't allocate memory");
    }
    setHeader(kind, width, height);
    if (allocate) {
        allocatePixels(fill, fillValue);
    }
}

bool QimImg::fromDibAs(const QimPixelKind& kind, const BITMAPINFOHEADER* dib,
                       std::int64_t dibSize) {
    VX2_ASSERT(dib != nullptr, kQimImgFile, 549);
    if (dibSize < static_cast<std::int64_t>(sizeof(BITMAPINFOHEADER))) {
        return false;
    }
    BITMAPINFOHEADER info;
    std::memcpy(&info, dib, sizeof info);
    // A negative height marks rows stored top-down; the image has |biHeight| rows either way.
    const std::int64_t dibWidth = info.biWidth;
    const std::int64_t dibHeight =
        info.biHeight < 0 ? -static_cast<std::int64_t>(info.biHeight) : info.biHeight;
    if (!qimImageSizeSupported(kind, dibWidth, dibHeight)) {
        return false;
    }
    const int w = static_cast<int>(dibWidth);
    const int h = static_cast<int>(dibHeight);

    if (body_ != nullptr && body_->header.depth == IPL_DEPTH_8U) {
        if (!prepareBody()) {
            return false;
        }
        setHeader(kind, w, h);
        allocatePixels(false, 0.0);
        if (!hasPixels()) {
            return false;
        }
        iplConvertFromDIB(dib, dibSize, &body_->header);
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
    iplConvertFromDIB(dib, dibSize, &grey.body_->header);
    if (iplGetStatus() != 0) {
        return false;
    }
    createAs(kind, w, h, true, false, 0.0);
    VX2_ASSERT(hasPixels(), kQimImgFile, 1707);
    VX2_ASSERT(grey.hasPixels(), kQimImgFile, 1708);
    VX2_ASSERT(width() == grey.width(), kQimImgFile, 1709);
    VX2_ASSERT(height() == grey.height(), kQimImgFile, 1710);
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
    const std::int64_t rowBytes = (h.width * bitCount + 31) / 32 * 4;
    const std::int64_t tableBytes = grey ? 256 * 4 : 0;
    const std::int64_t size = 40 + tableBytes + rowBytes * h.height;
    auto* block = static_cast<std::uint8_t*>(iplAlignedAlloc(size));
    if (block == nullptr) {
        return nullptr;
    }
    std::memset(block, 0, static_cast<std::size_t>(size));
    BITMAPINFOHEADER info{};
    info.biSize = 40;
    info.biWidth = h.width;
    info.biHeight = h.height;
    info.biPlanes = 1;
    info.biBitCount = static_cast<std::uint16_t>(bitCount);
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<std::uint32_t>(rowBytes * h.height);
    info.biClrUsed = grey ? 256 : 0;
    std::memcpy(block, &info, sizeof info);
    std::uint8_t* table = block + 40;
    for (std::uint32_t i = 0; grey && i < 256; ++i) {
        putU32(table + 4 * i, i | (i << 8) | (i << 16));
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
