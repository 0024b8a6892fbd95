#include "vx2Image/qimImgBase.h"

#include "util/diagnostics.h"

#include <cstring>
#include <new>

namespace {

int pendingBodyFailures = 0;

bool bodyAllocationFails() {
    if (pendingBodyFailures > 0) {
        --pendingBodyFailures;
        return true;
    }
    return false;
}

void clearBorrowedParts(ImageHeader& header) {
    header.imageData = nullptr;
    header.dataBlock = nullptr;
    header.roi = nullptr;
    header.mask = nullptr;
    header.userData = nullptr;
    header.tileInfo = nullptr;
}

} // namespace

QimImgBase::QimImgBase() {
    std::memset(&header, 0, sizeof header); // every field and the padding between them
}

QimImgBase::QimImgBase(const QimImgBase& other, bool copyPixels) : header(other.header) {
    clearBorrowedParts(header);
    if (!copyPixels || !other.hasPixels()) {
        return;
    }
    if ((header.depth & IPL_DEPTH_MASK) == 32 && (header.depth & IPL_DEPTH_SIGN) == 0) {
        iplAllocateImageFP(&header, 0, 0.0f);
    } else {
        iplAllocateImage(&header, 0, 0);
    }
    if (header.imageData == nullptr) {
        return; // allocation refused in a returning error mode: the copy has no pixels
    }
    // Both blocks come from the same header fields, so their geometry is the same; every byte
    // of every row is carried over, the alpha channel included.
    if (header.imageSize == other.header.imageSize && header.widthStep == other.header.widthStep) {
        std::memcpy(header.imageData, other.header.imageData,
                    static_cast<std::size_t>(header.imageSize));
    } else {
        iplCopy(&other.header, &header);
    }
}

QimImgBase::~QimImgBase() {
    VX2_ASSERT(header.roi == nullptr, kQimImgBaseFile, 351);
    VX2_ASSERT(header.mask == nullptr, kQimImgBaseFile, 352);
    VX2_ASSERT(header.userData == nullptr, kQimImgBaseFile, 353);
    VX2_ASSERT(header.tileInfo == nullptr, kQimImgBaseFile, 354);
    if (header.dataBlock != nullptr) {
        iplFreeImageData(&header);
    }
}

void QimImgBase::releasePixels() {
    VX2_ASSERT(header.roi == nullptr, kQimImgBaseFile, 382);
    VX2_ASSERT(header.mask == nullptr, kQimImgBaseFile, 383);
    VX2_ASSERT(header.userData == nullptr, kQimImgBaseFile, 384);
    VX2_ASSERT(header.tileInfo == nullptr, kQimImgBaseFile, 385);
    if (header.dataBlock != nullptr) {
        iplFreeImageData(&header);
    }
}

QimImgBase* newQimImgBody() {
    if (bodyAllocationFails()) {
        return nullptr;
    }
    return new (std::nothrow) QimImgBase();
}

QimImgBase* newQimImgBody(const QimImgBase& other, bool copyPixels) {
    if (bodyAllocationFails()) {
        return nullptr;
    }
    return new (std::nothrow) QimImgBase(other, copyPixels);
}

void failNextQimImgBodyAllocations(int count) {
    pendingBodyFailures = count;
}
